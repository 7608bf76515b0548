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

enum class TLumoMatrixDisplayCellShape { csSquare = 0, csRound = 1 };
enum class TLumoMatrixDisplayScrollDirection { sdLeft = 0, sdRight = 1 };

// One row of the grid, one byte per cell (non-zero = lit): a row shift is then a plain memmove.
using TLumoMatrixDisplayCell = std::vector<std::uint8_t>;
// The grid as rows of cells, addressed [Row][Col] from the top left.
using TLumomatrixDisplayCells = std::vector<TLumoMatrixDisplayCell>;

class TLumoMatrixDisplay;

// Scroll settings of one display. Active and Interval are views of the owner's scroll timer and keep no state of
// their own; setting either to the value it already has leaves the timer alone (it is not restarted).
class TLumoMatrixDisplayScroll : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(int Interval READ Interval WRITE SetInterval)
public:
    explicit TLumoMatrixDisplayScroll(TLumoMatrixDisplay* owner);

    // Which way each tick moves the picture; changing it does not repaint.
    TLumoMatrixDisplayScrollDirection Direction() const { return FDirection; }
    void SetDirection(TLumoMatrixDisplayScrollDirection value) { FDirection = value; }

    // Whether the owner's scroll timer runs.
    bool Active() const;
    void SetActive(bool value);

    // The owner's scroll timer interval in milliseconds.
    int Interval() const;
    void SetInterval(int value);

private:
    TLumoMatrixDisplay* FOwner;
    TLumoMatrixDisplayScrollDirection FDirection = TLumoMatrixDisplayScrollDirection::sdLeft;
};

// An LED dot-matrix panel. Every operation that changes the picture marks the buffer for a rebuild and schedules a
// repaint; the buffer is rebuilt from the cells only then, and a repaint without a change just copies from it.
// GUI thread only. The control reports no errors: out-of-range cell access reads as off and is otherwise ignored.
class TLumoMatrixDisplay : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int CellSize READ CellSize WRITE SetCellSize)
    Q_PROPERTY(int CellSpace READ CellSpace WRITE SetCellSpace)
    Q_PROPERTY(QColor ColorOff READ ColorOff WRITE SetColorOff)
    Q_PROPERTY(QColor ColorOn READ ColorOn WRITE SetColorOn)
    Q_PROPERTY(QColor BorderColor READ BorderColor WRITE SetBorderColor)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
    Q_PROPERTY(bool RedrawEmptyCells READ RedrawEmptyCells WRITE SetRedrawEmptyCells)
    Q_PROPERTY(QColor Color READ Color WRITE SetColor)
    Q_PROPERTY(int Cols READ Cols)
    Q_PROPERTY(int Rows READ Rows)
public:
    // Grids are capped so that a stray offset or a huge widget cannot ask for gigabytes of cells.
    static constexpr int MaxGridSide = 1 << 15;
    static constexpr std::int64_t MaxGridCells = std::int64_t(1) << 24;

    explicit TLumoMatrixDisplay(QWidget* parent = nullptr);
    ~TLumoMatrixDisplay() override;

    // Lights cells from the black pixels of `mask` (colour value 0 in red, green and blue), pixel (0, 0) at cell
    // [offsetY][offsetX]; with `inversed` the non-black pixels are lit instead. One column right of and one row below
    // the image are written as background too. The grid grows so that the whole mask fits (the mask's extent becomes
    // the lower bound of the grid until the next full ClearDisplay); cells outside the written area keep their values.
    // A mask whose extent passes MaxGridSide is refused with a warning and changes nothing.
    void LoadMask(const QImage& mask, int offsetX, int offsetY, bool inversed);
    // Renders `text` (followed by one space unless it already ends in one) in the control's font, without
    // anti-aliasing, and loads it with LoadMask. Each text pixel becomes one cell.
    void LoadText(const QString& text, int offsetX, int offsetY, bool inversed);
    // Sets every cell to `inversed` and lifts the mask's lower bounds; the grid takes its size from the control again
    // at the next paint.
    void ClearDisplay(bool redraw, bool inversed);
    // Turns off the rows fromRow up to but not including toRow; rows outside the grid are skipped.
    void ClearDisplay(int fromRow, int toRow, bool redraw);
    // Shift the rows fromRow to toRow (both included; a negative bound means the first or the last row) by one column.
    // With `loop` the cell pushed out re-enters on the other side, otherwise the freed cell is off.
    void MoveCellsLeft(bool loop, int fromRow, int toRow);
    void MoveCellsRight(bool loop, int fromRow, int toRow);
    // Flips every cell.
    void InverseCells();
    // Single-cell access; neither schedules a repaint (set RedrawBuffer or call a changing operation for that).
    bool GetCells(int row, int col) const;
    void SetCells(int row, int col, bool value);

    // One tick of the scroll timer: the whole picture moves one cell in the scroll direction, wrapping around.
    void ScrollTick();

    int CellSize() const { return FCellSize; }
    void SetCellSize(int value);
    int CellSpace() const { return FCellSpace; }
    void SetCellSpace(int value);
    TLumoMatrixDisplayCellShape CellShape() const { return FCellShape; }
    void SetCellShape(TLumoMatrixDisplayCellShape value);
    QColor ColorOff() const { return FColorOff; }
    void SetColorOff(const QColor& value);
    QColor ColorOn() const { return FColorOn; }
    void SetColorOn(const QColor& value);
    QColor BorderColor() const { return FBorder; }
    void SetBorderColor(const QColor& value);
    int BorderWidth() const { return FBorderSize; }
    void SetBorderWidth(int value);
    bool RedrawEmptyCells() const { return FRedrawEmpty; }
    void SetRedrawEmptyCells(bool value);
    // Background colour behind the cells. Kept apart from the palette so an application style sheet cannot repaint
    // the panel in the style's colours.
    QColor Color() const { return FColor; }
    void SetColor(const QColor& value);

    TLumoMatrixDisplayScroll* Scroll() const { return FScroll; }
    QTimer* ScrollTimer() const { return FScrollTimer; }

    // The area of the window being repainted, recorded at each paint request; empty means the whole control.
    QRect UpdateRect() const { return FUpdateRect; }
    void SetUpdateRect(const QRect& value) { FUpdateRect = value; }
    int Cols() const { return FCols; }
    int Rows() const { return FRows; }
    // Whether the buffer is rebuilt from the cells at the next paint.
    bool RedrawBuffer() const { return FRedrawBuffer; }
    void SetRedrawBuffer(bool value) { FRedrawBuffer = value; }

protected:
    // Rebuilds the buffer when it is stale and copies the update rectangle (or everything) from it.
    virtual void Paint(QPainter& painter);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void RequestRedraw();
    // Shifts the cells of the row range one column, the one that drops out coming back at the other end on Loop.
    void MoveCells(bool left, bool loop, int fromRow, int toRow);
    // Sets a property's field and redraws, unless it already holds that value.
    template <class T> void ChangeProperty(T& field, const T& value) {
        if (field == value) {
            return;
        }
        field = value;
        RequestRedraw();
    }
    void RebuildBuffer();
    void ResizeGrid(std::int64_t rows, std::int64_t cols);
    void RowRange(int fromRow, int toRow, int& first, int& last) const;

    int FCellSize = 3;
    int FCellSpace = 1;
    TLumoMatrixDisplayCellShape FCellShape = TLumoMatrixDisplayCellShape::csSquare;
    QColor FColorOff{58, 67, 73};
    QColor FColorOn{213, 229, 229};
    QColor FBorder{56, 66, 73};
    int FBorderSize = 1;
    QImage FBuffer;
    QRect FUpdateRect;
    bool FRedrawBuffer = true;
    bool FRedrawEmpty = true;
    int FCols = 0;
    int FRows = 0;
    TLumomatrixDisplayCells FCells;
    int FMinCols = -1;
    int FMinRows = -1;
    QTimer* FScrollTimer = nullptr;
    TLumoMatrixDisplayScroll* FScroll = nullptr;
    QColor FColor{73, 83, 88};
};

// Creates the main window's display as the only child of the top strip, filling it: object name "MatrixDisplay",
// font "DejaVu Sans" at 11 pixels, scroll timer at 100 ms and running. The caller loads the first text.
TLumoMatrixDisplay* CreateMainWindowDisplay(QWidget* panel1);

// Shows `text` from the top-left corner on a cleared display, as the main window does whenever its text changes or
// its size does: every cell off, then the text loaded at offset 0, 0, not inverted.
void ShowDisplayText(TLumoMatrixDisplay* display, const QString& text);

} // namespace clavora
