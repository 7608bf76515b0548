// The feedback dialog's pictures, drawn in code: a smiling face, a sad face and an envelope.
#pragma once

#include <QPixmap>

namespace clavora::online {

// Logical size Size (square), drawn sharp for the device pixel ratio Dpr, transparent around the figure.
QPixmap smilingFacePicture(int size, qreal dpr);
QPixmap sadFacePicture(int size, qreal dpr);
QPixmap envelopePicture(int size, qreal dpr);

} // namespace clavora::online
