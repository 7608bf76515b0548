// The About dialog's pictures, drawn in code: the maker's logo, the hidden cat and the drop-down arrow.
#pragma once

#include <QPixmap>

namespace clavora::about {

// Each at logical Size, sharp for the device pixel ratio Dpr.
QPixmap logoPicture(QSize size, qreal dpr);
QPixmap catPicture(QSize size, qreal dpr);
QPixmap arrowPicture(int size, qreal dpr);

} // namespace clavora::about
