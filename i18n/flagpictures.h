// The language dialog's pictures, drawn in code: simplified flags named by country code (and "english"), the
// neutral "xx" for a language without one, the OK button's tick and the copy command's picture.
#pragma once

#include <QPixmap>
#include <QString>

namespace clavora {

// The flag of Code (see flagCodeFor) at logical Size x Size, the flag 3:2 and centred; an unknown code draws the
// neutral picture.
QPixmap flagPicture(const QString& code, int size, qreal dpr);
// True when Code has a flag of its own rather than the neutral picture.
bool hasOwnFlag(const QString& code);

QPixmap tickPicture(int size, qreal dpr);
QPixmap copyPicture(int size, qreal dpr);

} // namespace clavora
