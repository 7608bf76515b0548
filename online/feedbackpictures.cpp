// The feedback dialog's pictures. Drawn on a 32 x 32 grid and scaled, so they stay sharp at any size.
#include "online/feedbackpictures.h"

#include <QPainter>
#include <QPainterPath>

namespace clavora::online {

namespace {

template <class Draw> QPixmap drawPicture(int size, qreal dpr, Draw draw) {
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    draw(painter);
    return pixmap;
}

void drawFace(QPainter& painter, const QColor& skin, bool smiling) {
    painter.setPen(QPen(QColor(0x5a, 0x40, 0x10), 1.5));
    painter.setBrush(skin);
    painter.drawEllipse(QRectF(2, 2, 28, 28));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x30, 0x20, 0x10));
    painter.drawEllipse(QRectF(10, 10, 4, 5));
    painter.drawEllipse(QRectF(18, 10, 4, 5));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x30, 0x20, 0x10), 2, Qt::SolidLine, Qt::RoundCap));
    QPainterPath mouth;
    if (smiling) {
        mouth.moveTo(9, 19);
        mouth.quadTo(16, 27, 23, 19);
    } else {
        mouth.moveTo(9, 24);
        mouth.quadTo(16, 17, 23, 24);
    }
    painter.drawPath(mouth);
}

} // namespace

QPixmap smilingFacePicture(int size, qreal dpr) {
    return drawPicture(size, dpr, [](QPainter& p) { drawFace(p, QColor(0xff, 0xd2, 0x3c), true); });
}

QPixmap sadFacePicture(int size, qreal dpr) {
    return drawPicture(size, dpr, [](QPainter& p) { drawFace(p, QColor(0x8c, 0xb8, 0xe8), false); });
}

QPixmap envelopePicture(int size, qreal dpr) {
    return drawPicture(size, dpr, [](QPainter& p) {
        p.setPen(QPen(QColor(0x3a, 0x4a, 0x5c), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(0xf4, 0xf1, 0xe6));
        p.drawRect(QRectF(3, 8, 26, 17));
        p.setBrush(Qt::NoBrush);
        QPainterPath flap;
        flap.moveTo(3, 8);
        flap.lineTo(16, 18);
        flap.lineTo(29, 8);
        p.drawPath(flap);
        p.drawLine(QPointF(3, 25), QPointF(12, 16));
        p.drawLine(QPointF(29, 25), QPointF(20, 16));
    });
}

} // namespace clavora::online
