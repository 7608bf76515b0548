// The LED dot-matrix display control and its scroll settings.
#include "display/untLumoMatrix.h"

#include <QBoxLayout>
#include <QEvent>
#include <QFontMetrics>
#include <QLoggingCategory>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace clavora {

Q_LOGGING_CATEGORY(lcDisplay, "clavora.display")

namespace {

// Real division rounded up, for a numerator of either sign and a positive denominator.
std::int64_t CeilDiv(std::int64_t numerator, std::int64_t denominator) {
    if (numerator >= 0) {
        return (numerator + denominator - 1) / denominator;
    }
    return -((-numerator) / denominator);
}

// Fills the part of `area` that lies inside the image.
void FillRect(QImage& image, const QRect& area, QRgb colour) {
    const QRect clipped = area.intersected(image.rect());
    if (clipped.isEmpty()) {
        return;
    }
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill_n(line + clipped.left(), clipped.width(), colour);
    }
}

// The horizontal run [Begin, End) of pixels one row of a cell covers. Both shapes are convex, so a run per row
// describes a cell completely and drawing it is a handful of fills.
struct TSpan {
    int Begin = 0;
    int End = 0;
};

std::vector<TSpan> CellStamp(int size, TLumoMatrixDisplayCellShape shape) {
    std::vector<TSpan> rows(size_t(size), TSpan{0, size});
    if (shape == TLumoMatrixDisplayCellShape::csRound) {
        // A pixel belongs to the dot when its centre lies a quarter pixel inside the circle: small dots then lose
        // their corners (a 3-pixel dot is a plus sign) instead of turning back into squares.
        const double radius = size / 2.0;
        const double limit = (radius - 0.25) * (radius - 0.25);
        for (int y = 0; y < size; ++y) {
            const double dy = y + 0.5 - radius;
            TSpan span{size, size};
            for (int x = 0; x < size; ++x) {
                const double dx = x + 0.5 - radius;
                if (dx * dx + dy * dy <= limit) {
                    span.Begin = std::min(span.Begin, x);
                    span.End = x + 1;
                }
            }
            rows[size_t(y)] = span;
        }
    }
    return rows;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// TLumoMatrixDisplayScroll

TLumoMatrixDisplayScroll::TLumoMatrixDisplayScroll(TLumoMatrixDisplay* owner) : QObject(owner), FOwner(owner) {}

bool TLumoMatrixDisplayScroll::Active() const {
    return FOwner->ScrollTimer()->isActive();
}

void TLumoMatrixDisplayScroll::SetActive(bool value) {
    // Starting a running QTimer would restart its period, so an unchanged value must not reach it.
    if (value == Active()) {
        return;
    }
    if (value) {
        FOwner->ScrollTimer()->start();
    } else {
        FOwner->ScrollTimer()->stop();
    }
}

int TLumoMatrixDisplayScroll::Interval() const {
    return FOwner->ScrollTimer()->interval();
}

void TLumoMatrixDisplayScroll::SetInterval(int value) {
    // A zero-period timer would fire on every pass of the event loop and keep a core busy scrolling.
    value = std::max(value, 1);
    if (value == Interval()) {
        return;
    }
    FOwner->ScrollTimer()->setInterval(value);
}

// ---------------------------------------------------------------------------------------------------------------
// TLumoMatrixDisplay

TLumoMatrixDisplay::TLumoMatrixDisplay(QWidget* parent) : QWidget(parent) {
    // Every pixel comes from the buffer, so Qt must never clear the control with a plain colour first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    resize(401, 81);

    FScrollTimer = new QTimer(this);
    FScrollTimer->setInterval(50);
    connect(FScrollTimer, &QTimer::timeout, this, &TLumoMatrixDisplay::ScrollTick);
    FScroll = new TLumoMatrixDisplayScroll(this);
}

TLumoMatrixDisplay::~TLumoMatrixDisplay() = default;

void TLumoMatrixDisplay::RequestRedraw() {
    FRedrawBuffer = true;
    update();
}

void TLumoMatrixDisplay::ResizeGrid(std::int64_t rows, std::int64_t cols) {
    cols = std::clamp<std::int64_t>(cols, 0, MaxGridSide);
    rows = std::clamp<std::int64_t>(rows, 0, MaxGridSide);
    if (cols > 0 && rows * cols > MaxGridCells) {
        rows = MaxGridCells / cols;
    }
    FRows = int(rows);
    FCols = int(cols);
    // Cells that stay inside keep their values; the new ones start off.
    FCells.resize(size_t(FRows));
    for (TLumoMatrixDisplayCell& row : FCells) {
        row.resize(size_t(FCols), 0);
    }
}

void TLumoMatrixDisplay::RowRange(int fromRow, int toRow, int& first, int& last) const {
    first = fromRow < 0 ? 0 : fromRow;
    last = toRow < 0 ? FRows - 1 : std::min(toRow, FRows - 1);
}

bool TLumoMatrixDisplay::GetCells(int row, int col) const {
    if (row < 0 || row >= FRows || col < 0 || col >= FCols) {
        return false;
    }
    return FCells[size_t(row)][size_t(col)] != 0;
}

void TLumoMatrixDisplay::SetCells(int row, int col, bool value) {
    if (row < 0 || row >= FRows || col < 0 || col >= FCols) {
        return;
    }
    FCells[size_t(row)][size_t(col)] = value ? 1 : 0;
}

void TLumoMatrixDisplay::LoadMask(const QImage& mask, int offsetX, int offsetY, bool inversed) {
    const int maskWidth = mask.isNull() ? 0 : mask.width();
    const int maskHeight = mask.isNull() ? 0 : mask.height();
    const std::int64_t minCols = std::int64_t(maskWidth) + offsetX;
    const std::int64_t minRows = std::int64_t(maskHeight) + offsetY;
    if (minCols > MaxGridSide || minRows > MaxGridSide) {
        qCWarning(lcDisplay) << "mask of" << maskWidth << "x" << maskHeight << "at offset" << offsetX << offsetY
                             << "does not fit the largest grid; ignored";
        return;
    }
    FMinCols = int(minCols);
    FMinRows = int(minRows);

    const int pitch = FCellSize + FCellSpace;
    const std::int64_t cols = std::max<std::int64_t>(CeilDiv(width() - 2 * std::int64_t(offsetX), pitch), FMinCols);
    const std::int64_t rows = std::max<std::int64_t>(CeilDiv(height() - 2 * std::int64_t(offsetY), pitch), FMinRows);
    ResizeGrid(rows, cols);

    // One column and one row past the image are written too, as background: a text loaded over an older one leaves
    // no stray cells right at its edge.
    for (int y = 0; y <= maskHeight; ++y) {
        const std::int64_t row = std::int64_t(offsetY) + y;
        if (row < 0 || row >= FRows) {
            continue;
        }
        TLumoMatrixDisplayCell& cells = FCells[size_t(row)];
        for (int x = 0; x <= maskWidth; ++x) {
            const std::int64_t col = std::int64_t(offsetX) + x;
            if (col < 0 || col >= FCols) {
                continue;
            }
            const bool black = x < maskWidth && y < maskHeight && (mask.pixel(x, y) & 0x00FFFFFF) == 0;
            cells[size_t(col)] = black != inversed ? 1 : 0;
        }
    }
    RequestRedraw();
}

void TLumoMatrixDisplay::LoadText(const QString& text, int offsetX, int offsetY, bool inversed) {
    // The trailing space is the gap between the end of the text and its start when it wraps around.
    const QString shown = text.endsWith(QLatin1Char(' ')) ? text : text + QLatin1Char(' ');

    QFont maskFont = font();
    maskFont.setStyleStrategy(QFont::StyleStrategy(maskFont.styleStrategy() | QFont::NoAntialias));

    // Measure on the same kind of device the text is drawn on, so the image is exactly as large as the text.
    QImage probe(1, 1, QImage::Format_RGB32);
    const QFontMetrics metrics(maskFont, &probe);
    const int textWidth = metrics.horizontalAdvance(shown);
    const int textHeight = metrics.height();

    QImage mask;
    if (textWidth > 0 && textHeight > 0) {
        QImage canvas(textWidth, textHeight, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        {
            QPainter painter(&canvas);
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setRenderHint(QPainter::TextAntialiasing, false);
            painter.setFont(maskFont);
            painter.setPen(Qt::black);
            painter.drawText(QPoint(0, metrics.ascent()), shown);
        }
        mask = canvas.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither | Qt::AvoidDither);
    }
    LoadMask(mask, offsetX, offsetY, inversed);
}

void TLumoMatrixDisplay::ClearDisplay(bool redraw, bool inversed) {
    FMinCols = -1;
    FMinRows = -1;
    for (TLumoMatrixDisplayCell& row : FCells) {
        std::fill(row.begin(), row.end(), inversed ? 1 : 0);
    }
    if (redraw) {
        RequestRedraw();
    }
}

void TLumoMatrixDisplay::ClearDisplay(int fromRow, int toRow, bool redraw) {
    const int end = std::min(toRow, FRows);
    for (int row = std::max(fromRow, 0); row < end; ++row) {
        std::fill(FCells[size_t(row)].begin(), FCells[size_t(row)].end(), 0);
    }
    if (redraw) {
        RequestRedraw();
    }
}

void TLumoMatrixDisplay::MoveCellsLeft(bool loop, int fromRow, int toRow) { MoveCells(true, loop, fromRow, toRow); }

void TLumoMatrixDisplay::MoveCellsRight(bool loop, int fromRow, int toRow) { MoveCells(false, loop, fromRow, toRow); }

void TLumoMatrixDisplay::MoveCells(bool left, bool loop, int fromRow, int toRow) {
    int first = 0;
    int last = 0;
    RowRange(fromRow, toRow, first, last);
    if (FCols > 0) {
        for (int r = first; r <= last; ++r) {
            TLumoMatrixDisplayCell& row = FCells[size_t(r)];
            if (left) {
                std::rotate(row.begin(), row.begin() + 1, row.end());
            } else {
                std::rotate(row.rbegin(), row.rbegin() + 1, row.rend());
            }
            if (!loop) {
                (left ? row.back() : row.front()) = 0;
            }
        }
    }
    RequestRedraw();
}

void TLumoMatrixDisplay::InverseCells() {
    for (TLumoMatrixDisplayCell& row : FCells) {
        for (std::uint8_t& cell : row) {
            cell = cell ? 0 : 1;
        }
    }
    RequestRedraw();
}

void TLumoMatrixDisplay::ScrollTick() {
    if (FScroll->Direction() == TLumoMatrixDisplayScrollDirection::sdLeft) {
        MoveCellsLeft(true, -1, -1);
    } else {
        MoveCellsRight(true, -1, -1);
    }
}

void TLumoMatrixDisplay::SetCellSize(int value) { ChangeProperty(FCellSize, std::max(value, 1)); }

void TLumoMatrixDisplay::SetCellSpace(int value) { ChangeProperty(FCellSpace, std::max(value, 0)); }

void TLumoMatrixDisplay::SetCellShape(TLumoMatrixDisplayCellShape value) { ChangeProperty(FCellShape, value); }

void TLumoMatrixDisplay::SetColorOff(const QColor& value) { ChangeProperty(FColorOff, value); }

void TLumoMatrixDisplay::SetColorOn(const QColor& value) { ChangeProperty(FColorOn, value); }

void TLumoMatrixDisplay::SetBorderColor(const QColor& value) { ChangeProperty(FBorder, value); }

void TLumoMatrixDisplay::SetBorderWidth(int value) { ChangeProperty(FBorderSize, std::max(value, 0)); }

void TLumoMatrixDisplay::SetRedrawEmptyCells(bool value) { ChangeProperty(FRedrawEmpty, value); }

void TLumoMatrixDisplay::SetColor(const QColor& value) { ChangeProperty(FColor, value); }

void TLumoMatrixDisplay::RebuildBuffer() {
    FRedrawBuffer = false;
    const int clientWidth = width();
    const int clientHeight = height();
    const std::int64_t innerWidth = std::int64_t(clientWidth) - 2 * std::int64_t(FBorderSize);
    const std::int64_t innerHeight = std::int64_t(clientHeight) - 2 * std::int64_t(FBorderSize);

    if (FBuffer.width() != clientWidth || FBuffer.height() != clientHeight) {
        FBuffer =
            clientWidth > 0 && clientHeight > 0 ? QImage(clientWidth, clientHeight, QImage::Format_RGB32) : QImage();
    }

    const int pitch = FCellSize + FCellSpace;
    ResizeGrid(std::max<std::int64_t>(CeilDiv(innerHeight - 2, pitch), FMinRows),
               std::max<std::int64_t>(CeilDiv(innerWidth - 2, pitch), FMinCols));
    if (FBuffer.isNull()) {
        return;
    }

    FBuffer.fill(FColor.rgb());
    const int border = int(std::min<std::int64_t>(FBorderSize, std::max(clientWidth, clientHeight)));
    if (border > 0) {
        const QRgb borderColour = FBorder.rgb();
        FillRect(FBuffer, QRect(0, 0, clientWidth, border), borderColour);
        FillRect(FBuffer, QRect(0, clientHeight - border, clientWidth, border), borderColour);
        FillRect(FBuffer, QRect(0, 0, border, clientHeight), borderColour);
        FillRect(FBuffer, QRect(clientWidth - border, 0, border, clientHeight), borderColour);
    }

    // Cells start one pixel inside the border; those past the right or bottom edge of the control are clipped, so
    // only the visible columns and rows are visited.
    const std::int64_t origin = std::int64_t(FBorderSize) + 1;
    const auto visible = [&](std::int64_t extent, int count) {
        return int(std::clamp<std::int64_t>(CeilDiv(extent - origin, pitch), 0, count));
    };
    const int visibleCols = visible(clientWidth, FCols);
    const int visibleRows = visible(clientHeight, FRows);
    const std::vector<TSpan> stamp = CellStamp(FCellSize, FCellShape);
    const QRgb onColour = FColorOn.rgb();
    const QRgb offColour = FColorOff.rgb();

    for (int r = 0; r < visibleRows; ++r) {
        const TLumoMatrixDisplayCell& cells = FCells[size_t(r)];
        const int top = int(origin + std::int64_t(r) * pitch);
        const int stampRows = std::min(FCellSize, clientHeight - top);
        for (int c = 0; c < visibleCols; ++c) {
            const bool lit = cells[size_t(c)] != 0;
            if (!lit && !FRedrawEmpty) {
                continue;
            }
            const QRgb colour = lit ? onColour : offColour;
            const int left = int(origin + std::int64_t(c) * pitch);
            for (int y = 0; y < stampRows; ++y) {
                const TSpan& span = stamp[size_t(y)];
                const int begin = left + span.Begin;
                const int end = std::min(left + span.End, clientWidth);
                if (begin < end) {
                    auto* line = reinterpret_cast<QRgb*>(FBuffer.scanLine(top + y));
                    std::fill(line + begin, line + end, colour);
                }
            }
        }
    }
}

void TLumoMatrixDisplay::Paint(QPainter& painter) {
    if (FRedrawBuffer) {
        RebuildBuffer();
    }
    if (FBuffer.isNull()) {
        return;
    }
    if (FUpdateRect.width() > 0 && FUpdateRect.height() > 0) {
        painter.drawImage(FUpdateRect.topLeft(), FBuffer, FUpdateRect);
    } else {
        painter.drawImage(QPoint(0, 0), FBuffer);
    }
}

void TLumoMatrixDisplay::paintEvent(QPaintEvent* event) {
    FUpdateRect = event->rect();
    QPainter painter(this);
    Paint(painter);
}

void TLumoMatrixDisplay::resizeEvent(QResizeEvent* event) {
    RequestRedraw();
    QWidget::resizeEvent(event);
}

void TLumoMatrixDisplay::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        RequestRedraw();
    }
    QWidget::changeEvent(event);
}

// ---------------------------------------------------------------------------------------------------------------
// The main window's display

TLumoMatrixDisplay* CreateMainWindowDisplay(QWidget* panel1) {
    if (panel1 == nullptr) {
        qCWarning(lcDisplay) << "no strip to put the display in";
        return nullptr;
    }
    auto* display = new TLumoMatrixDisplay(panel1);
    display->setObjectName(QStringLiteral("MatrixDisplay"));
    // The mask is as many cells high as the font has pixels, so the font is fixed here rather than inherited: the
    // 65-pixel strip holds 16 rows, enough for this font's line.
    QFont maskFont(QStringLiteral("DejaVu Sans"));
    maskFont.setPixelSize(11);
    display->setFont(maskFont);

    QLayout* layout = panel1->layout();
    if (layout == nullptr) {
        layout = new QVBoxLayout(panel1);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    layout->addWidget(display);
    display->setGeometry(panel1->rect());

    display->Scroll()->SetInterval(100);
    display->Scroll()->SetActive(true);
    return display;
}

void ShowDisplayText(TLumoMatrixDisplay* display, const QString& text) {
    if (display == nullptr) {
        return;
    }
    display->ClearDisplay(true, false);
    display->LoadText(text, 0, 0, false);
}

} // namespace clavora
