// The falling characters of the About dialog: a table of drops over a grid of 8 x 12 pixel cells, moved one step
// per tick. Pure: each tick returns the cells to paint, and the dialog paints them.
#pragma once

#include <QChar>
#include <QList>
#include <QRgb>
#include <QSize>
#include <QString>

#include <functional>

namespace clavora::about {

struct RainDrop {
    int column = 0;     // fixed for the drop's life
    int row = 0;        // row of the head
    int delay = 1;      // 1 to 3: the head moves down on every delay-th tick
    int brightness = 0; // 0 to 99
    QChar ch;           // the character drawn last
};

// One cell to paint, in pixels from the surface's top left corner: filled black, then Ch drawn in Colour on it
// unless Ch is null (the cell is only erased).
struct RainCell {
    int x = 0;
    int y = 0;
    QChar ch;
    QRgb colour = 0;
    friend bool operator==(const RainCell&, const RainCell&) = default;
};

struct RainColours {
    QRgb head;
    QRgb trail;
};

// The head colour of a drop of Brightness (0..99) and its dimmer trail colour: green with a little red and blue.
RainColours rainColours(int brightness);

class Rain {
public:
    static constexpr int MaxDrops = 5000;
    static constexpr int CellWidth = 8;
    static constexpr int CellHeight = 12;
    // A drop erases the cell this many rows above its head, counted round over the grid's rows + 1.
    static constexpr int TailRows = 40;
    static constexpr int TickMs = 50;
    static constexpr char16_t Characters[] = u"zem";

    // A random integer in Low..High, both included.
    using Random = std::function<int(int low, int high)>;
    explicit Rain(Random random);

    // Begins again at frame 0 over a grid for a window of OuterSize (frame included).
    void start(QSize outerSize);
    // New grid for OuterSize and new drops, two per column; the frame counter goes on.
    void reset(QSize outerSize);

    // Moves every drop one step, in table order, and returns what to paint, in order.
    QList<RainCell> tick();

    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    int frame() const { return m_frame; }
    const QList<RainDrop>& drops() const { return m_drops; }

private:
    void addDrop();
    void drawDrop(RainDrop& drop, QChar ch, QList<RainCell>& cells) const;

    Random m_random;
    QList<RainDrop> m_drops;
    int m_columns = 0;
    int m_rows = 0;
    int m_frame = 0;
};

} // namespace clavora::about
