// Tests of the LED dot-matrix display control: the cell grid and its operations, text masks, scrolling, painting
// from the buffer, and the main window's use of it.
#include "display/ledmatrixdisplay.h"
#include "display/widgetnames.h"
#include "tests/support/testsupport.h"

#include <QFontMetrics>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <random>

namespace widgetnames = clavora::widgetnames;

namespace clavora {
namespace {

// The grid as text rows of '#' and '.', so a failure shows the picture.
std::vector<std::string> picture(const LedMatrixDisplay& display) {
    std::vector<std::string> rows;
    for (int r = 0; r < display.rows(); ++r) {
        std::string row;
        for (int c = 0; c < display.cols(); ++c) {
            row += display.cell(r, c) ? '#' : '.';
        }
        rows.push_back(row);
    }
    return rows;
}

int litCount(const LedMatrixDisplay& display) {
    int count = 0;
    for (int r = 0; r < display.rows(); ++r) {
        for (int c = 0; c < display.cols(); ++c) {
            count += display.cell(r, c) ? 1 : 0;
        }
    }
    return count;
}

// The widget as it shows on screen.
QImage render(LedMatrixDisplay& display) {
    if (display.size().isEmpty()) {
        return QImage();
    }
    QImage image(display.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    display.render(&image);
    return image;
}

QColor pixelAt(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

// A mask image from rows of '#' (black) and '.' (white).
QImage maskFrom(const std::vector<std::string>& rows) {
    QImage image(int(rows.front().size()), int(rows.size()), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, rows[size_t(y)][size_t(x)] == '#' ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        }
    }
    return image;
}

QFont mainFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    return font;
}

// Draws a text the way any Qt program would, black on white without anti-aliasing: the reference a mask must match.
QImage referenceText(const QString& text, const QFont& font) {
    QFont aliased = font;
    aliased.setStyleStrategy(QFont::NoAntialias);
    QImage probe(1, 1, QImage::Format_RGB32);
    QFontMetrics metrics(aliased, &probe);
    QImage image(metrics.horizontalAdvance(text), metrics.height(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(aliased);
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, 0, image.width(), image.height()), Qt::AlignLeft | Qt::AlignTop, text);
    return image;
}

// A display with a known grid: `rows` x `cols` cells (at least 1 x 1), sized from nothing but a mask so the control's
// size does not enter. Every cell starts off.
void makeGrid(LedMatrixDisplay& display, int rows, int cols) {
    display.resize(1, 1);
    display.loadMask(maskFrom(std::vector<std::string>(size_t(rows), std::string(size_t(cols), '.'))), 0, 0, false);
    ASSERT_EQ(display.rows(), rows);
    ASSERT_EQ(display.cols(), cols);
}

void fillRandom(LedMatrixDisplay& display, unsigned seed) {
    std::mt19937 random(seed);
    for (int r = 0; r < display.rows(); ++r) {
        for (int c = 0; c < display.cols(); ++c) {
            display.setCell(r, c, random() % 3 == 0);
        }
    }
}

TEST(MatrixDisplay, StartsWithTheDocumentedDefaults) {
    LedMatrixDisplay display;
    EXPECT_EQ(display.size(), QSize(401, 81));
    EXPECT_EQ(display.cellSize(), 3);
    EXPECT_EQ(display.cellSpace(), 1);
    EXPECT_EQ(display.cellShape(), CellShape::Square);
    EXPECT_EQ(display.colorOff(), QColor(58, 67, 73));
    EXPECT_EQ(display.colorOn(), QColor(213, 229, 229));
    EXPECT_EQ(display.borderColor(), QColor(56, 66, 73));
    EXPECT_EQ(display.color(), QColor(73, 83, 88));
    EXPECT_EQ(display.borderWidth(), 1);
    EXPECT_TRUE(display.redrawEmptyCells());
    EXPECT_TRUE(display.redrawBuffer());
    EXPECT_EQ(display.cols(), 0);
    EXPECT_EQ(display.rows(), 0);
    EXPECT_TRUE(display.testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_EQ(display.focusPolicy(), Qt::StrongFocus);
    ASSERT_NE(display.scrollTimer(), nullptr);
    EXPECT_FALSE(display.scrollTimer()->isActive());
    EXPECT_EQ(display.scrollTimer()->interval(), 50);
    EXPECT_EQ(display.scroller()->direction(), ScrollDirection::Left);
    EXPECT_FALSE(display.scroller()->isActive());
    EXPECT_EQ(display.scroller()->interval(), 50);
}

TEST(MatrixDisplay, SettersRaiseValuesToTheirMinimum) {
    struct Case {
        const char* name;
        void (LedMatrixDisplay::*set)(int);
        int (LedMatrixDisplay::*get)() const;
        int given;
        int expected;
    };
    const Case cases[] = {
        {"cellSize 0", &LedMatrixDisplay::setCellSize, &LedMatrixDisplay::cellSize, 0, 1},
        {"cellSize -7", &LedMatrixDisplay::setCellSize, &LedMatrixDisplay::cellSize, -7, 1},
        {"cellSize 1", &LedMatrixDisplay::setCellSize, &LedMatrixDisplay::cellSize, 1, 1},
        {"cellSize 6", &LedMatrixDisplay::setCellSize, &LedMatrixDisplay::cellSize, 6, 6},
        {"cellSpace -5", &LedMatrixDisplay::setCellSpace, &LedMatrixDisplay::cellSpace, -5, 0},
        {"cellSpace 0", &LedMatrixDisplay::setCellSpace, &LedMatrixDisplay::cellSpace, 0, 0},
        {"cellSpace 4", &LedMatrixDisplay::setCellSpace, &LedMatrixDisplay::cellSpace, 4, 4},
        {"borderWidth -5", &LedMatrixDisplay::setBorderWidth, &LedMatrixDisplay::borderWidth, -5, 0},
        {"borderWidth 3", &LedMatrixDisplay::setBorderWidth, &LedMatrixDisplay::borderWidth, 3, 3},
    };
    for (const Case& c : cases) {
        LedMatrixDisplay display;
        render(display);
        ASSERT_FALSE(display.redrawBuffer());
        (display.*c.set)(c.given);
        EXPECT_EQ((display.*c.get)(), c.expected) << c.name;
        EXPECT_TRUE(display.redrawBuffer()) << c.name;
    }
}

TEST(MatrixDisplay, UnchangedValuesDoNotInvalidateTheBuffer) {
    LedMatrixDisplay display;
    render(display);
    display.setCellSize(3);
    display.setCellSpace(1);
    display.setBorderWidth(1);
    display.setCellShape(CellShape::Square);
    display.setColorOn(QColor(213, 229, 229));
    display.setColorOff(QColor(58, 67, 73));
    display.setBorderColor(QColor(56, 66, 73));
    display.setColor(QColor(73, 83, 88));
    display.setRedrawEmptyCells(true);
    display.scroller()->setDirection(ScrollDirection::Right);
    EXPECT_FALSE(display.redrawBuffer());

    display.setColorOn(Qt::red);
    EXPECT_TRUE(display.redrawBuffer());
    render(display);
    display.setFont(QFont(QStringLiteral("DejaVu Sans"), 20));
    EXPECT_TRUE(display.redrawBuffer());
}

TEST(MatrixDisplay, ScrollActiveAndIntervalDriveTheOwnersTimer) {
    LedMatrixDisplay display;
    display.scroller()->setInterval(100);
    EXPECT_EQ(display.scrollTimer()->interval(), 100);
    display.scroller()->setActive(true);
    ASSERT_TRUE(display.scrollTimer()->isActive());
    const int timerId = display.scrollTimer()->timerId();

    // The same values again must not restart the period: a restarted QTimer gets a new id.
    display.scroller()->setActive(true);
    display.scroller()->setInterval(100);
    EXPECT_EQ(display.scrollTimer()->timerId(), timerId);

    display.scrollTimer()->stop();
    EXPECT_FALSE(display.scroller()->isActive());
    display.scroller()->setInterval(0);
    EXPECT_EQ(display.scroller()->interval(), 1) << "a zero period would spin the event loop";
}

TEST(MatrixDisplay, TheTimerScrollsThePicture) {
    LedMatrixDisplay display;
    makeGrid(display, 2, 10);
    display.setCell(0, 5, true);
    display.scroller()->setInterval(5);
    display.scroller()->setActive(true);
    EXPECT_TRUE(test::waitFor([&] { return !display.cell(0, 5); }, 2000));
    display.scroller()->setActive(false);
    EXPECT_EQ(litCount(display), 1);
}

TEST(MatrixDisplay, LoadTextLightsExactlyTheBlackPixelsOfTheTextAndOneSpace) {
    LedMatrixDisplay display;
    display.setFont(mainFont());
    display.resize(646, 65);
    display.clearDisplay(false, false);
    display.loadText(QStringLiteral("Silent"), 0, 0, false);

    const QImage reference = referenceText(QStringLiteral("Silent "), mainFont());
    ASSERT_GT(reference.width(), 20);
    int black = 0;
    for (int r = 0; r < display.rows(); ++r) {
        for (int c = 0; c < display.cols(); ++c) {
            const bool expected =
                c < reference.width() && r < reference.height() && (reference.pixel(c, r) & 0xFFFFFF) == 0;
            black += expected ? 1 : 0;
            ASSERT_EQ(display.cell(r, c), expected) << "row " << r << " col " << c;
        }
    }
    EXPECT_GT(black, 30);
}

TEST(MatrixDisplay, LoadTextAddsOneSpaceOnlyWhenTheTextLacksOne) {
    const QFont font = mainFont();
    QImage probe(1, 1, QImage::Format_RGB32);
    QFontMetrics metrics(
        [&] {
            QFont f = font;
            f.setStyleStrategy(QFont::NoAntialias);
            return f;
        }(),
        &probe);
    struct Case {
        QString text;
        QString shown;
    };
    const Case cases[] = {
        {QStringLiteral("Silent"), QStringLiteral("Silent ")},
        {QStringLiteral("Silent "), QStringLiteral("Silent ")},
        {QString(), QStringLiteral(" ")},
    };
    for (const Case& c : cases) {
        // A control smaller than the text: the grid then has exactly the text's size.
        LedMatrixDisplay display;
        display.setFont(font);
        display.resize(4, 4);
        display.loadText(c.text, 0, 0, false);
        EXPECT_EQ(display.cols(), metrics.horizontalAdvance(c.shown)) << c.text.toStdString();
        EXPECT_EQ(display.rows(), metrics.height()) << c.text.toStdString();
    }
    EXPECT_NE(metrics.horizontalAdvance(QStringLiteral("Silent  ")), metrics.horizontalAdvance("Silent "));
}

TEST(MatrixDisplay, TextWiderThanTheControlWidensTheGridAndPassesByWhole) {
    LedMatrixDisplay display;
    display.setFont(mainFont());
    display.resize(120, 65);
    const QString text = QStringLiteral("Press any key to play a sound");
    const QImage reference = referenceText(text + QLatin1Char(' '), mainFont());
    ASSERT_GT(reference.width(), 120);

    display.loadText(text, 3, 2, false);
    EXPECT_EQ(display.cols(), reference.width() + 3);
    render(display);
    EXPECT_EQ(display.cols(), reference.width() + 3) << "painting must not cut the text";
    EXPECT_EQ(display.rows(), 16);

    // Every column of the text passes the left edge once in a full turn.
    const auto before = picture(display);
    std::vector<bool> columnSeen(size_t(display.cols()), false);
    for (int tick = 0; tick < display.cols(); ++tick) {
        for (int r = 0; r < display.rows(); ++r) {
            if (display.cell(r, 0)) {
                columnSeen[size_t(tick)] = true;
            }
        }
        display.scrollTick();
    }
    EXPECT_EQ(picture(display), before);
    for (int c = 0; c < reference.width(); ++c) {
        bool lit = false;
        for (int y = 0; y < reference.height(); ++y) {
            lit = lit || (reference.pixel(c, y) & 0xFFFFFF) == 0;
        }
        EXPECT_EQ(columnSeen[size_t(c + 3)], lit) << "text column " << c;
    }
}

TEST(MatrixDisplay, WrapScrollingReturnsThePictureAfterColsTicks) {
    for (const ScrollDirection direction : {ScrollDirection::Left, ScrollDirection::Right}) {
        LedMatrixDisplay display;
        makeGrid(display, 5, 23);
        fillRandom(display, 7);
        display.scroller()->setDirection(direction);
        const auto start = picture(display);
        const int lit = litCount(display);

        display.scrollTick();
        // One tick moves every row by exactly one cell in the chosen direction.
        for (int r = 0; r < display.rows(); ++r) {
            for (int c = 0; c < display.cols(); ++c) {
                const int from = direction == ScrollDirection::Left ? (c + 1) % 23 : (c + 22) % 23;
                ASSERT_EQ(display.cell(r, c), start[size_t(r)][size_t(from)] == '#');
            }
        }
        for (int tick = 1; tick < display.cols(); ++tick) {
            display.scrollTick();
            ASSERT_EQ(litCount(display), lit) << "tick " << tick;
        }
        EXPECT_EQ(picture(display), start);
    }
}

TEST(MatrixDisplay, ShiftWithoutLoopDropsTheEdgeCellOfTheChosenRowsOnly) {
    LedMatrixDisplay display;
    makeGrid(display, 3, 5);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 5; ++c) {
            display.setCell(r, c, c != 2);
        }
    }
    display.moveCellsLeft(false, 0, 0);
    EXPECT_EQ(picture(display), (std::vector<std::string>{"#.##.", "##.##", "##.##"}));
    display.moveCellsRight(false, 2, 2);
    EXPECT_EQ(picture(display), (std::vector<std::string>{"#.##.", "##.##", ".##.#"}));
}

TEST(MatrixDisplay, RowRangesOfShiftsAndClears) {
    struct Case {
        const char* name;
        std::function<void(LedMatrixDisplay&)> act;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"left, all rows", [](auto& d) { d.moveCellsLeft(true, -1, -1); }, {".##", ".##", ".##", ".##"}},
        {"right, rows 1 to the end", [](auto& d) { d.moveCellsRight(true, 1, -1); }, {"#.#", "##.", "##.", "##."}},
        {"left, to row beyond the grid", [](auto& d) { d.moveCellsLeft(false, 2, 99); }, {"#.#", "#.#", ".#.", ".#."}},
        {"left, from row beyond the grid", [](auto& d) { d.moveCellsLeft(true, 7, 9); }, {"#.#", "#.#", "#.#", "#.#"}},
        {"clear rows 1 up to 3", [](auto& d) { d.clearRows(1, 3, false); }, {"#.#", "...", "...", "#.#"}},
        {"clear from negative", [](auto& d) { d.clearRows(-4, 1, false); }, {"...", "#.#", "#.#", "#.#"}},
        {"clear beyond the grid", [](auto& d) { d.clearRows(3, 50, true); }, {"#.#", "#.#", "#.#", "..."}},
        {"clear empty range", [](auto& d) { d.clearRows(2, 2, true); }, {"#.#", "#.#", "#.#", "#.#"}},
    };
    for (const Case& c : cases) {
        LedMatrixDisplay display;
        makeGrid(display, 4, 3);
        for (int r = 0; r < 4; ++r) {
            display.setCell(r, 0, true);
            display.setCell(r, 2, true);
        }
        c.act(display);
        EXPECT_EQ(picture(display), c.expected) << c.name;
        EXPECT_EQ(display.cols(), 3) << c.name;
        EXPECT_EQ(display.rows(), 4) << c.name;
    }
}

TEST(MatrixDisplay, ClearLitThenInverseTurnsEverythingOff) {
    LedMatrixDisplay display;
    makeGrid(display, 6, 9);
    display.clearDisplay(true, true);
    EXPECT_EQ(litCount(display), 6 * 9);
    EXPECT_TRUE(display.redrawBuffer());
    display.invertCells();
    EXPECT_EQ(litCount(display), 0);
}

TEST(MatrixDisplay, OutOfRangeCellsReadOffAndIgnoreWrites) {
    LedMatrixDisplay display;
    makeGrid(display, 4, 6);
    display.clearDisplay(false, true);
    const std::pair<int, int> outside[] = {{-1, 0}, {0, -1}, {0, 6}, {4, 0}, {4, 6}, {INT32_MIN, INT32_MAX}};
    for (const auto& [row, col] : outside) {
        EXPECT_FALSE(display.cell(row, col)) << row << "," << col;
        display.setCell(row, col, false);
    }
    EXPECT_EQ(litCount(display), 4 * 6);
    EXPECT_EQ(display.cols(), 6);
    EXPECT_EQ(display.rows(), 4);
}

TEST(MatrixDisplay, GrowingKeepsTheCellsAnchoredTopLeft) {
    LedMatrixDisplay display;
    display.resize(40, 40);
    render(display);
    // ceil((40 - 2 - 2) / 4) = 9 each way.
    ASSERT_EQ(display.cols(), 9);
    ASSERT_EQ(display.rows(), 9);
    fillRandom(display, 3);
    const auto before = picture(display);

    display.resize(80, 60);
    render(display);
    ASSERT_EQ(display.cols(), 19);
    ASSERT_EQ(display.rows(), 14);
    for (int r = 0; r < 14; ++r) {
        for (int c = 0; c < 19; ++c) {
            const bool kept = r < 9 && c < 9 && before[size_t(r)][size_t(c)] == '#';
            ASSERT_EQ(display.cell(r, c), kept) << r << "," << c;
        }
    }
}

TEST(MatrixDisplay, MaskOverwritesItsAreaAndOneMoreRowAndColumn) {
    LedMatrixDisplay display;
    display.resize(24, 20);
    const QImage mask = maskFrom({"#.", ".#"});
    display.loadMask(mask, 1, 1, false);
    ASSERT_EQ(display.cols(), 6);
    ASSERT_EQ(display.rows(), 5);

    display.clearDisplay(false, true);
    display.loadMask(mask, 1, 1, false);
    EXPECT_EQ(picture(display), (std::vector<std::string>{"######", "##..##", "#.#.##", "#...##", "######"}));
    display.clearDisplay(false, true);
    display.loadMask(mask, 1, 1, true);
    EXPECT_EQ(picture(display), (std::vector<std::string>{"######", "#.####", "##.###", "######", "######"}));

    // A negative offset places the part of the mask that falls inside the grid and nothing else.
    display.clearDisplay(false, false);
    display.loadMask(mask, -1, -1, false);
    EXPECT_TRUE(display.cell(0, 0));
    EXPECT_EQ(litCount(display), 1);
}

TEST(MatrixDisplay, AbsurdMasksAndTinyControlsAreHandledQuietly) {
    LedMatrixDisplay display;
    display.resize(24, 20);
    display.loadMask(maskFrom({"#"}), 0, 0, false);
    const auto before = picture(display);
    display.loadMask(maskFrom({"#"}), INT32_MAX - 1, 0, false);
    display.loadMask(maskFrom({"#"}), 0, LedMatrixDisplay::MaxGridSide, false);
    EXPECT_EQ(picture(display), before);

    // Controls too small for a single cell have a grid without cells in one direction (a negative count from the
    // size formula must end as zero, not wrap); every operation must cope with it.
    struct Case {
        QSize size;
        int cols;
        int rows;
    };
    const Case cases[] = {{QSize(0, 0), 0, 0}, {QSize(1, 1), 0, 0}, {QSize(3, 50), 0, 12}, {QSize(50, 3), 12, 0}};
    for (const Case& c : cases) {
        LedMatrixDisplay tiny;
        tiny.resize(c.size);
        render(tiny);
        tiny.scrollTick();
        tiny.moveCellsRight(false, -1, -1);
        tiny.invertCells();
        tiny.clearRows(0, 10, true);
        render(tiny);
        EXPECT_EQ(tiny.cols(), c.cols) << c.size.width() << "x" << c.size.height();
        EXPECT_EQ(tiny.rows(), c.rows) << c.size.width() << "x" << c.size.height();
        EXPECT_EQ(litCount(tiny), 0);
    }
}

// The main window's strip: 646 x 65 pixels with the default cell pitch of 4 and a border of 1.
class MainStrip : public ::testing::Test {
protected:
    void SetUp() override {
        m_panel.resize(646, 65);
        m_display = createMainWindowDisplay(&m_panel);
        ASSERT_NE(m_display, nullptr);
        m_panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_panel));
    }

    QWidget m_panel;
    LedMatrixDisplay* m_display = nullptr;
};

TEST_F(MainStrip, TheDisplayFillsTheStripAndRunsAt100ms) {
    EXPECT_EQ(m_display->objectName(), QString(widgetnames::MatrixDisplay));
    EXPECT_EQ(m_display->parentWidget(), &m_panel);
    EXPECT_EQ(m_panel.findChildren<QWidget*>().size(), 1);
    EXPECT_EQ(m_display->geometry(), QRect(0, 0, 646, 65));
    EXPECT_EQ(m_display->font().family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(m_display->font().pixelSize(), 11);
    EXPECT_TRUE(m_display->scrollTimer()->isActive());
    EXPECT_EQ(m_display->scrollTimer()->interval(), 100);
    EXPECT_EQ(m_display->scroller()->direction(), ScrollDirection::Left);

    m_panel.resize(800, 65);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_display->geometry(), QRect(0, 0, 800, 65));
}

TEST_F(MainStrip, PressAnyKeySitsTopLeftOnA161By16Grid) {
    m_display->loadText(QStringLiteral("Press any key"), 0, 0, false);
    render(*m_display);
    EXPECT_EQ(m_display->cols(), 161);
    EXPECT_EQ(m_display->rows(), 16);

    const QImage reference = referenceText(QStringLiteral("Press any key "), mainFont());
    for (int r = 0; r < m_display->rows(); ++r) {
        for (int c = 0; c < m_display->cols(); ++c) {
            const bool expected =
                c < reference.width() && r < reference.height() && (reference.pixel(c, r) & 0xFFFFFF) == 0;
            ASSERT_EQ(m_display->cell(r, c), expected) << r << "," << c;
        }
    }

    // A resize shows the text again from the left edge, whatever had scrolled.
    for (int tick = 0; tick < 37; ++tick) {
        m_display->scrollTick();
    }
    showDisplayText(m_display, QStringLiteral("Press any key"));
    render(*m_display);
    for (int r = 0; r < m_display->rows(); ++r) {
        for (int c = 0; c < m_display->cols(); ++c) {
            const bool expected =
                c < reference.width() && r < reference.height() && (reference.pixel(c, r) & 0xFFFFFF) == 0;
            ASSERT_EQ(m_display->cell(r, c), expected) << r << "," << c;
        }
    }
}

// Pixel geometry of the default strip: cell (r, c) covers x from 2 + 4c to 4 + 4c and y from 2 + 4r to 4 + 4r.
class PaintedStrip : public ::testing::Test {
protected:
    void SetUp() override {
        m_display.resize(646, 65);
        render(m_display);
        ASSERT_EQ(m_display.cols(), 161);
        ASSERT_EQ(m_display.rows(), 16);
        m_display.setCell(0, 0, true);
        m_display.setCell(3, 7, true);
        m_display.setCell(15, 160, true);
        m_display.setRedrawBuffer(true);
    }

    static QPoint cellOrigin(int row, int col) { return QPoint(2 + 4 * col, 2 + 4 * row); }

    // Every pixel of the cell's box has `colour`.
    static void expectBox(const QImage& image, int row, int col, int size, const QColor& colour) {
        const QPoint origin = cellOrigin(row, col);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                if (origin.x() + x < image.width() && origin.y() + y < image.height()) {
                    ASSERT_EQ(pixelAt(image, origin.x() + x, origin.y() + y), colour)
                        << "cell " << row << "," << col << " pixel " << x << "," << y;
                }
            }
        }
    }

    LedMatrixDisplay m_display;
    const QColor m_on{213, 229, 229};
    const QColor m_off{58, 67, 73};
    const QColor m_back{73, 83, 88};
    const QColor m_border{56, 66, 73};
};

TEST_F(PaintedStrip, CellsGapsAndBorderSitWhereTheGeometrySays) {
    const QImage image = render(m_display);
    expectBox(image, 0, 0, 3, m_on);
    expectBox(image, 3, 7, 3, m_on);
    expectBox(image, 0, 1, 3, m_off);
    expectBox(image, 8, 80, 3, m_off);
    // The last row is cut by the bottom edge and the last column ends one pixel inside the border.
    expectBox(image, 15, 160, 3, m_on);
    EXPECT_EQ(pixelAt(image, 644, 30), m_off);
    EXPECT_EQ(pixelAt(image, 645, 30), m_border);

    // Gaps between cells and the ring just inside the border show the background.
    EXPECT_EQ(pixelAt(image, 5, 2), m_back);
    EXPECT_EQ(pixelAt(image, 2, 5), m_back);
    EXPECT_EQ(pixelAt(image, 1, 1), m_back);
    EXPECT_EQ(pixelAt(image, 1, 30), m_back);
    EXPECT_EQ(pixelAt(image, 30, 1), m_back);
    for (const QPoint p : {QPoint(0, 0), QPoint(0, 40), QPoint(645, 0), QPoint(645, 64), QPoint(300, 0), QPoint(5, 64),
                           QPoint(645, 30)}) {
        EXPECT_EQ(pixelAt(image, p.x(), p.y()), m_border) << p.x() << "," << p.y();
    }
}

TEST_F(PaintedStrip, WithoutEmptyCellsOnlyLitCellsAreDrawn) {
    m_display.setRedrawEmptyCells(false);
    const QImage image = render(m_display);
    expectBox(image, 0, 0, 3, m_on);
    expectBox(image, 3, 7, 3, m_on);
    expectBox(image, 0, 1, 3, m_back);
    expectBox(image, 10, 100, 3, m_back);
}

TEST_F(PaintedStrip, RoundCellsAreDotsInTheSquaresPlaces) {
    m_display.setCellShape(CellShape::Round);
    m_display.setCellSize(9);
    m_display.setCellSpace(3);
    m_display.setRedrawEmptyCells(false);
    m_display.clearDisplay(false, false);
    QImage image = render(m_display);
    // Pitch 12: ceil((644 - 2) / 12) = 54 columns, ceil((63 - 2) / 12) = 6 rows.
    ASSERT_EQ(m_display.cols(), 54);
    ASSERT_EQ(m_display.rows(), 6);
    m_display.setCell(2, 5, true);
    m_display.setRedrawBuffer(true);
    image = render(m_display);

    const QPoint box(2 + 12 * 5, 2 + 12 * 2);
    // The dot touches the middle of every side of its 9-pixel box and leaves the corners to the background.
    for (const QPoint p : {QPoint(4, 4), QPoint(0, 4), QPoint(8, 4), QPoint(4, 0), QPoint(4, 8)}) {
        EXPECT_EQ(pixelAt(image, box.x() + p.x(), box.y() + p.y()), m_on) << p.x() << "," << p.y();
    }
    for (const QPoint p : {QPoint(0, 0), QPoint(8, 0), QPoint(0, 8), QPoint(8, 8), QPoint(9, 4), QPoint(4, 9)}) {
        EXPECT_EQ(pixelAt(image, box.x() + p.x(), box.y() + p.y()), m_back) << p.x() << "," << p.y();
    }
}

TEST_F(PaintedStrip, RepaintsCopyTheBufferUntilAChangeAsksForARebuild) {
    const QImage first = render(m_display);
    // setCell alone does not ask for a rebuild, so the old buffer is shown.
    m_display.setCell(5, 5, true);
    EXPECT_FALSE(m_display.redrawBuffer());
    EXPECT_EQ(render(m_display), first);

    m_display.setRedrawBuffer(true);
    const QImage second = render(m_display);
    expectBox(second, 5, 5, 3, m_on);

    // A partial repaint copies only its rectangle, from the buffer.
    m_display.setCell(0, 0, false);
    m_display.setCell(10, 100, true);
    m_display.setRedrawBuffer(true);
    QImage partial(m_display.size(), QImage::Format_RGB32);
    partial.fill(Qt::magenta);
    const QRect area(cellOrigin(10, 100), QSize(20, 10));
    m_display.render(&partial, area.topLeft(), QRegion(area));
    EXPECT_EQ(m_display.updateRect(), area);
    expectBox(partial, 10, 100, 3, m_on);
    EXPECT_EQ(pixelAt(partial, area.right() + 1, area.top()), QColor(Qt::magenta));
    EXPECT_EQ(pixelAt(partial, 2, 2), QColor(Qt::magenta));
    EXPECT_EQ(render(m_display).pixel(2, 2), QColor(m_off).rgb());
}

TEST_F(PaintedStrip, ColourAndBorderChangesRepaint) {
    m_display.setColorOn(QColor(255, 0, 0));
    m_display.setColorOff(QColor(0, 0, 255));
    m_display.setColor(QColor(0, 255, 0));
    m_display.setBorderColor(QColor(255, 255, 0));
    m_display.setBorderWidth(0);
    const QImage image = render(m_display);
    // Without a border the cells move one pixel up and left, and the grid gains room.
    EXPECT_EQ(pixelAt(image, 1, 1), QColor(255, 0, 0));
    EXPECT_EQ(pixelAt(image, 0, 0), QColor(0, 255, 0));
    EXPECT_EQ(pixelAt(image, 5, 1), QColor(0, 0, 255));
    EXPECT_EQ(pixelAt(image, 4, 1), QColor(0, 255, 0));
    EXPECT_EQ(m_display.cols(), 161);
}

} // namespace
} // namespace clavora
