// The About dialog's pictures. Each is drawn on a fixed design grid and scaled to the size asked for.
#include "about/aboutpictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace clavora::about {

namespace {

template <class Draw> QPixmap drawPicture(QSize size, qreal dpr, QSizeF design, Draw draw) {
    QPixmap pixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.scale(size.width() / design.width(), size.height() / design.height());
    draw(painter);
    return pixmap;
}

} // namespace

QPixmap logoPicture(QSize size, qreal dpr) {
    // The maker's name over a row of key caps, on a 688 x 210 grid.
    return drawPicture(size, dpr, QSizeF(688, 210), [](QPainter& p) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(120);
        font.setBold(true);
        font.setLetterSpacing(QFont::AbsoluteSpacing, 6);
        QPainterPath name;
        name.addText(0, 0, font, QStringLiteral("ZEMTRAK"));
        const QRectF bounds = name.boundingRect();
        name.translate((688 - bounds.width()) / 2 - bounds.left(), 130 - bounds.bottom());
        QLinearGradient fill(0, 20, 0, 130);
        fill.setColorAt(0, QColor(0xb8, 0xff, 0x6a));
        fill.setColorAt(1, QColor(0x1f, 0xa8, 0x3c));
        p.setPen(QPen(QColor(0x0b, 0x40, 0x18), 4));
        p.setBrush(fill);
        p.drawPath(name);

        constexpr int Keys = 10;
        constexpr qreal KeyWidth = 52;
        constexpr qreal Gap = 10;
        const qreal left = (688 - (Keys * KeyWidth + (Keys - 1) * Gap)) / 2;
        for (int i = 0; i < Keys; ++i) {
            const QRectF key(left + i * (KeyWidth + Gap), 150, KeyWidth, 44);
            p.setPen(QPen(QColor(0x3c, 0x8c, 0x4a), 3));
            p.setBrush(i == 3 || i == 6 ? QColor(0x7c, 0xff, 0x5a) : QColor(0x12, 0x2a, 0x16));
            p.drawRoundedRect(key, 8, 8);
        }
    });
}

QPixmap catPicture(QSize size, qreal dpr) {
    // A cat's face looking up from the bottom of a night sky, on a 320 x 214 grid.
    return drawPicture(size, dpr, QSizeF(320, 214), [](QPainter& p) {
        QLinearGradient sky(0, 0, 0, 214);
        sky.setColorAt(0, QColor(0x0c, 0x14, 0x3a));
        sky.setColorAt(1, QColor(0x3a, 0x2a, 0x5c));
        p.fillRect(QRectF(0, 0, 320, 214), sky);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xff, 0xf6, 0xc8));
        for (const QPointF star : {QPointF(30, 25), QPointF(80, 55), QPointF(250, 30), QPointF(290, 80),
                                   QPointF(200, 15), QPointF(45, 110), QPointF(280, 150)}) {
            p.drawEllipse(star, 2, 2);
        }
        p.drawEllipse(QPointF(60, 40), 16, 16); // the moon

        const QColor fur(0xf0, 0x9a, 0x3e);
        const QColor dark(0x3a, 0x22, 0x10);
        p.setPen(QPen(dark, 3));
        p.setBrush(fur);
        QPainterPath ears;
        ears.moveTo(105, 95);
        ears.lineTo(115, 30);
        ears.lineTo(150, 70);
        ears.moveTo(215, 95);
        ears.lineTo(205, 30);
        ears.lineTo(170, 70);
        p.drawPath(ears);
        p.drawEllipse(QRectF(90, 55, 140, 130));

        p.setBrush(QColor(0x9c, 0xe6, 0x5a));
        p.drawEllipse(QRectF(122, 95, 24, 28));
        p.drawEllipse(QRectF(174, 95, 24, 28));
        p.setBrush(dark);
        p.drawEllipse(QRectF(131, 99, 6, 20));
        p.drawEllipse(QRectF(183, 99, 6, 20));

        p.setBrush(QColor(0xe8, 0x6a, 0x8a));
        QPainterPath nose;
        nose.moveTo(152, 134);
        nose.lineTo(168, 134);
        nose.lineTo(160, 144);
        nose.closeSubpath();
        p.drawPath(nose);
        p.setBrush(Qt::NoBrush);
        QPainterPath mouth;
        mouth.moveTo(160, 144);
        mouth.quadTo(152, 156, 142, 150);
        mouth.moveTo(160, 144);
        mouth.quadTo(168, 156, 178, 150);
        p.drawPath(mouth);

        p.setPen(QPen(QColor(0xff, 0xff, 0xff), 2));
        for (int side : {-1, 1}) {
            for (int i = 0; i < 3; ++i) {
                p.drawLine(QPointF(160 + side * 28, 140 + i * 6), QPointF(160 + side * 78, 130 + i * 12));
            }
        }
    });
}

QPixmap arrowPicture(int size, qreal dpr) {
    // A down-pointing triangle on a 128 x 128 grid.
    return drawPicture(QSize(size, size), dpr, QSizeF(128, 128), [](QPainter& p) {
        QPainterPath arrow;
        arrow.moveTo(24, 44);
        arrow.lineTo(104, 44);
        arrow.lineTo(64, 92);
        arrow.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xff, 0xff, 0xff));
        p.drawPath(arrow);
    });
}

} // namespace clavora::about
