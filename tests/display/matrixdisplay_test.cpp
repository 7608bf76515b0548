// Tests of the LED dot-matrix display control: the cell grid and its operations, text masks, scrolling, painting
// from the buffer, and the main window's use of it.
#include "display/untLumoMatrix.h"

#include <QFontMetrics>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <random>

namespace clavora {
namespace {

using Shape = TLumoMatrixDisplayCellShape;
using Direction = TLumoMatrixDisplayScrollDirection;

// The grid as text rows of '#' and '.', so a failure shows the picture.
std::vector<std::string> Picture(const TLumoMatrixDisplay& display) {
    std::vector<std::string> rows;
    for (int r = 0; r < display.Rows(); ++r) {
        std::string row;
        for (int c = 0; c < display.Cols(); ++c) {
            row += display.GetCells(r, c) ? '#' : '.';
        }
        rows.push_back(row);
    }
    return rows;
}

int LitCount(const TLumoMatrixDisplay& display) {
    int count = 0;
    for (int r = 0; r < display.Rows(); ++r) {
        for (int c = 0; c < display.Cols(); ++c) {
            count += display.GetCells(r, c) ? 1 : 0;
        }
    }
    return count;
}

// The widget as it shows on screen.
QImage Render(TLumoMatrixDisplay& display) {
    if (display.size().isEmpty()) {
        return QImage();
    }
    QImage image(display.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    display.render(&image);
    return image;
}

QColor At(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

// A mask image from rows of '#' (black) and '.' (white).
QImage Mask(const std::vector<std::string>& rows) {
    QImage image(int(rows.front().size()), int(rows.size()), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, rows[size_t(y)][size_t(x)] == '#' ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        }
    }
    return image;
}

QFont MainFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    return font;
}

// Draws a text the way any Qt program would, black on white without anti-aliasing: the reference a mask must match.
QImage ReferenceText(const QString& text, const QFont& font) {
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
void MakeGrid(TLumoMatrixDisplay& display, int rows, int cols) {
    display.resize(1, 1);
    display.LoadMask(Mask(std::vector<std::string>(size_t(rows), std::string(size_t(cols), '.'))), 0, 0, false);
    ASSERT_EQ(display.Rows(), rows);
    ASSERT_EQ(display.Cols(), cols);
}

void FillRandom(TLumoMatrixDisplay& display, unsigned seed) {
    std::mt19937 random(seed);
    for (int r = 0; r < display.Rows(); ++r) {
        for (int c = 0; c < display.Cols(); ++c) {
            display.SetCells(r, c, random() % 3 == 0);
        }
    }
}

TEST(MatrixDisplay, StartsWithTheDocumentedDefaults) {
    TLumoMatrixDisplay display;
    EXPECT_EQ(display.size(), QSize(401, 81));
    EXPECT_EQ(display.CellSize(), 3);
    EXPECT_EQ(display.CellSpace(), 1);
    EXPECT_EQ(display.CellShape(), Shape::csSquare);
    EXPECT_EQ(display.ColorOff(), QColor(58, 67, 73));
    EXPECT_EQ(display.ColorOn(), QColor(213, 229, 229));
    EXPECT_EQ(display.BorderColor(), QColor(56, 66, 73));
    EXPECT_EQ(display.Color(), QColor(73, 83, 88));
    EXPECT_EQ(display.BorderWidth(), 1);
    EXPECT_TRUE(display.RedrawEmptyCells());
    EXPECT_TRUE(display.RedrawBuffer());
    EXPECT_EQ(display.Cols(), 0);
    EXPECT_EQ(display.Rows(), 0);
    EXPECT_TRUE(display.testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_EQ(display.focusPolicy(), Qt::StrongFocus);
    ASSERT_NE(display.ScrollTimer(), nullptr);
    EXPECT_FALSE(display.ScrollTimer()->isActive());
    EXPECT_EQ(display.ScrollTimer()->interval(), 50);
    EXPECT_EQ(display.Scroll()->Direction(), Direction::sdLeft);
    EXPECT_FALSE(display.Scroll()->Active());
    EXPECT_EQ(display.Scroll()->Interval(), 50);
}

TEST(MatrixDisplay, SettersRaiseValuesToTheirMinimum) {
    struct TCase {
        const char* Name;
        void (TLumoMatrixDisplay::*Set)(int);
        int (TLumoMatrixDisplay::*Get)() const;
        int Given;
        int Expected;
    };
    const TCase cases[] = {
        {"CellSize 0", &TLumoMatrixDisplay::SetCellSize, &TLumoMatrixDisplay::CellSize, 0, 1},
        {"CellSize -7", &TLumoMatrixDisplay::SetCellSize, &TLumoMatrixDisplay::CellSize, -7, 1},
        {"CellSize 1", &TLumoMatrixDisplay::SetCellSize, &TLumoMatrixDisplay::CellSize, 1, 1},
        {"CellSize 6", &TLumoMatrixDisplay::SetCellSize, &TLumoMatrixDisplay::CellSize, 6, 6},
        {"CellSpace -5", &TLumoMatrixDisplay::SetCellSpace, &TLumoMatrixDisplay::CellSpace, -5, 0},
        {"CellSpace 0", &TLumoMatrixDisplay::SetCellSpace, &TLumoMatrixDisplay::CellSpace, 0, 0},
        {"CellSpace 4", &TLumoMatrixDisplay::SetCellSpace, &TLumoMatrixDisplay::CellSpace, 4, 4},
        {"BorderWidth -5", &TLumoMatrixDisplay::SetBorderWidth, &TLumoMatrixDisplay::BorderWidth, -5, 0},
        {"BorderWidth 3", &TLumoMatrixDisplay::SetBorderWidth, &TLumoMatrixDisplay::BorderWidth, 3, 3},
    };
    for (const TCase& c : cases) {
        TLumoMatrixDisplay display;
        Render(display);
        ASSERT_FALSE(display.RedrawBuffer());
        (display.*c.Set)(c.Given);
        EXPECT_EQ((display.*c.Get)(), c.Expected) << c.Name;
        EXPECT_TRUE(display.RedrawBuffer()) << c.Name;
    }
}

TEST(MatrixDisplay, UnchangedValuesDoNotInvalidateTheBuffer) {
    TLumoMatrixDisplay display;
    Render(display);
    display.SetCellSize(3);
    display.SetCellSpace(1);
    display.SetBorderWidth(1);
    display.SetCellShape(Shape::csSquare);
    display.SetColorOn(QColor(213, 229, 229));
    display.SetColorOff(QColor(58, 67, 73));
    display.SetBorderColor(QColor(56, 66, 73));
    display.SetColor(QColor(73, 83, 88));
    display.SetRedrawEmptyCells(true);
    display.Scroll()->SetDirection(Direction::sdRight);
    EXPECT_FALSE(display.RedrawBuffer());

    display.SetColorOn(Qt::red);
    EXPECT_TRUE(display.RedrawBuffer());
    Render(display);
    display.setFont(QFont(QStringLiteral("DejaVu Sans"), 20));
    EXPECT_TRUE(display.RedrawBuffer());
}

TEST(MatrixDisplay, ScrollActiveAndIntervalDriveTheOwnersTimer) {
    TLumoMatrixDisplay display;
    display.Scroll()->SetInterval(100);
    EXPECT_EQ(display.ScrollTimer()->interval(), 100);
    display.Scroll()->SetActive(true);
    ASSERT_TRUE(display.ScrollTimer()->isActive());
    const int timerId = display.ScrollTimer()->timerId();

    // The same values again must not restart the period: a restarted QTimer gets a new id.
    display.Scroll()->SetActive(true);
    display.Scroll()->SetInterval(100);
    EXPECT_EQ(display.ScrollTimer()->timerId(), timerId);

    display.ScrollTimer()->stop();
    EXPECT_FALSE(display.Scroll()->Active());
    display.Scroll()->SetInterval(0);
    EXPECT_GE(display.Scroll()->Interval(), 1);
}

TEST(MatrixDisplay, TheTimerScrollsThePicture) {
    TLumoMatrixDisplay display;
    MakeGrid(display, 2, 10);
    display.SetCells(0, 5, true);
    display.Scroll()->SetInterval(5);
    display.Scroll()->SetActive(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !display.GetCells(0, 5); }, 2000));
    display.Scroll()->SetActive(false);
    EXPECT_EQ(LitCount(display), 1);
}

TEST(MatrixDisplay, LoadTextLightsExactlyTheBlackPixelsOfTheTextAndOneSpace) {
    TLumoMatrixDisplay display;
    display.setFont(MainFont());
    display.resize(646, 65);
    display.ClearDisplay(false, false);
    display.LoadText(QStringLiteral("Silent"), 0, 0, false);

    const QImage reference = ReferenceText(QStringLiteral("Silent "), MainFont());
    ASSERT_GT(reference.width(), 20);
    int black = 0;
    for (int r = 0; r < display.Rows(); ++r) {
        for (int c = 0; c < display.Cols(); ++c) {
            const bool expected =
                c < reference.width() && r < reference.height() && (reference.pixel(c, r) & 0xFFFFFF) == 0;
            black += expected ? 1 : 0;
            ASSERT_EQ(display.GetCells(r, c), expected) << "row " << r << " col " << c;
        }
    }
    EXPECT_GT(black, 30);
}

TEST(MatrixDisplay, LoadTextAddsOneSpaceOnlyWhenTheTextLacksOne) {
    const QFont font = MainFont();
    QImage probe(1, 1, QImage::Format_RGB32);
    QFontMetrics metrics(
        [&] {
            QFont f = font;
            f.setStyleStrategy(QFont::NoAntialias);
            return f;
        }(),
        &probe);
    struct TCase {
        QString Text;
        QString Shown;
    };
    const TCase cases[] = {
        {QStringLiteral("Silent"), QStringLiteral("Silent ")},
        {QStringLiteral("Silent "), QStringLiteral("Silent ")},
        {QString(), QStringLiteral(" ")},
    };
    for (const TCase& c : cases) {
        // A control smaller than the text: the grid then has exactly the text's size.
        TLumoMatrixDisplay display;
        display.setFont(font);
        display.resize(4, 4);
        display.LoadText(c.Text, 0, 0, false);
        EXPECT_EQ(display.Cols(), metrics.horizontalAdvance(c.Shown)) << c.Text.toStdString();
        EXPECT_EQ(display.Rows(), metrics.height()) << c.Text.toStdString();
    }
    EXPECT_NE(metrics.horizontalAdvance(QStringLiteral("Silent  ")), metrics.horizontalAdvance("Silent "));
}

TEST(MatrixDisplay, TextWiderThanTheControlWidensTheGridAndPassesByWhole) {
    TLumoMatrixDisplay display;
    display.setFont(MainFont());
    display.resize(120, 65);
    const QString text = QStringLiteral("Press any key to play a sound");
    const QImage reference = ReferenceText(text + QLatin1Char(' '), MainFont());
    ASSERT_GT(reference.width(), 120);

    display.LoadText(text, 3, 2, false);
    EXPECT_EQ(display.Cols(), reference.width() + 3);
    Render(display);
    EXPECT_EQ(display.Cols(), reference.width() + 3) << "painting must not cut the text";
    EXPECT_EQ(display.Rows(), 16);

    // Every column of the text passes the left edge once in a full turn.
    const auto before = Picture(display);
    std::vector<bool> columnSeen(size_t(display.Cols()), false);
    for (int tick = 0; tick < display.Cols(); ++tick) {
        for (int r = 0; r < display.Rows(); ++r) {
            if (display.GetCells(r, 0)) {
                columnSeen[size_t(tick)] = true;
            }
        }
        display.ScrollTick();
    }
    EXPECT_EQ(Picture(display), before);
    for (int c = 0; c < reference.width(); ++c) {
        bool lit = false;
        for (int y = 0; y < reference.height(); ++y) {
            lit = lit || (reference.pixel(c, y) & 0xFFFFFF) == 0;
        }
        EXPECT_EQ(columnSeen[size_t(c + 3)], lit) << "text column " << c;
    }
}

TEST(MatrixDisplay, WrapScrollingReturnsThePictureAfterColsTicks) {
    for (const Direction direction : {Direction::sdLeft, Direction::sdRight}) {
        TLumoMatrixDisplay display;
        MakeGrid(display, 5, 23);
        FillRandom(display, 7);
        display.Scroll()->SetDirection(direction);
        const auto start = Picture(display);
        const int lit = LitCount(display);

        display.ScrollTick();
        // One tick moves every row by exactly one cell in the chosen direction.
        for (int r = 0; r < display.Rows(); ++r) {
            for (int c = 0; c < display.Cols(); ++c) {
                const int from = direction == Direction::sdLeft ? (c + 1) % 23 : (c + 22) % 23;
                ASSERT_EQ(display.GetCells(r, c), start[size_t(r)][size_t(from)] == '#');
            }
        }
        for (int tick = 1; tick < display.Cols(); ++tick) {
            display.ScrollTick();
            ASSERT_EQ(LitCount(display), lit) << "tick " << tick;
        }
        EXPECT_EQ(Picture(display), start);
    }
}

TEST(MatrixDisplay, ShiftWithoutLoopDropsTheEdgeCellOfTheChosenRowsOnly) {
    TLumoMatrixDisplay display;
    MakeGrid(display, 3, 5);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 5; ++c) {
            display.SetCells(r, c, c != 2);
        }
    }
    display.MoveCellsLeft(false, 0, 0);
    EXPECT_EQ(Picture(display), (std::vector<std::string>{"#.##.", "##.##", "##.##"}));
    display.MoveCellsRight(false, 2, 2);
    EXPECT_EQ(Picture(display), (std::vector<std::string>{"#.##.", "##.##", ".##.#"}));
}

TEST(MatrixDisplay, RowRangesOfShiftsAndClears) {
    struct TCase {
        const char* Name;
        std::function<void(TLumoMatrixDisplay&)> Act;
        std::vector<std::string> Expected;
    };
    const std::vector<TCase> cases = {
        {"left, all rows", [](auto& d) { d.MoveCellsLeft(true, -1, -1); }, {".##", ".##", ".##", ".##"}},
        {"right, rows 1 to the end", [](auto& d) { d.MoveCellsRight(true, 1, -1); }, {"#.#", "##.", "##.", "##."}},
        {"left, to row beyond the grid", [](auto& d) { d.MoveCellsLeft(false, 2, 99); }, {"#.#", "#.#", ".#.", ".#."}},
        {"left, from row beyond the grid", [](auto& d) { d.MoveCellsLeft(true, 7, 9); }, {"#.#", "#.#", "#.#", "#.#"}},
        {"clear rows 1 up to 3", [](auto& d) { d.ClearDisplay(1, 3, false); }, {"#.#", "...", "...", "#.#"}},
        {"clear from negative", [](auto& d) { d.ClearDisplay(-4, 1, false); }, {"...", "#.#", "#.#", "#.#"}},
        {"clear beyond the grid", [](auto& d) { d.ClearDisplay(3, 50, true); }, {"#.#", "#.#", "#.#", "..."}},
        {"clear empty range", [](auto& d) { d.ClearDisplay(2, 2, true); }, {"#.#", "#.#", "#.#", "#.#"}},
    };
    for (const TCase& c : cases) {
        TLumoMatrixDisplay display;
        MakeGrid(display, 4, 3);
        for (int r = 0; r < 4; ++r) {
            display.SetCells(r, 0, true);
            display.SetCells(r, 2, true);
        }
        c.Act(display);
        EXPECT_EQ(Picture(display), c.Expected) << c.Name;
        EXPECT_EQ(display.Cols(), 3) << c.Name;
        EXPECT_EQ(display.Rows(), 4) << c.Name;
    }
}

TEST(MatrixDisplay, ClearLitThenInverseTurnsEverythingOff) {
    TLumoMatrixDisplay display;
    MakeGrid(display, 6, 9);
    display.ClearDisplay(true, true);
    EXPECT_EQ(LitCount(display), 6 * 9);
    EXPECT_TRUE(display.RedrawBuffer());
    display.InverseCells();
    EXPECT_EQ(LitCount(display), 0);
}

TEST(MatrixDisplay, OutOfRangeCellsReadOffAndIgnoreWrites) {
    TLumoMatrixDisplay display;
    MakeGrid(display, 4, 6);
    display.ClearDisplay(false, true);
    const std::pair<int, int> outside[] = {{-1, 0}, {0, -1}, {0, 6}, {4, 0}, {4, 6}, {INT32_MIN, INT32_MAX}};
    for (const auto& [row, col] : outside) {
        EXPECT_FALSE(display.GetCells(row, col)) << row << "," << col;
        display.SetCells(row, col, false);
    }
    EXPECT_EQ(LitCount(display), 4 * 6);
    EXPECT_EQ(display.Cols(), 6);
    EXPECT_EQ(display.Rows(), 4);
}

TEST(MatrixDisplay, GrowingKeepsTheCellsAnchoredTopLeft) {
    TLumoMatrixDisplay display;
    display.resize(40, 40);
    Render(display);
    // ceil((40 - 2 - 2) / 4) = 9 each way.
    ASSERT_EQ(display.Cols(), 9);
    ASSERT_EQ(display.Rows(), 9);
    FillRandom(display, 3);
    const auto before = Picture(display);

    display.resize(80, 60);
    Render(display);
    ASSERT_EQ(display.Cols(), 19);
    ASSERT_EQ(display.Rows(), 14);
    for (int r = 0; r < 14; ++r) {
        for (int c = 0; c < 19; ++c) {
            const bool kept = r < 9 && c < 9 && before[size_t(r)][size_t(c)] == '#';
            ASSERT_EQ(display.GetCells(r, c), kept) << r << "," << c;
        }
    }
}

TEST(MatrixDisplay, MaskOverwritesItsAreaAndOneMoreRowAndColumn) {
    TLumoMatrixDisplay display;
    display.resize(24, 20);
    const QImage mask = Mask({"#.", ".#"});
    display.LoadMask(mask, 1, 1, false);
    ASSERT_EQ(display.Cols(), 6);
    ASSERT_EQ(display.Rows(), 5);

    display.ClearDisplay(false, true);
    display.LoadMask(mask, 1, 1, false);
    EXPECT_EQ(Picture(display), (std::vector<std::string>{"######", "##..##", "#.#.##", "#...##", "######"}));
    display.ClearDisplay(false, true);
    display.LoadMask(mask, 1, 1, true);
    EXPECT_EQ(Picture(display), (std::vector<std::string>{"######", "#.####", "##.###", "######", "######"}));

    // A negative offset places the part of the mask that falls inside the grid and nothing else.
    display.ClearDisplay(false, false);
    display.LoadMask(mask, -1, -1, false);
    EXPECT_TRUE(display.GetCells(0, 0));
    EXPECT_EQ(LitCount(display), 1);
}

TEST(MatrixDisplay, AbsurdMasksAndTinyControlsAreHandledQuietly) {
    TLumoMatrixDisplay display;
    display.resize(24, 20);
    display.LoadMask(Mask({"#"}), 0, 0, false);
    const auto before = Picture(display);
    display.LoadMask(Mask({"#"}), INT32_MAX - 1, 0, false);
    display.LoadMask(Mask({"#"}), 0, TLumoMatrixDisplay::MaxGridSide, false);
    EXPECT_EQ(Picture(display), before);

    // Controls too small for a single cell have an empty grid; every operation must cope with it.
    for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(3, 50), QSize(50, 3)}) {
        TLumoMatrixDisplay tiny;
        tiny.resize(size);
        Render(tiny);
        tiny.ScrollTick();
        tiny.MoveCellsRight(false, -1, -1);
        tiny.InverseCells();
        tiny.ClearDisplay(0, 10, true);
        Render(tiny);
        EXPECT_GE(tiny.Cols(), 0);
        EXPECT_GE(tiny.Rows(), 0);
    }
}

// The main window's strip: 646 x 65 pixels with the default cell pitch of 4 and a border of 1.
class MainStrip : public ::testing::Test {
protected:
    void SetUp() override {
        FPanel.resize(646, 65);
        FDisplay = CreateMainWindowDisplay(&FPanel);
        ASSERT_NE(FDisplay, nullptr);
        FPanel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&FPanel));
    }

    QWidget FPanel;
    TLumoMatrixDisplay* FDisplay = nullptr;
};

TEST_F(MainStrip, TheDisplayFillsTheStripAndRunsAt100ms) {
    EXPECT_EQ(FDisplay->objectName(), QStringLiteral("MatrixDisplay"));
    EXPECT_EQ(FDisplay->parentWidget(), &FPanel);
    EXPECT_EQ(FPanel.findChildren<QWidget*>().size(), 1);
    EXPECT_EQ(FDisplay->geometry(), QRect(0, 0, 646, 65));
    EXPECT_EQ(FDisplay->font().family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(FDisplay->font().pixelSize(), 11);
    EXPECT_TRUE(FDisplay->ScrollTimer()->isActive());
    EXPECT_EQ(FDisplay->ScrollTimer()->interval(), 100);
    EXPECT_EQ(FDisplay->Scroll()->Direction(), TLumoMatrixDisplayScrollDirection::sdLeft);

    FPanel.resize(800, 65);
    QCoreApplication::processEvents();
    EXPECT_EQ(FDisplay->geometry(), QRect(0, 0, 800, 65));
}

TEST_F(MainStrip, PressAnyKeySitsTopLeftOnA161By16Grid) {
    FDisplay->LoadText(QStringLiteral("Press any key"), 0, 0, false);
    Render(*FDisplay);
    EXPECT_EQ(FDisplay->Cols(), 161);
    EXPECT_EQ(FDisplay->Rows(), 16);

    const QImage reference = ReferenceText(QStringLiteral("Press any key "), MainFont());
    for (int r = 0; r < FDisplay->Rows(); ++r) {
        for (int c = 0; c < FDisplay->Cols(); ++c) {
            const bool expected =
                c < reference.width() && r < reference.height() && (reference.pixel(c, r) & 0xFFFFFF) == 0;
            ASSERT_EQ(FDisplay->GetCells(r, c), expected) << r << "," << c;
        }
    }

    // A resize shows the text again from the left edge, whatever had scrolled.
    for (int tick = 0; tick < 37; ++tick) {
        FDisplay->ScrollTick();
    }
    ShowDisplayText(FDisplay, QStringLiteral("Press any key"));
    Render(*FDisplay);
    for (int r = 0; r < FDisplay->Rows(); ++r) {
        for (int c = 0; c < FDisplay->Cols(); ++c) {
            const bool expected =
                c < reference.width() && r < reference.height() && (reference.pixel(c, r) & 0xFFFFFF) == 0;
            ASSERT_EQ(FDisplay->GetCells(r, c), expected) << r << "," << c;
        }
    }
}

// Pixel geometry of the default strip: cell (r, c) covers x from 2 + 4c to 4 + 4c and y from 2 + 4r to 4 + 4r.
class PaintedStrip : public ::testing::Test {
protected:
    void SetUp() override {
        FDisplay.resize(646, 65);
        Render(FDisplay);
        ASSERT_EQ(FDisplay.Cols(), 161);
        ASSERT_EQ(FDisplay.Rows(), 16);
        FDisplay.SetCells(0, 0, true);
        FDisplay.SetCells(3, 7, true);
        FDisplay.SetCells(15, 160, true);
        FDisplay.SetRedrawBuffer(true);
    }

    static QPoint CellOrigin(int row, int col) { return QPoint(2 + 4 * col, 2 + 4 * row); }

    // Every pixel of the cell's box has `colour`.
    static void ExpectBox(const QImage& image, int row, int col, int size, const QColor& colour) {
        const QPoint origin = CellOrigin(row, col);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                if (origin.x() + x < image.width() && origin.y() + y < image.height()) {
                    ASSERT_EQ(At(image, origin.x() + x, origin.y() + y), colour)
                        << "cell " << row << "," << col << " pixel " << x << "," << y;
                }
            }
        }
    }

    TLumoMatrixDisplay FDisplay;
    const QColor FOn{213, 229, 229};
    const QColor FOff{58, 67, 73};
    const QColor FBack{73, 83, 88};
    const QColor FBorder{56, 66, 73};
};

TEST_F(PaintedStrip, CellsGapsAndBorderSitWhereTheGeometrySays) {
    const QImage image = Render(FDisplay);
    ExpectBox(image, 0, 0, 3, FOn);
    ExpectBox(image, 3, 7, 3, FOn);
    ExpectBox(image, 0, 1, 3, FOff);
    ExpectBox(image, 8, 80, 3, FOff);
    // The last row is cut by the bottom edge and the last column ends one pixel inside the border.
    ExpectBox(image, 15, 160, 3, FOn);
    EXPECT_EQ(At(image, 644, 30), FOff);
    EXPECT_EQ(At(image, 645, 30), FBorder);

    // Gaps between cells and the ring just inside the border show the background.
    EXPECT_EQ(At(image, 5, 2), FBack);
    EXPECT_EQ(At(image, 2, 5), FBack);
    EXPECT_EQ(At(image, 1, 1), FBack);
    EXPECT_EQ(At(image, 1, 30), FBack);
    EXPECT_EQ(At(image, 30, 1), FBack);
    for (const QPoint p : {QPoint(0, 0), QPoint(0, 40), QPoint(645, 0), QPoint(645, 64), QPoint(300, 0), QPoint(5, 64),
                           QPoint(645, 30)}) {
        EXPECT_EQ(At(image, p.x(), p.y()), FBorder) << p.x() << "," << p.y();
    }
}

TEST_F(PaintedStrip, WithoutEmptyCellsOnlyLitCellsAreDrawn) {
    FDisplay.SetRedrawEmptyCells(false);
    const QImage image = Render(FDisplay);
    ExpectBox(image, 0, 0, 3, FOn);
    ExpectBox(image, 3, 7, 3, FOn);
    ExpectBox(image, 0, 1, 3, FBack);
    ExpectBox(image, 10, 100, 3, FBack);
}

TEST_F(PaintedStrip, RoundCellsAreDotsInTheSquaresPlaces) {
    FDisplay.SetCellShape(TLumoMatrixDisplayCellShape::csRound);
    FDisplay.SetCellSize(9);
    FDisplay.SetCellSpace(3);
    FDisplay.SetRedrawEmptyCells(false);
    FDisplay.ClearDisplay(false, false);
    QImage image = Render(FDisplay);
    // Pitch 12: ceil((644 - 2) / 12) = 54 columns, ceil((63 - 2) / 12) = 6 rows.
    ASSERT_EQ(FDisplay.Cols(), 54);
    ASSERT_EQ(FDisplay.Rows(), 6);
    FDisplay.SetCells(2, 5, true);
    FDisplay.SetRedrawBuffer(true);
    image = Render(FDisplay);

    const QPoint box(2 + 12 * 5, 2 + 12 * 2);
    // The dot touches the middle of every side of its 9-pixel box and leaves the corners to the background.
    for (const QPoint p : {QPoint(4, 4), QPoint(0, 4), QPoint(8, 4), QPoint(4, 0), QPoint(4, 8)}) {
        EXPECT_EQ(At(image, box.x() + p.x(), box.y() + p.y()), FOn) << p.x() << "," << p.y();
    }
    for (const QPoint p : {QPoint(0, 0), QPoint(8, 0), QPoint(0, 8), QPoint(8, 8), QPoint(9, 4), QPoint(4, 9)}) {
        EXPECT_EQ(At(image, box.x() + p.x(), box.y() + p.y()), FBack) << p.x() << "," << p.y();
    }
}

TEST_F(PaintedStrip, RepaintsCopyTheBufferUntilAChangeAsksForARebuild) {
    const QImage first = Render(FDisplay);
    // SetCells alone does not ask for a rebuild, so the old buffer is shown.
    FDisplay.SetCells(5, 5, true);
    EXPECT_FALSE(FDisplay.RedrawBuffer());
    EXPECT_EQ(Render(FDisplay), first);

    FDisplay.SetRedrawBuffer(true);
    const QImage second = Render(FDisplay);
    ExpectBox(second, 5, 5, 3, FOn);

    // A partial repaint copies only its rectangle, from the buffer.
    FDisplay.SetCells(0, 0, false);
    FDisplay.SetCells(10, 100, true);
    FDisplay.SetRedrawBuffer(true);
    QImage partial(FDisplay.size(), QImage::Format_RGB32);
    partial.fill(Qt::magenta);
    const QRect area(CellOrigin(10, 100), QSize(20, 10));
    FDisplay.render(&partial, area.topLeft(), QRegion(area));
    EXPECT_EQ(FDisplay.UpdateRect(), area);
    ExpectBox(partial, 10, 100, 3, FOn);
    EXPECT_EQ(At(partial, area.right() + 1, area.top()), QColor(Qt::magenta));
    EXPECT_EQ(At(partial, 2, 2), QColor(Qt::magenta));
    EXPECT_EQ(Render(FDisplay).pixel(2, 2), QColor(FOff).rgb());
}

TEST_F(PaintedStrip, ColourAndBorderChangesRepaint) {
    FDisplay.SetColorOn(QColor(255, 0, 0));
    FDisplay.SetColorOff(QColor(0, 0, 255));
    FDisplay.SetColor(QColor(0, 255, 0));
    FDisplay.SetBorderColor(QColor(255, 255, 0));
    FDisplay.SetBorderWidth(0);
    const QImage image = Render(FDisplay);
    // Without a border the cells move one pixel up and left, and the grid gains room.
    EXPECT_EQ(At(image, 1, 1), QColor(255, 0, 0));
    EXPECT_EQ(At(image, 0, 0), QColor(0, 255, 0));
    EXPECT_EQ(At(image, 5, 1), QColor(0, 0, 255));
    EXPECT_EQ(At(image, 4, 1), QColor(0, 255, 0));
    EXPECT_EQ(FDisplay.Cols(), 161);
}

} // namespace
} // namespace clavora
