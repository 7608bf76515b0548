// The LED dot-matrix display control and its scroll settings.
#include "display/ledmatrixdisplay.h"

#include "display/widgetnames.h"

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
std::int64_t ceilDiv(std::int64_t numerator, std::int64_t denominator) {
    if (numerator >= 0) {
        return (numerator + denominator - 1) / denominator;
    }
    return -((-numerator) / denominator);
}

// Fills the part of `area` that lies inside the image.
void fillRect(QImage& image, const QRect& area, QRgb colour) {
    const QRect clipped = area.intersected(image.rect());
    if (clipped.isEmpty()) {
        return;
    }
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill_n(line + clipped.left(), clipped.width(), colour);
    }
}

// The horizontal run [begin, end) of pixels one row of a cell covers. Both shapes are convex, so a run per row
// describes a cell completely and drawing it is a handful of fills.
struct Span {
    int begin = 0;
    int end = 0;
};

std::vector<Span> cellStamp(int size, CellShape shape) {
    std::vector<Span> rows(size_t(size), Span{0, size});
    if (shape == CellShape::Round) {
        // A pixel belongs to the dot when its centre lies a quarter pixel inside the circle: small dots then lose
        // their corners (a 3-pixel dot is a plus sign) instead of turning back into squares.
        const double radius = size / 2.0;
        const double limit = (radius - 0.25) * (radius - 0.25);
        for (int y = 0; y < size; ++y) {
            const double dy = y + 0.5 - radius;
            Span span{size, size};
            for (int x = 0; x < size; ++x) {
                const double dx = x + 0.5 - radius;
                if (dx * dx + dy * dy <= limit) {
                    span.begin = std::min(span.begin, x);
                    span.end = x + 1;
                }
            }
            rows[size_t(y)] = span;
        }
    }
    return rows;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// LedScroller

LedScroller::LedScroller(LedMatrixDisplay* owner) : QObject(owner), m_owner(owner) {}

bool LedScroller::isActive() const {
    return m_owner->scrollTimer()->isActive();
}

void LedScroller::setActive(bool value) {
    // Starting a running QTimer would restart its period, so an unchanged value must not reach it.
    if (value == isActive()) {
        return;
    }
    if (value) {
        m_owner->scrollTimer()->start();
    } else {
        m_owner->scrollTimer()->stop();
    }
}

int LedScroller::interval() const {
    return m_owner->scrollTimer()->interval();
}

void LedScroller::setInterval(int value) {
    // A zero-period timer would fire on every pass of the event loop and keep a core busy scrolling.
    value = std::max(value, 1);
    if (value == interval()) {
        return;
    }
    m_owner->scrollTimer()->setInterval(value);
}

// ---------------------------------------------------------------------------------------------------------------
// LedMatrixDisplay

LedMatrixDisplay::LedMatrixDisplay(QWidget* parent) : QWidget(parent) {
    // Every pixel comes from the buffer, so Qt must never clear the control with a plain colour first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    resize(401, 81);

    m_scrollTimer = new QTimer(this);
    m_scrollTimer->setInterval(50);
    connect(m_scrollTimer, &QTimer::timeout, this, &LedMatrixDisplay::scrollTick);
    m_scroller = new LedScroller(this);
}

LedMatrixDisplay::~LedMatrixDisplay() = default;

void LedMatrixDisplay::requestRedraw() {
    m_redrawBuffer = true;
    update();
}

void LedMatrixDisplay::resizeGrid(std::int64_t rows, std::int64_t cols) {
    cols = std::clamp<std::int64_t>(cols, 0, MaxGridSide);
    rows = std::clamp<std::int64_t>(rows, 0, MaxGridSide);
    if (cols > 0 && rows * cols > MaxGridCells) {
        rows = MaxGridCells / cols;
    }
    m_rows = int(rows);
    m_cols = int(cols);
    // Cells that stay inside keep their values; the new ones start off.
    m_cells.resize(size_t(m_rows));
    for (CellRow& row : m_cells) {
        row.resize(size_t(m_cols), 0);
    }
}

void LedMatrixDisplay::rowRange(int fromRow, int toRow, int& first, int& last) const {
    first = fromRow < 0 ? 0 : fromRow;
    last = toRow < 0 ? m_rows - 1 : std::min(toRow, m_rows - 1);
}

bool LedMatrixDisplay::cell(int row, int col) const {
    if (row < 0 || row >= m_rows || col < 0 || col >= m_cols) {
        return false;
    }
    return m_cells[size_t(row)][size_t(col)] != 0;
}

void LedMatrixDisplay::setCell(int row, int col, bool value) {
    if (row < 0 || row >= m_rows || col < 0 || col >= m_cols) {
        return;
    }
    m_cells[size_t(row)][size_t(col)] = value ? 1 : 0;
}

void LedMatrixDisplay::loadMask(const QImage& mask, int offsetX, int offsetY, bool inversed) {
    const int maskWidth = mask.isNull() ? 0 : mask.width();
    const int maskHeight = mask.isNull() ? 0 : mask.height();
    const std::int64_t minCols = std::int64_t(maskWidth) + offsetX;
    const std::int64_t minRows = std::int64_t(maskHeight) + offsetY;
    if (minCols > MaxGridSide || minRows > MaxGridSide) {
        qCWarning(lcDisplay) << "mask of" << maskWidth << "x" << maskHeight << "at offset" << offsetX << offsetY
                             << "does not fit the largest grid; ignored";
        return;
    }
    m_minCols = int(minCols);
    m_minRows = int(minRows);

    const int pitch = m_cellSize + m_cellSpace;
    const std::int64_t cols = std::max<std::int64_t>(ceilDiv(width() - 2 * std::int64_t(offsetX), pitch), m_minCols);
    const std::int64_t rows = std::max<std::int64_t>(ceilDiv(height() - 2 * std::int64_t(offsetY), pitch), m_minRows);
    resizeGrid(rows, cols);

    // One column and one row past the image are written too, as background: a text loaded over an older one leaves
    // no stray cells right at its edge.
    for (int y = 0; y <= maskHeight; ++y) {
        const std::int64_t row = std::int64_t(offsetY) + y;
        if (row < 0 || row >= m_rows) {
            continue;
        }
        CellRow& cells = m_cells[size_t(row)];
        for (int x = 0; x <= maskWidth; ++x) {
            const std::int64_t col = std::int64_t(offsetX) + x;
            if (col < 0 || col >= m_cols) {
                continue;
            }
            const bool black = x < maskWidth && y < maskHeight && (mask.pixel(x, y) & 0x00FFFFFF) == 0;
            cells[size_t(col)] = black != inversed ? 1 : 0;
        }
    }
    requestRedraw();
}

void LedMatrixDisplay::loadText(const QString& text, int offsetX, int offsetY, bool inversed) {
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
    loadMask(mask, offsetX, offsetY, inversed);
}

void LedMatrixDisplay::clearDisplay(bool redraw, bool inversed) {
    m_minCols = -1;
    m_minRows = -1;
    for (CellRow& row : m_cells) {
        std::fill(row.begin(), row.end(), inversed ? 1 : 0);
    }
    if (redraw) {
        requestRedraw();
    }
}

void LedMatrixDisplay::clearRows(int fromRow, int toRow, bool redraw) {
    const int end = std::min(toRow, m_rows);
    for (int row = std::max(fromRow, 0); row < end; ++row) {
        std::fill(m_cells[size_t(row)].begin(), m_cells[size_t(row)].end(), 0);
    }
    if (redraw) {
        requestRedraw();
    }
}

void LedMatrixDisplay::moveCellsLeft(bool loop, int fromRow, int toRow) {
    moveCells(true, loop, fromRow, toRow);
}

void LedMatrixDisplay::moveCellsRight(bool loop, int fromRow, int toRow) {
    moveCells(false, loop, fromRow, toRow);
}

void LedMatrixDisplay::moveCells(bool left, bool loop, int fromRow, int toRow) {
    int first = 0;
    int last = 0;
    rowRange(fromRow, toRow, first, last);
    if (m_cols > 0) {
        for (int r = first; r <= last; ++r) {
            CellRow& row = m_cells[size_t(r)];
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
    requestRedraw();
}

void LedMatrixDisplay::invertCells() {
    for (CellRow& row : m_cells) {
        for (std::uint8_t& cell : row) {
            cell = cell ? 0 : 1;
        }
    }
    requestRedraw();
}

void LedMatrixDisplay::scrollTick() {
    if (m_scroller->direction() == ScrollDirection::Left) {
        moveCellsLeft(true, -1, -1);
    } else {
        moveCellsRight(true, -1, -1);
    }
}

void LedMatrixDisplay::setCellSize(int value) {
    changeProperty(m_cellSize, std::max(value, 1));
}

void LedMatrixDisplay::setCellSpace(int value) {
    changeProperty(m_cellSpace, std::max(value, 0));
}

void LedMatrixDisplay::setCellShape(CellShape value) {
    changeProperty(m_cellShape, value);
}

void LedMatrixDisplay::setColorOff(const QColor& value) {
    changeProperty(m_colorOff, value);
}

void LedMatrixDisplay::setColorOn(const QColor& value) {
    changeProperty(m_colorOn, value);
}

void LedMatrixDisplay::setBorderColor(const QColor& value) {
    changeProperty(m_borderColor, value);
}

void LedMatrixDisplay::setBorderWidth(int value) {
    changeProperty(m_borderWidth, std::max(value, 0));
}

void LedMatrixDisplay::setRedrawEmptyCells(bool value) {
    changeProperty(m_redrawEmptyCells, value);
}

void LedMatrixDisplay::setColor(const QColor& value) {
    changeProperty(m_color, value);
}

void LedMatrixDisplay::rebuildBuffer() {
    m_redrawBuffer = false;
    const int clientWidth = width();
    const int clientHeight = height();
    const std::int64_t innerWidth = std::int64_t(clientWidth) - 2 * std::int64_t(m_borderWidth);
    const std::int64_t innerHeight = std::int64_t(clientHeight) - 2 * std::int64_t(m_borderWidth);

    if (m_buffer.width() != clientWidth || m_buffer.height() != clientHeight) {
        m_buffer =
            clientWidth > 0 && clientHeight > 0 ? QImage(clientWidth, clientHeight, QImage::Format_RGB32) : QImage();
    }

    const int pitch = m_cellSize + m_cellSpace;
    resizeGrid(std::max<std::int64_t>(ceilDiv(innerHeight - 2, pitch), m_minRows),
               std::max<std::int64_t>(ceilDiv(innerWidth - 2, pitch), m_minCols));
    if (m_buffer.isNull()) {
        return;
    }

    m_buffer.fill(m_color.rgb());
    const int border = int(std::min<std::int64_t>(m_borderWidth, std::max(clientWidth, clientHeight)));
    if (border > 0) {
        const QRgb borderColour = m_borderColor.rgb();
        fillRect(m_buffer, QRect(0, 0, clientWidth, border), borderColour);
        fillRect(m_buffer, QRect(0, clientHeight - border, clientWidth, border), borderColour);
        fillRect(m_buffer, QRect(0, 0, border, clientHeight), borderColour);
        fillRect(m_buffer, QRect(clientWidth - border, 0, border, clientHeight), borderColour);
    }

    // Cells start one pixel inside the border; those past the right or bottom edge of the control are clipped, so
    // only the visible columns and rows are visited.
    const std::int64_t origin = std::int64_t(m_borderWidth) + 1;
    const auto visible = [&](std::int64_t extent, int count) {
        return int(std::clamp<std::int64_t>(ceilDiv(extent - origin, pitch), 0, count));
    };
    const int visibleCols = visible(clientWidth, m_cols);
    const int visibleRows = visible(clientHeight, m_rows);
    const std::vector<Span> stamp = cellStamp(m_cellSize, m_cellShape);
    const QRgb onColour = m_colorOn.rgb();
    const QRgb offColour = m_colorOff.rgb();

    for (int r = 0; r < visibleRows; ++r) {
        const CellRow& cells = m_cells[size_t(r)];
        const int top = int(origin + std::int64_t(r) * pitch);
        const int stampRows = std::min(m_cellSize, clientHeight - top);
        for (int c = 0; c < visibleCols; ++c) {
            const bool lit = cells[size_t(c)] != 0;
            if (!lit && !m_redrawEmptyCells) {
                continue;
            }
            const QRgb colour = lit ? onColour : offColour;
            const int left = int(origin + std::int64_t(c) * pitch);
            for (int y = 0; y < stampRows; ++y) {
                const Span& span = stamp[size_t(y)];
                const int begin = left + span.begin;
                const int end = std::min(left + span.end, clientWidth);
                if (begin < end) {
                    auto* line = reinterpret_cast<QRgb*>(m_buffer.scanLine(top + y));
                    std::fill(line + begin, line + end, colour);
                }
            }
        }
    }
}

void LedMatrixDisplay::paintBuffer(QPainter& painter) {
    if (m_redrawBuffer) {
        rebuildBuffer();
    }
    if (m_buffer.isNull()) {
        return;
    }
    if (m_updateRect.width() > 0 && m_updateRect.height() > 0) {
        painter.drawImage(m_updateRect.topLeft(), m_buffer, m_updateRect);
    } else {
        painter.drawImage(QPoint(0, 0), m_buffer);
    }
}

void LedMatrixDisplay::paintEvent(QPaintEvent* event) {
    m_updateRect = event->rect();
    QPainter painter(this);
    paintBuffer(painter);
}

void LedMatrixDisplay::resizeEvent(QResizeEvent* event) {
    requestRedraw();
    QWidget::resizeEvent(event);
}

void LedMatrixDisplay::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        requestRedraw();
    }
    QWidget::changeEvent(event);
}

// ---------------------------------------------------------------------------------------------------------------
// The main window's display

LedMatrixDisplay* createMainWindowDisplay(QWidget* strip) {
    if (strip == nullptr) {
        qCWarning(lcDisplay) << "no strip to put the display in";
        return nullptr;
    }
    auto* display = new LedMatrixDisplay(strip);
    display->setObjectName(QLatin1String(widgetnames::MatrixDisplay));
    // The mask is as many cells high as the font has pixels, so the font is fixed here rather than inherited: the
    // 65-pixel strip holds 16 rows, enough for this font's line.
    QFont maskFont(QStringLiteral("DejaVu Sans"));
    maskFont.setPixelSize(11);
    display->setFont(maskFont);

    QLayout* layout = strip->layout();
    if (layout == nullptr) {
        layout = new QVBoxLayout(strip);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    layout->addWidget(display);
    display->setGeometry(strip->rect());

    display->scroller()->setInterval(100);
    display->scroller()->setActive(true);
    return display;
}

void showDisplayText(LedMatrixDisplay* display, const QString& text) {
    if (display == nullptr) {
        return;
    }
    display->clearDisplay(true, false);
    display->loadText(text, 0, 0, false);
}

} // namespace clavora
