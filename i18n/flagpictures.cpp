// Simplified flags on a 48 x 32 design grid, and two small command pictures.
#include "i18n/flagpictures.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <functional>
#include <initializer_list>

namespace clavora {

namespace {

constexpr qreal W = 48;
constexpr qreal H = 32;

void horizontal(QPainter& p, std::initializer_list<QColor> colours) {
    const qreal h = H / qreal(colours.size());
    qreal y = 0;
    for (const QColor& c : colours) {
        p.fillRect(QRectF(0, y, W, h + 0.5), c);
        y += h;
    }
}

void vertical(QPainter& p, std::initializer_list<QColor> colours) {
    const qreal w = W / qreal(colours.size());
    qreal x = 0;
    for (const QColor& c : colours) {
        p.fillRect(QRectF(x, 0, w + 0.5, H), c);
        x += w;
    }
}

void nordicCross(QPainter& p, const QColor& field, const QColor& cross, qreal width) {
    p.fillRect(QRectF(0, 0, W, H), field);
    p.fillRect(QRectF(15 - width / 2, 0, width, H), cross);
    p.fillRect(QRectF(0, 16 - width / 2, W, width), cross);
}

void disc(QPainter& p, const QColor& colour, QPointF centre, qreal radius) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(centre, radius, radius);
}

void star(QPainter& p, const QColor& colour, QPointF centre, qreal radius) {
    QPainterPath path;
    for (int i = 0; i < 10; ++i) {
        const qreal r = i % 2 == 0 ? radius : radius * 0.4;
        const qreal angle = -M_PI / 2 + i * M_PI / 5;
        const QPointF point(centre.x() + r * std::cos(angle), centre.y() + r * std::sin(angle));
        i == 0 ? path.moveTo(point) : path.lineTo(point);
    }
    path.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(path);
}

void polygon(QPainter& p, const QColor& colour, std::initializer_list<QPointF> points) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(QPolygonF(QList<QPointF>(points)));
}

const QColor White(0xff, 0xff, 0xff);
const QColor Red(0xd8, 0x1e, 0x2a);
const QColor Blue(0x00, 0x38, 0x9a);
const QColor Green(0x00, 0x8c, 0x45);
const QColor Yellow(0xff, 0xcc, 0x00);
const QColor Black(0x10, 0x10, 0x10);

using Draw = std::function<void(QPainter&)>;

const QHash<QString, Draw>& flags() {
    static const QHash<QString, Draw> table{
        {QStringLiteral("english"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), QColor(0x01, 0x21, 0x69));
             p.setPen(QPen(White, 6));
             p.drawLine(QPointF(0, 0), QPointF(W, H));
             p.drawLine(QPointF(W, 0), QPointF(0, H));
             p.setPen(QPen(Red, 2));
             p.drawLine(QPointF(0, 0), QPointF(W, H));
             p.drawLine(QPointF(W, 0), QPointF(0, H));
             p.fillRect(QRectF(19, 0, 10, H), White);
             p.fillRect(QRectF(0, 11, W, 10), White);
             p.fillRect(QRectF(21, 0, 6, H), Red);
             p.fillRect(QRectF(0, 13, W, 6), Red);
         }},
        {QStringLiteral("de"),
         [](QPainter& p) {
             horizontal(p, {Black, QColor(0xdd, 0, 0), Yellow});
         }},
        {QStringLiteral("fr"),
         [](QPainter& p) {
             vertical(p, {QColor(0x00, 0x55, 0xa4), White, Red});
         }},
        {QStringLiteral("tr"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), QColor(0xe3, 0x0a, 0x17));
             disc(p, White, QPointF(18, 16), 8);
             disc(p, QColor(0xe3, 0x0a, 0x17), QPointF(20, 16), 6.4);
             star(p, White, QPointF(28, 16), 4);
         }},
        {QStringLiteral("al"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), QColor(0xe4, 0x1e, 0x20));
             polygon(p, Black, {{24, 6}, {31, 12}, {28, 26}, {24, 22}, {20, 26}, {17, 12}});
         }},
        {QStringLiteral("sa"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), QColor(0x00, 0x6c, 0x35));
             p.fillRect(QRectF(12, 12, 24, 3), White);
             p.fillRect(QRectF(12, 21, 24, 2), White);
         }},
        {QStringLiteral("bg"),
         [](QPainter& p) {
             horizontal(p, {White, QColor(0x00, 0x96, 0x6e), Red});
         }},
        {QStringLiteral("cn"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), QColor(0xde, 0x29, 0x10));
             star(p, Yellow, QPointF(8, 8), 5);
             for (const QPointF s : {QPointF(16, 3), QPointF(19, 6.5), QPointF(19, 11), QPointF(16, 14)}) {
                 star(p, Yellow, s, 1.6);
             }
         }},
        {QStringLiteral("tw"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), QColor(0xfe, 0x00, 0x00));
             p.fillRect(QRectF(0, 0, 24, 16), QColor(0x00, 0x00, 0x95));
             disc(p, White, QPointF(12, 8), 4.5);
         }},
        {QStringLiteral("cz"),
         [](QPainter& p) {
             horizontal(p, {White, QColor(0xd7, 0x14, 0x1a)});
             polygon(p, QColor(0x11, 0x45, 0x7e), {{0, 0}, {24, 16}, {0, 32}});
         }},
        {QStringLiteral("nl"),
         [](QPainter& p) {
             horizontal(p, {QColor(0xae, 0x1c, 0x28), White, QColor(0x21, 0x46, 0x8b)});
         }},
        {QStringLiteral("fi"), [](QPainter& p) { nordicCross(p, White, QColor(0x00, 0x2f, 0x6c), 8); }},
        {QStringLiteral("gr"),
         [](QPainter& p) {
             const QColor blue(0x0d, 0x5e, 0xaf);
             for (int i = 0; i < 9; ++i) {
                 p.fillRect(QRectF(0, i * H / 9, W, H / 9 + 0.5), i % 2 == 0 ? blue : White);
             }
             p.fillRect(QRectF(0, 0, 18, 5 * H / 9), blue);
             p.fillRect(QRectF(7, 0, 4, 5 * H / 9), White);
             p.fillRect(QRectF(0, 7, 18, 3.6), White);
         }},
        {QStringLiteral("il"),
         [](QPainter& p) {
             const QColor blue(0x00, 0x38, 0xb8);
             p.fillRect(QRectF(0, 0, W, H), White);
             p.fillRect(QRectF(0, 3, W, 4), blue);
             p.fillRect(QRectF(0, 25, W, 4), blue);
             p.setPen(QPen(blue, 1.5));
             p.setBrush(Qt::NoBrush);
             p.drawPolygon(QPolygonF({QPointF(24, 9), QPointF(30, 19), QPointF(18, 19)}));
             p.drawPolygon(QPolygonF({QPointF(24, 23), QPointF(30, 13), QPointF(18, 13)}));
         }},
        {QStringLiteral("hu"),
         [](QPainter& p) {
             horizontal(p, {QColor(0xcd, 0x2a, 0x3e), White, QColor(0x43, 0x6f, 0x4d)});
         }},
        {QStringLiteral("ab"),
         [](QPainter& p) {
             const QColor green(0x00, 0x99, 0x3e);
             for (int i = 0; i < 7; ++i) {
                 p.fillRect(QRectF(0, i * H / 7, W, H / 7 + 0.5), i % 2 == 0 ? green : White);
             }
             p.fillRect(QRectF(0, 0, 20, 3 * H / 7), QColor(0xc8, 0x10, 0x2e));
             disc(p, White, QPointF(10, 7), 2.5);
         }},
        {QStringLiteral("ca"),
         [](QPainter& p) {
             for (int i = 0; i < 9; ++i) {
                 p.fillRect(QRectF(0, i * H / 9, W, H / 9 + 0.5), i % 2 == 0 ? Yellow : QColor(0xda, 0x12, 0x1a));
             }
         }},
        {QStringLiteral("it"),
         [](QPainter& p) {
             vertical(p, {QColor(0x00, 0x92, 0x46), White, QColor(0xce, 0x2b, 0x37)});
         }},
        {QStringLiteral("jp"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), White);
             disc(p, QColor(0xbc, 0x00, 0x2d), QPointF(24, 16), 9.5);
         }},
        {QStringLiteral("kr"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), White);
             p.setPen(Qt::NoPen);
             p.setBrush(QColor(0xcd, 0x2e, 0x3a));
             p.drawPie(QRectF(16, 8, 16, 16), 0, 180 * 16);
             p.setBrush(QColor(0x00, 0x47, 0xa0));
             p.drawPie(QRectF(16, 8, 16, 16), 180 * 16, 180 * 16);
             for (const QPointF corner : {QPointF(6, 4), QPointF(38, 4), QPointF(6, 24), QPointF(38, 24)}) {
                 for (int i = 0; i < 3; ++i) {
                     p.fillRect(QRectF(corner.x(), corner.y() + i * 1.6, 5, 1), Black);
                 }
             }
         }},
        {QStringLiteral("ir"),
         [](QPainter& p) {
             horizontal(p, {QColor(0x23, 0x9f, 0x40), White, QColor(0xda, 0x00, 0x00)});
         }},
        {QStringLiteral("pl"),
         [](QPainter& p) {
             horizontal(p, {White, QColor(0xdc, 0x14, 0x3c)});
         }},
        {QStringLiteral("br"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), QColor(0x00, 0x9c, 0x3b));
             polygon(p, QColor(0xff, 0xdf, 0x00), {{24, 3}, {44, 16}, {24, 29}, {4, 16}});
             disc(p, QColor(0x00, 0x27, 0x76), QPointF(24, 16), 7);
         }},
        {QStringLiteral("pt"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), QColor(0xff, 0x00, 0x00));
             p.fillRect(QRectF(0, 0, 19, H), QColor(0x00, 0x66, 0x00));
             disc(p, Yellow, QPointF(19, 16), 6);
             disc(p, QColor(0xff, 0x00, 0x00), QPointF(19, 16), 3.5);
         }},
        {QStringLiteral("ro"),
         [](QPainter& p) {
             vertical(p, {QColor(0x00, 0x2b, 0x7f), QColor(0xfc, 0xd1, 0x16), QColor(0xce, 0x11, 0x26)});
         }},
        {QStringLiteral("ru"),
         [](QPainter& p) {
             horizontal(p, {White, QColor(0x00, 0x39, 0xa6), QColor(0xd5, 0x2b, 0x1e)});
         }},
        {QStringLiteral("si"),
         [](QPainter& p) {
             horizontal(p, {White, QColor(0x00, 0x00, 0x96), QColor(0xed, 0x1c, 0x24)});
             polygon(p, QColor(0x00, 0x5d, 0xa4), {{10, 6}, {18, 6}, {18, 15}, {14, 19}, {10, 15}});
         }},
        {QStringLiteral("es"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), QColor(0xaa, 0x15, 0x1b));
             p.fillRect(QRectF(0, 8, W, 16), QColor(0xf1, 0xbf, 0x00));
         }},
        {QStringLiteral("se"),
         [](QPainter& p) { nordicCross(p, QColor(0x00, 0x6a, 0xa7), QColor(0xfe, 0xcc, 0x00), 6); }},
        {QStringLiteral("ua"),
         [](QPainter& p) {
             horizontal(p, {QColor(0x00, 0x57, 0xb7), QColor(0xff, 0xd7, 0x00)});
         }},
        {QStringLiteral("vi"),
         [](QPainter& p) {
             p.fillRect(QRectF(0, 0, W, H), QColor(0xda, 0x25, 0x1d));
             star(p, QColor(0xff, 0xff, 0x00), QPointF(24, 16.5), 10);
         }},
        {QStringLiteral("sk"),
         [](QPainter& p) {
             horizontal(p, {White, QColor(0x0b, 0x4e, 0xa2), QColor(0xee, 0x1c, 0x25)});
             polygon(p, QColor(0xee, 0x1c, 0x25), {{10, 6}, {22, 6}, {22, 18}, {16, 25}, {10, 18}});
             p.fillRect(QRectF(15, 8, 2, 12), White);
             p.fillRect(QRectF(12, 12, 8, 2), White);
         }},
        {QStringLiteral("no"),
         [](QPainter& p) {
             nordicCross(p, QColor(0xba, 0x0c, 0x2f), White, 8);
             p.fillRect(QRectF(13, 0, 4, H), QColor(0x00, 0x20, 0x5b));
             p.fillRect(QRectF(0, 14, W, 4), QColor(0x00, 0x20, 0x5b));
         }},
        {QStringLiteral("in"),
         [](QPainter& p) {
             horizontal(p, {QColor(0xff, 0x99, 0x33), White, QColor(0x13, 0x88, 0x08)});
             p.setPen(QPen(QColor(0x00, 0x00, 0x80), 1.2));
             p.setBrush(Qt::NoBrush);
             p.drawEllipse(QPointF(24, 16), 4.2, 4.2);
         }},
    };
    return table;
}

void neutral(QPainter& p) {
    p.fillRect(QRectF(0, 0, W, H), QColor(0xd0, 0xd6, 0xdc));
    p.setPen(QPen(QColor(0x70, 0x7a, 0x86), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.75, 0.75, W - 1.5, H - 1.5));
    p.setPen(QPen(QColor(0x70, 0x7a, 0x86), 2));
    p.drawEllipse(QPointF(24, 16), 8, 8);
    p.drawLine(QPointF(16, 16), QPointF(32, 16));
    p.drawLine(QPointF(24, 8), QPointF(24, 24));
}

template <class Draw> QPixmap squarePicture(int size, qreal dpr, Draw draw) {
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    return pixmap;
}

} // namespace

bool hasOwnFlag(const QString& code) {
    return flags().contains(code);
}

QPixmap flagPicture(const QString& code, int size, qreal dpr) {
    return squarePicture(size, dpr, [&](QPainter& p) {
        // A 3:2 flag across the width, centred vertically, clipped to its own rectangle.
        const qreal height = size * 2.0 / 3.0;
        p.translate(0, (size - height) / 2);
        p.scale(size / W, height / H);
        p.setClipRect(QRectF(0, 0, W, H));
        const auto found = flags().constFind(code);
        if (found == flags().constEnd()) {
            neutral(p);
        } else {
            (*found)(p);
        }
    });
}

QPixmap tickPicture(int size, qreal dpr) {
    return squarePicture(size, dpr, [&](QPainter& p) {
        p.scale(size / 16.0, size / 16.0);
        p.setPen(QPen(QColor(0x1f, 0x9a, 0x3c), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath tick;
        tick.moveTo(2.5, 8.5);
        tick.lineTo(6.5, 12.5);
        tick.lineTo(13.5, 3.5);
        p.drawPath(tick);
    });
}

QPixmap copyPicture(int size, qreal dpr) {
    return squarePicture(size, dpr, [&](QPainter& p) {
        p.scale(size / 16.0, size / 16.0);
        p.setPen(QPen(QColor(0x3a, 0x4a, 0x5c), 1));
        p.setBrush(QColor(0xe8, 0xee, 0xf4));
        p.drawRect(QRectF(2.5, 2.5, 8, 9));
        p.setBrush(QColor(0xff, 0xff, 0xff));
        p.drawRect(QRectF(5.5, 4.5, 8, 9));
    });
}

} // namespace clavora
