// The About dialog: the falling characters step by step, the reopen guard of its menu, and the dialog itself with
// its caption, its slide to the hidden picture, its drag, its links and the licence.
#include "about/aboutdialog.h"
#include "about/popupguard.h"
#include "about/rain.h"
#include "about/widgetnames.h"
#include "tests/support/manualclock.h"
#include "tests/support/platformtest.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace clavora;
using namespace clavora::about;

namespace {

// Rain ------------------------------------------------------------------------------------------------------------

// The lowest value of every range asked for: row 0, delay 1, brightness 0, the first character.
int lowest(int low, int) {
    return low;
}

const QSize Outer(452, 398); // 56 columns, 33 rows

TEST(RainTest, EveryColumnGetsTwoDropsWithinTheirRanges) {
    QRandomGenerator generator(7);
    Rain rain([&](int low, int high) { return int(generator.bounded(low, high + 1)); });
    rain.start(Outer);
    EXPECT_EQ(rain.columns(), 56);
    EXPECT_EQ(rain.rows(), 33);
    ASSERT_EQ(rain.drops().size(), 112);
    QList<int> perColumn(rain.columns(), 0);
    for (qsizetype i = 0; i < rain.drops().size(); ++i) {
        const RainDrop& drop = rain.drops()[i];
        EXPECT_EQ(drop.column, int(i % 56));
        ++perColumn[drop.column];
        EXPECT_GE(drop.row, 0);
        EXPECT_LT(drop.row, 33);
        EXPECT_GE(drop.delay, 1);
        EXPECT_LE(drop.delay, 3);
        EXPECT_GE(drop.brightness, 0);
        EXPECT_LE(drop.brightness, 99);
    }
    EXPECT_EQ(perColumn, QList<int>(56, 2));

    // Each drop keeps its column for ever, and draws one of "zem".
    for (int t = 0; t < 100; ++t) {
        for (const RainCell& cell : rain.tick()) {
            EXPECT_TRUE(cell.ch.isNull() || QStringLiteral("zem").contains(cell.ch));
        }
    }
    for (qsizetype i = 0; i < rain.drops().size(); ++i) {
        EXPECT_EQ(rain.drops()[i].column, int(i % 56));
    }

    // A window too small for one cell has no drops, rather than a division by zero.
    rain.reset(QSize(7, 400));
    EXPECT_TRUE(rain.drops().isEmpty());
    EXPECT_TRUE(rain.tick().isEmpty());
}

TEST(RainTest, HeadAndTrailColoursFollowTheBrightness) {
    const struct {
        int brightness;
        QRgb head;
        QRgb trail;
    } cases[] = {
        {0, qRgb(0, 0, 0), qRgb(0, 0, 0)},
        {99, qRgb(148, 252, 98), qRgb(49, 84, 32)},
        {50, qRgb(74, 127, 49), qRgb(24, 42, 16)},
        {1, qRgb(1, 2, 0), qRgb(0, 0, 0)},
    };
    for (const auto& c : cases) {
        const RainColours colours = rainColours(c.brightness);
        EXPECT_EQ(colours.head, c.head) << c.brightness;
        EXPECT_EQ(colours.trail, c.trail) << c.brightness;
    }
}

TEST(RainTest, AHeadOnRowZeroDrawsNoTrailAndABlackDropStaysBlack) {
    Rain rain(lowest);
    rain.start(QSize(16, 384)); // 2 columns, 32 rows
    ASSERT_EQ(rain.drops().size(), 4);

    // Row 0: the tail 40 rows up, counted round over 33 rows, is row 26; no trail; the head in black.
    const QList<RainCell> first = rain.tick();
    ASSERT_EQ(first.size(), 8);
    EXPECT_EQ(first[0], (RainCell{0, 26 * 12, QChar(), qRgb(0, 0, 0)}));
    EXPECT_EQ(first[1], (RainCell{0, 0, QLatin1Char('z'), qRgb(0, 0, 0)}));
    EXPECT_EQ(first[2].x, 8);

    // Row 1: the new character dimmed above the head.
    const QList<RainCell> second = rain.tick();
    ASSERT_EQ(second.size(), 12);
    EXPECT_EQ(second[0], (RainCell{0, 27 * 12, QChar(), qRgb(0, 0, 0)}));
    EXPECT_EQ(second[1], (RainCell{0, 0, QLatin1Char('z'), qRgb(0, 0, 0)}));
    EXPECT_EQ(second[2], (RainCell{0, 12, QLatin1Char('z'), qRgb(0, 0, 0)}));
}

TEST(RainTest, TheHeadMovesOnEveryDelayThTickAndRestartsPastTheLastRow) {
    bool later = false;
    // Delay 2 at first; once Later, restarts take the highest delay and brightness.
    Rain rain([&](int low, int high) {
        if (later) {
            return high;
        }
        return low == 1 && high == 3 ? 2 : low;
    });
    rain.start(QSize(8, 120)); // 1 column, 10 rows: heads run down to row 11
    const RainDrop& drop = rain.drops()[0];
    ASSERT_EQ(drop.delay, 2);
    QList<int> rows;
    for (int t = 0; t < 6; ++t) {
        rain.tick();
        rows << drop.row;
    }
    EXPECT_EQ(rows, (QList<int>{1, 1, 2, 2, 3, 3})); // frames 0, 2 and 4 move it

    later = true;
    while (drop.row != 11) {
        rain.tick();
    }
    while (rain.frame() % 2 != 0) {
        rain.tick();
    }
    rain.tick(); // 11 -> 12, past row 11: back to the top
    EXPECT_EQ(drop.row, 0);
    EXPECT_EQ(drop.delay, 3);
    EXPECT_EQ(drop.brightness, 99);
}

TEST(PopupReopenGuardTest, TheClickThatClosedTheMenuDoesNotReopenIt) {
    int button = 0;
    int other = 0;
    int menu = 0;
    PopupReopenGuard guard;
    EXPECT_TRUE(guard.mayOpen(&button, &menu, 1000));
    guard.closed(&button, &menu, 1000);
    EXPECT_FALSE(guard.mayOpen(&button, &menu, 1050));
    EXPECT_TRUE(guard.mayOpen(&button, &menu, 1060)); // forgotten after refusing once

    guard.closed(&button, &menu, 2000);
    EXPECT_TRUE(guard.mayOpen(&button, &menu, 2500));
    guard.closed(&button, &menu, 3000);
    EXPECT_TRUE(guard.mayOpen(&other, &menu, 3050));
    EXPECT_FALSE(guard.mayOpen(&button, &menu, 3099));

    guard.closed(&button, &menu, 0xFFFFFFF0u); // the tick count wraps
    EXPECT_FALSE(guard.mayOpen(&button, &menu, 0x20u));
    guard.closed(&button, &menu, 0xFFFFFFF0u);
    EXPECT_TRUE(guard.mayOpen(&button, &menu, 0x60u));
}

TEST(AboutTextsTest, CaptionAddressesAndSlideInterval) {
    const QString product = QStringLiteral("Clavora");
    EXPECT_EQ(aboutCaption(QStringLiteral("About %s"), product), QStringLiteral("About Clavora"));
    EXPECT_EQ(aboutCaption(QStringLiteral("Über %s"), product), QStringLiteral("Über Clavora"));
    EXPECT_EQ(aboutCaption(QStringLiteral("%s について"), product), QStringLiteral("Clavora について"));
    EXPECT_EQ(aboutCaption(QStringLiteral("Über"), product), QStringLiteral("About Clavora"));
    EXPECT_EQ(aboutCaption(QStringLiteral("%s %s"), product), QStringLiteral("About Clavora"));
    EXPECT_EQ(aboutCaption(QStringLiteral("%d %s 100%"), product), QStringLiteral("%d Clavora 100%"));

    EXPECT_EQ(homePageUrl(QStringLiteral("h:1")), QStringLiteral("https://h:1/"));
    EXPECT_EQ(creditsPageUrl(QStringLiteral("h")), QStringLiteral("https://h/blog/credits-and-acknowledgements/"));
    EXPECT_EQ(uninstallPageUrl(QStringLiteral("h")),
              QStringLiteral("http://h/blog/how-to-uninstall-zemtrak-software/"));

    const std::pair<qreal, int> intervals[] = {{1.0, 5}, {2.0, 2},  {1.25, 4}, {1.5, 3},
                                               {4.0, 1}, {10.0, 1}, {0.5, 10}, {5.0 / 2.5, 2}};
    for (const auto& [dpr, ms] : intervals) {
        EXPECT_EQ(slideIntervalMs(dpr), ms) << dpr;
    }
}

// A rain character is drawn in the dialog's font at a size whose whole line fits the cell: the largest such size.
TEST(RainFontTest, AWholeLineFitsTheCellHeight) {
    const QFont font = rainFont();
    EXPECT_EQ(font.family(), QStringLiteral("DejaVu Sans"));
    const auto line = [](const QFont& f) {
        const QFontMetricsF metrics(f);
        return metrics.ascent() + metrics.descent() + metrics.leading();
    };
    EXPECT_LE(line(font), Rain::CellHeight);
    QFont larger = font;
    larger.setPixelSize(font.pixelSize() + 1);
    EXPECT_GT(line(larger), Rain::CellHeight);
}

// The dialog ------------------------------------------------------------------------------------------------------

class AboutDialogTest : public test::PlatformTest {
protected:
    AboutContext context(bool translated = false) {
        AboutContext c;
        c.productName = QStringLiteral("Clavora");
        c.version = QStringLiteral("1.0");
        c.webHost = QStringLiteral("www.example.com");
        c.programFolder = m_root.path();
        if (translated) {
            c.translate = [](const QString& text) {
                return text == QLatin1String("About %s") ? QStringLiteral("Über %s")
                                                         : QLatin1Char('[') + text + QLatin1Char(']');
            };
        }
        return c;
    }

    std::unique_ptr<AboutDialog> open(const AboutContext& c) {
        auto dialog = std::make_unique<AboutDialog>(c, m_files, m_shell);
        dialog->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        return dialog;
    }

    static void doubleClick(QWidget* widget) {
        QTest::mouseDClick(widget, Qt::LeftButton, {}, widget->rect().center());
    }
};

TEST_F(AboutDialogTest, CaptionNameAndLayout) {
    auto english = open(context());
    EXPECT_EQ(english->windowTitle(), QStringLiteral("About Clavora"));
    EXPECT_EQ(test::namedChild<QLabel>(*english, widgetnames::about::NameLabel)->text(), QStringLiteral("Clavora 1.0"));
    EXPECT_EQ(english->size(), QSize(AboutDialog::ClientWidth, AboutDialog::ClientHeight));
    EXPECT_EQ(test::namedChild<QWidget>(*english, widgetnames::about::Panel)->geometry(), QRect(48, 42, 350, 291));
    EXPECT_EQ(test::namedChild<QWidget>(*english, widgetnames::about::EggPanel)->geometry(), QRect(61, 77, 324, 220));
    EXPECT_FALSE(test::namedChild<QWidget>(*english, widgetnames::about::EggPanel)->isVisible());
    EXPECT_EQ(test::namedChild<QLabel>(*english, widgetnames::about::LinkLabel)->text(),
              QStringLiteral("www.example.com"));

    auto german = open(context(true));
    EXPECT_EQ(german->windowTitle(), QStringLiteral("Über Clavora"));
    EXPECT_EQ(test::namedChild<QPushButton>(*german, widgetnames::about::InfoButton)->text(), QStringLiteral("[Info]"));
    EXPECT_EQ(test::namedAction(*german, widgetnames::about::LicenseAction)->text(), QStringLiteral("[License...]"));
}

TEST_F(AboutDialogTest, TheRainPaintsTheSurfaceInItsBrightnessAndBlackForZero) {
    auto dialog = open(context());
    EXPECT_EQ(dialog->rain().columns(), dialog->frameGeometry().width() / 8);
    EXPECT_EQ(dialog->rain().rows(), dialog->frameGeometry().height() / 12);
    EXPECT_TRUE(test::namedChild<QTimer>(*dialog, widgetnames::about::RainTimer)->isActive());
    EXPECT_EQ(test::namedChild<QTimer>(*dialog, widgetnames::about::RainTimer)->interval(), 50);

    const auto litPixels = [&] {
        const QImage& surface = dialog->rainSurface();
        int lit = 0;
        for (int y = 0; y < surface.height(); ++y) {
            for (int x = 0; x < surface.width(); ++x) {
                lit += surface.pixel(x, y) != qRgb(0, 0, 0);
            }
        }
        return lit;
    };
    test::namedChild<QTimer>(*dialog, widgetnames::about::RainTimer)->stop();
    dialog->setRandom(lowest);
    test::namedChild<QTimer>(*dialog, widgetnames::about::RainTimer)->stop();
    for (int t = 0; t < 5; ++t) {
        dialog->rainTick();
    }
    EXPECT_EQ(litPixels(), 0);

    dialog->setRandom([](int, int high) { return high; }); // brightness 99
    test::namedChild<QTimer>(*dialog, widgetnames::about::RainTimer)->stop();
    dialog->rainTick();
    EXPECT_GT(litPixels(), 0);
    // Only green-heavy colours fall.
    const QImage& surface = dialog->rainSurface();
    for (int y = 0; y < surface.height(); ++y) {
        for (int x = 0; x < surface.width(); ++x) {
            const QRgb pixel = surface.pixel(x, y);
            EXPECT_GE(qGreen(pixel), qRed(pixel));
            EXPECT_GE(qGreen(pixel), qBlue(pixel));
        }
    }
    // Every head stands on the last row with an "m": in the rain's font and its head colour, cut to its cell by the
    // next column's cell.
    QImage expected(Rain::CellWidth, Rain::CellHeight, QImage::Format_RGB32);
    expected.fill(Qt::black);
    QPainter painter(&expected);
    painter.setFont(rainFont());
    painter.setPen(QColor(148, 252, 98));
    painter.drawText(expected.rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, QStringLiteral("m"));
    painter.end();
    const int lastRow = (dialog->rain().rows() - 1) * Rain::CellHeight;
    EXPECT_EQ(surface.copy(0, lastRow, Rain::CellWidth, Rain::CellHeight).convertToFormat(QImage::Format_RGB32),
              expected);
}

TEST_F(AboutDialogTest, TheIconSlidesThePanelAwayAndThePictureBringsItBack) {
    auto dialog = open(context());
    QWidget* panel = test::namedChild<QWidget>(*dialog, widgetnames::about::Panel);
    QWidget* egg = test::namedChild<QWidget>(*dialog, widgetnames::about::EggPanel);
    QWidget* eggPicture = test::namedChild<QWidget>(*dialog, widgetnames::about::EggPicture);
    QTimer* slide = test::namedChild<QTimer>(*dialog, widgetnames::about::SlideTimer);

    doubleClick(test::namedChild<QWidget>(*dialog, widgetnames::about::ProgramIcon));
    EXPECT_TRUE(egg->isVisible());
    EXPECT_TRUE(slide->isActive());
    EXPECT_EQ(slide->interval(), slideIntervalMs(dialog->devicePixelRatioF()));
    doubleClick(eggPicture); // still sliding: no effect
    EXPECT_TRUE(egg->isVisible());

    ASSERT_TRUE(test::waitFor([&] { return !slide->isActive(); }, 5000));
    EXPECT_GT(panel->x(), dialog->width());
    EXPECT_LE(panel->x(), dialog->width() + AboutDialog::SlideStep);
    EXPECT_EQ(panel->y(), 42);

    doubleClick(eggPicture);
    EXPECT_FALSE(egg->isVisible());
    EXPECT_EQ(panel->geometry(), QRect((446 - 350) / 2, 42, 350, 291));
}

TEST_F(AboutDialogTest, TheWindowIsDraggedByItsPicturesButNotWithTheRightButton) {
    auto dialog = open(context());
    const auto drag = [&](const char* name, Qt::MouseButton button) {
        QWidget* source = test::namedChild<QWidget>(*dialog, name);
        const QPoint local = source->rect().center();
        const QPoint global = source->mapToGlobal(local);
        QMouseEvent press(QEvent::MouseButtonPress, local, global, button, button, Qt::NoModifier);
        QApplication::sendEvent(source, &press);
        const QPoint to = global + QPoint(30, 20);
        QMouseEvent move(QEvent::MouseMove, local + QPoint(30, 20), to, Qt::NoButton, button, Qt::NoModifier);
        QApplication::sendEvent(source, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, local + QPoint(30, 20), to, button, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(source, &release);
    };
    for (const char* name : {widgetnames::about::Logo, widgetnames::about::ProgramIcon, widgetnames::about::NameLabel,
                             widgetnames::about::Panel}) {
        const QPoint before = dialog->pos();
        drag(name, Qt::LeftButton);
        EXPECT_EQ(dialog->pos(), before + QPoint(30, 20)) << name;
    }
    const QPoint before = dialog->pos();
    drag(widgetnames::about::Logo, Qt::RightButton);
    EXPECT_EQ(dialog->pos(), before);
}

TEST_F(AboutDialogTest, InfoOpensItsMenuBelowTheButtonButNotRightAfterItClosed) {
    auto dialog = open(context());
    test::ManualClock clock(5000);
    dialog->setClock(clock);
    QPushButton* info = test::namedChild<QPushButton>(*dialog, widgetnames::about::InfoButton);

    QPoint shownAt;
    int shown = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            ++shown;
            shownAt = popup->pos();
            popup->close();
        }
    });
    closer.start(20);
    dialog->showInfoMenu();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(shownAt, info->mapToGlobal(QPoint(0, info->height())));

    clock.advance(50);      // the click that closed it
    dialog->showInfoMenu(); // a menu it showed would be closed, and counted, before this returns
    EXPECT_EQ(shown, 1);

    clock.advance(500);
    dialog->showInfoMenu();
    EXPECT_EQ(shown, 2);
}

TEST_F(AboutDialogTest, LinksOpenTheMakersPages) {
    auto dialog = open(context());
    test::namedAction(*dialog, widgetnames::about::CreditsAction)->trigger();
    test::namedAction(*dialog, widgetnames::about::UninstallAction)->trigger();
    QTest::mouseClick(test::namedChild<QLabel>(*dialog, widgetnames::about::LinkLabel), Qt::LeftButton);
    EXPECT_EQ(m_shell.opened, (QStringList{"https://www.example.com/blog/credits-and-acknowledgements/",
                                           "http://www.example.com/blog/how-to-uninstall-zemtrak-software/",
                                           "https://www.example.com/"}));
}

// The link keeps its mouse to itself: a drag that starts on it never moves the window, and the page opens only when
// the left button is let go over the link.
TEST_F(AboutDialogTest, TheLinkIsNoDragSourceAndOpensOnlyWhenReleasedOverIt) {
    auto dialog = open(context());
    QLabel* link = test::namedChild<QLabel>(*dialog, widgetnames::about::LinkLabel);
    const QPoint centre = link->rect().center();
    const auto send = [&](QEvent::Type type, Qt::MouseButton button, QPoint offset) {
        const QPoint local = centre + offset;
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, local, link->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : button,
                          held, Qt::NoModifier);
        QApplication::sendEvent(link, &event);
    };
    struct Case {
        const char* name;
        Qt::MouseButton button;
        QList<QPoint> moves; // from the centre, the release where the last one ends
        bool opens;
    };
    const Case cases[] = {
        {"click", Qt::LeftButton, {}, true},
        {"drag off the link", Qt::LeftButton, {{30, 20}, {60, 40}}, false},
        {"drag off and back", Qt::LeftButton, {{30, 20}, {5, 0}}, true},
        {"right button", Qt::RightButton, {}, false},
        {"right-button drag", Qt::RightButton, {{30, 20}}, false},
    };
    for (const Case& c : cases) {
        m_shell.opened.clear();
        const QPoint before = dialog->pos();
        send(QEvent::MouseButtonPress, c.button, {});
        for (QPoint at : c.moves) {
            send(QEvent::MouseMove, c.button, at);
        }
        send(QEvent::MouseButtonRelease, c.button, c.moves.isEmpty() ? QPoint() : c.moves.last());
        EXPECT_EQ(dialog->pos(), before) << c.name;
        EXPECT_EQ(m_shell.opened, c.opens ? QStringList{"https://www.example.com/"} : QStringList()) << c.name;
    }

    m_shell.opened.clear();
    send(QEvent::MouseButtonPress, Qt::LeftButton, {});
    send(QEvent::MouseButtonRelease, Qt::LeftButton, {});
    send(QEvent::MouseButtonDblClick, Qt::LeftButton, {});
    send(QEvent::MouseButtonRelease, Qt::LeftButton, {});
    EXPECT_EQ(m_shell.opened, QStringList{"https://www.example.com/"}) << "a double-click opens the page once";
}

TEST_F(AboutDialogTest, TheLicenceOpensBesideTheProgramOrIsReportedMissing) {
    auto dialog = open(context(true));
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    test::namedAction(*dialog, widgetnames::about::LicenseAction)->trigger();
    EXPECT_EQ(caption, QStringLiteral("[License]"));
    EXPECT_EQ(text, QStringLiteral("[File not found!]"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(m_shell.opened.isEmpty());

    test::writeBytes(m_root.file("license.txt"), "Terms\n");
    test::namedAction(*dialog, widgetnames::about::LicenseAction)->trigger();
    EXPECT_EQ(m_shell.opened, QStringList{QUrl::fromLocalFile(m_root.file("license.txt")).toString()});
}

TEST_F(AboutDialogTest, EscapeOnTheButtonsCloses) {
    for (const char* name : {widgetnames::about::OkButton, widgetnames::about::InfoButton}) {
        auto dialog = open(context());
        QWidget* button = test::namedChild<QWidget>(*dialog, name);
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Escape);
        EXPECT_FALSE(dialog->isVisible()) << name;
    }
    auto dialog = open(context());
    QTest::mouseClick(test::namedChild<QPushButton>(*dialog, widgetnames::about::OkButton), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

} // namespace
