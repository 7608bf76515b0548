// The LED dot-matrix display control: a grid of lit and unlit cells painted from an off-screen buffer, texts
// rendered in the control's font into one-bit masks, and sideways scrolling driven by the control's own timer.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <vector>

class QPainter;
class QTimer;

namespace clavora {

enum class CellShape { Square = 0, Round = 1 };
enum class ScrollDirection { Left = 0, Right = 1 };

// One row of the grid, one byte per cell (non-zero = lit): a row shift is then a plain memmove.
using CellRow = std::vector<std::uint8_t>;
// The grid as rows of cells, addressed [Row][Col] from the top left.
using CellGrid = std::vector<CellRow>;

class LedMatrixDisplay;

// Scroll settings of one display. isActive and interval are views of the owner's scroll timer and keep no state of
// their own; setting either to the value it already has leaves the timer alone (it is not restarted).
class LedScroller : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive WRITE setActive)
    Q_PROPERTY(int interval READ interval WRITE setInterval)
public:
    explicit LedScroller(LedMatrixDisplay* owner);

    // Which way each tick moves the picture; changing it does not repaint.
    ScrollDirection direction() const { return m_direction; }
    void setDirection(ScrollDirection value) { m_direction = value; }

    // Whether the owner's scroll timer runs.
    bool isActive() const;
    void setActive(bool value);

    // The owner's scroll timer interval in milliseconds.
    int interval() const;
    void setInterval(int value);

private:
    LedMatrixDisplay* m_owner;
    ScrollDirection m_direction = ScrollDirection::Left;
};

// An LED dot-matrix panel. Every operation that changes the picture marks the buffer for a rebuild and schedules a
// repaint; the buffer is rebuilt from the cells only then, and a repaint without a change just copies from it.
// GUI thread only. The control reports no errors: out-of-range cell access reads as off and is otherwise ignored.
class LedMatrixDisplay : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int cellSize READ cellSize WRITE setCellSize)
    Q_PROPERTY(int cellSpace READ cellSpace WRITE setCellSpace)
    Q_PROPERTY(QColor colorOff READ colorOff WRITE setColorOff)
    Q_PROPERTY(QColor colorOn READ colorOn WRITE setColorOn)
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)
    Q_PROPERTY(int borderWidth READ borderWidth WRITE setBorderWidth)
    Q_PROPERTY(bool redrawEmptyCells READ redrawEmptyCells WRITE setRedrawEmptyCells)
    Q_PROPERTY(QColor color READ color WRITE setColor)
    Q_PROPERTY(int cols READ cols)
    Q_PROPERTY(int rows READ rows)
public:
    // Grids are capped so that a stray offset or a huge widget cannot ask for gigabytes of cells.
    static constexpr int MaxGridSide = 1 << 15;
    static constexpr std::int64_t MaxGridCells = std::int64_t(1) << 24;

    explicit LedMatrixDisplay(QWidget* parent = nullptr);
    ~LedMatrixDisplay() override;

    // Lights cells from the black pixels of `mask` (colour value 0 in red, green and blue), pixel (0, 0) at cell
    // [offsetY][offsetX]; with `inversed` the non-black pixels are lit instead. One column right of and one row below
    // the image are written as background too. The grid grows so that the whole mask fits (the mask's extent becomes
    // the lower bound of the grid until the next full clearDisplay); cells outside the written area keep their values.
    // A mask whose extent passes MaxGridSide is refused with a warning and changes nothing.
    void loadMask(const QImage& mask, int offsetX, int offsetY, bool inversed);
    // Renders `text` (followed by one space unless it already ends in one) in the control's font, without
    // anti-aliasing, and loads it with loadMask. Each text pixel becomes one cell.
    void loadText(const QString& text, int offsetX, int offsetY, bool inversed);
    // Sets every cell to `inversed` and lifts the mask's lower bounds; the grid takes its size from the control again
    // at the next paint.
    void clearDisplay(bool redraw, bool inversed);
    // Turns off the rows fromRow up to but not including toRow; rows outside the grid are skipped.
    void clearRows(int fromRow, int toRow, bool redraw);
    // Shift the rows fromRow to toRow (both included; a negative bound means the first or the last row) by one column.
    // With `loop` the cell pushed out re-enters on the other side, otherwise the freed cell is off.
    void moveCellsLeft(bool loop, int fromRow, int toRow);
    void moveCellsRight(bool loop, int fromRow, int toRow);
    // Flips every cell.
    void invertCells();
    // Single-cell access; neither schedules a repaint (set redrawBuffer or call a changing operation for that).
    bool cell(int row, int col) const;
    void setCell(int row, int col, bool value);

    // One tick of the scroll timer: the whole picture moves one cell in the scroll direction, wrapping around.
    void scrollTick();

    int cellSize() const { return m_cellSize; }
    void setCellSize(int value);
    int cellSpace() const { return m_cellSpace; }
    void setCellSpace(int value);
    CellShape cellShape() const { return m_cellShape; }
    void setCellShape(CellShape value);
    QColor colorOff() const { return m_colorOff; }
    void setColorOff(const QColor& value);
    QColor colorOn() const { return m_colorOn; }
    void setColorOn(const QColor& value);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor& value);
    int borderWidth() const { return m_borderWidth; }
    void setBorderWidth(int value);
    bool redrawEmptyCells() const { return m_redrawEmptyCells; }
    void setRedrawEmptyCells(bool value);
    // Background colour behind the cells. Kept apart from the palette so an application style sheet cannot repaint
    // the panel in the style's colours.
    QColor color() const { return m_color; }
    void setColor(const QColor& value);

    LedScroller* scroller() const { return m_scroller; }
    QTimer* scrollTimer() const { return m_scrollTimer; }

    // The area of the window being repainted, recorded at each paint request; empty means the whole control.
    QRect updateRect() const { return m_updateRect; }
    void setUpdateRect(const QRect& value) { m_updateRect = value; }
    int cols() const { return m_cols; }
    int rows() const { return m_rows; }
    // Whether the buffer is rebuilt from the cells at the next paint.
    bool redrawBuffer() const { return m_redrawBuffer; }
    void setRedrawBuffer(bool value) { m_redrawBuffer = value; }

protected:
    // Rebuilds the buffer when it is stale and copies the update rectangle (or everything) from it.
    virtual void paintBuffer(QPainter& painter);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void requestRedraw();
    // Shifts the cells of the row range one column, the one that drops out coming back at the other end on Loop.
    void moveCells(bool left, bool loop, int fromRow, int toRow);
    // Sets a property's field and redraws, unless it already holds that value.
    template <class T> void changeProperty(T& field, const T& value) {
        if (field == value) {
            return;
        }
        field = value;
        requestRedraw();
    }
    void rebuildBuffer();
    void resizeGrid(std::int64_t rows, std::int64_t cols);
    void rowRange(int fromRow, int toRow, int& first, int& last) const;

    int m_cellSize = 3;
    int m_cellSpace = 1;
    CellShape m_cellShape = CellShape::Square;
    QColor m_colorOff{58, 67, 73};
    QColor m_colorOn{213, 229, 229};
    QColor m_borderColor{56, 66, 73};
    int m_borderWidth = 1;
    QImage m_buffer;
    QRect m_updateRect;
    bool m_redrawBuffer = true;
    bool m_redrawEmptyCells = true;
    int m_cols = 0;
    int m_rows = 0;
    CellGrid m_cells;
    int m_minCols = -1;
    int m_minRows = -1;
    QTimer* m_scrollTimer = nullptr;
    LedScroller* m_scroller = nullptr;
    QColor m_color{73, 83, 88};
};

// Creates the main window's display as the only child of the top strip, filling it: object name
// widgetnames::MatrixDisplay, font "DejaVu Sans" at 11 pixels, scroll timer at 100 ms and running. The caller loads the
// first text.
LedMatrixDisplay* createMainWindowDisplay(QWidget* strip);

// Shows `text` from the top-left corner on a cleared display, as the main window does whenever its text changes or
// its size does: every cell off, then the text loaded at offset 0, 0, not inverted.
void showDisplayText(LedMatrixDisplay* display, const QString& text);

} // namespace clavora
