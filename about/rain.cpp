// The falling characters of the About dialog.
#include "about/rain.h"

namespace clavora::about {

RainColours rainColours(int brightness) {
    const int b = brightness * 255 / 100;
    const int t = b / 3;
    return {qRgb(b * 150 / 255, b, b * 100 / 255), qRgb(t * 150 / 255, t, t * 100 / 255)};
}

Rain::Rain(Random random) : m_random(std::move(random)) {}

void Rain::start(QSize outerSize) {
    m_frame = 0;
    reset(outerSize);
}

void Rain::reset(QSize outerSize) {
    m_columns = std::max(0, outerSize.width()) / CellWidth;
    m_rows = std::max(0, outerSize.height()) / CellHeight;
    m_drops.clear();
    // A window too small for one cell has no columns to put drops in.
    if (m_columns == 0 || m_rows == 0) {
        return;
    }
    for (int i = 0; i < 2 * m_columns; ++i) {
        addDrop();
    }
}

void Rain::addDrop() {
    if (m_drops.size() >= MaxDrops) {
        return;
    }
    RainDrop drop;
    drop.column = int(m_drops.size()) % m_columns;
    drop.row = m_random(0, m_rows - 1);
    drop.delay = m_random(1, 3);
    drop.brightness = m_random(0, 99);
    m_drops.append(drop);
}

QList<RainCell> Rain::tick() {
    QList<RainCell> cells;
    cells.reserve(m_drops.size() * 3);
    const int characterCount = int(std::size(Characters)) - 1;
    for (RainDrop& drop : m_drops) {
        const QChar ch(Characters[m_random(0, characterCount - 1)]);
        drawDrop(drop, ch, cells);
        if (m_frame % drop.delay == 0) {
            ++drop.row;
            if (drop.row > m_rows + 1) {
                drop.row = 0;
                drop.delay = m_random(1, 3);
                drop.brightness = m_random(0, 99);
            }
        }
    }
    ++m_frame;
    return cells;
}

void Rain::drawDrop(RainDrop& drop, QChar ch, QList<RainCell>& cells) const {
    drop.ch = ch;
    const int x = drop.column * CellWidth;
    int tail = drop.row - TailRows;
    while (tail < 0) {
        tail += m_rows + 1;
    }
    cells.append({x, tail * CellHeight, QChar(), qRgb(0, 0, 0)});
    const RainColours colours = rainColours(drop.brightness);
    if (drop.row > 0) {
        // The cell above the head shows the new character, dimmed.
        cells.append({x, (drop.row - 1) * CellHeight, drop.ch, colours.trail});
    }
    cells.append({x, drop.row * CellHeight, ch, colours.head});
}

} // namespace clavora::about
