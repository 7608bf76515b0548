// The program's icons: the menu icons drawn in code, the application icon as shipped.
#include "app/menuicons.h"

#include <QDir>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace clavora {

namespace {

const QColor Slate(0x4f, 0x64, 0x7b);
const QColor Accent(0x2f, 0x7d, 0xc1);

using DrawFunction = void (*)(QPainter&);

void drawExit(QPainter& p) {
    p.setPen(QPen(Slate, 1.4));
    p.setBrush(QColor(0xe8, 0xed, 0xf2));
    p.drawRect(QRectF(2.5, 2.5, 7, 11));
    p.setPen(QPen(QColor(0xc0, 0x39, 0x2b), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(7, 8), QPointF(14, 8));
    p.drawPolyline(QPolygonF({QPointF(11.5, 5.5), QPointF(14, 8), QPointF(11.5, 10.5)}));
}

void drawHelp(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(Accent);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(Qt::white);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
}

void drawFlag(QPainter& p) {
    p.setPen(QPen(Slate, 1.4));
    p.drawLine(QPointF(3, 1.5), QPointF(3, 15));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd9, 0x4b, 0x3d));
    p.drawRect(QRectF(3.8, 2, 10.5, 3));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.8, 5, 10.5, 2.5));
    p.setBrush(Accent);
    p.drawRect(QRectF(3.8, 7.5, 10.5, 3));
}

void drawFeedback(QPainter& p) {
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(1.5, 2, 13, 9), 2.5, 2.5);
    bubble.moveTo(4, 11);
    bubble.lineTo(4, 14.5);
    bubble.lineTo(7.5, 11);
    p.setPen(QPen(Slate, 1.2));
    p.setBrush(QColor(0xfd, 0xf6, 0xd8));
    p.drawPath(bubble.simplified());
    p.setPen(QPen(Slate, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4.5, 5.5), QPointF(11.5, 5.5));
    p.drawLine(QPointF(4.5, 8), QPointF(9.5, 8));
}

void drawAbout(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3a, 0x9a, 0x5b));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(7, 3.5, 2, 2));
    p.drawRoundedRect(QRectF(7, 6.8, 2, 6), 0.8, 0.8);
}

QIcon paint(DrawFunction draw) {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon menuIcon(const QString& name) {
    static const struct {
        const char* name;
        DrawFunction draw;
    } icons[] = {
        {"exit", drawExit}, {"help", drawHelp}, {"flag", drawFlag}, {"feedback", drawFeedback}, {"about", drawAbout}};
    for (const auto& icon : icons) {
        if (name == QLatin1String(icon.name)) {
            return paint(icon.draw);
        }
    }
    return QIcon();
}

QIcon applicationIcon() {
    // The pictures the desktop shows, rendered from the icon's drawing at build time, one per size of the icon theme.
    QIcon icon;
    const QDir folder(QStringLiteral(":/clavora/icons"));
    for (const QFileInfo& picture : folder.entryInfoList({QStringLiteral("*.png")}, QDir::Files)) {
        icon.addFile(picture.filePath());
    }
    return icon;
}

QIcon trayIcon() {
    // Drawn for 16 and 22 px, each also at twice its size for screens that scale; another size is scaled from the
    // nearest.
    QIcon icon;
    for (int size : {16, 22}) {
        icon.addFile(QStringLiteral(":/clavora/tray/%1.png").arg(size), QSize(size, size));
        icon.addFile(QStringLiteral(":/clavora/tray/%1@2x.png").arg(size), QSize(2 * size, 2 * size));
    }
    return icon;
}

} // namespace clavora
