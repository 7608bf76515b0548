// Minimizing, the notification-area icon, the /auto start and the captions the window manager shows, on a real X
// display.
#include "app/application.h"
#include "app/identity.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/startup.h"
#include "app/widgetnames.h"
#include "platform/fake/fakeautostart.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/support/platformtest.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"
#include "tests/support/windowmanager.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <optional>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace clavora;
using clavora::test::namedChild;
using clavora::test::waitFor;

namespace {

bool onXDisplay() {
    return QGuiApplication::platformName() == "xcb";
}

// The restore from the notification area and the iconic states depend on a window manager: one runs for the suite.
class TrayTest : public test::PlatformTest {
protected:
    static void SetUpTestSuite() {
        if (onXDisplay()) {
            s_windowManager = std::make_unique<test::WindowManager>();
        }
    }
    static void TearDownTestSuite() { s_windowManager.reset(); }

    void SetUp() override {
        if (!onXDisplay()) {
            GTEST_SKIP() << "needs the X display of the test rig";
        }
        ASSERT_TRUE(s_windowManager->running()) << "openbox did not take over the display";
        if (!QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000)) {
            GTEST_SKIP() << "no notification area on this display";
        }
        ASSERT_TRUE(QDir().mkpath(m_root.file("program")));
        ASSERT_TRUE(QFile::copy(test::programDir() + "/clavora", m_root.file("program/clavora")));
        m_files.programFile = m_root.file("program/clavora");
        m_autostart.entries["Zemtrak - Clavora"] = "\"x\" /auto";
    }

    std::unique_ptr<Startup> showWindow(const QStringList& arguments, const QByteArray& settings) {
        test::writeBytes(m_root.file("program/settings.ini"), settings);
        auto startup = std::make_unique<Startup>(m_services, arguments);
        startup->run();
        startup->window().show();
        // Started with /auto, the window may go to the tray before a loaded machine has drawn it at all.
        if (!arguments.contains(QStringLiteral("/auto"))) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&startup->window()));
        }
        return startup;
    }

    // Waits until the one-shot /auto timer has fired and the reactions it queued have run.
    static void waitForAutoSwitch(MainWindow& window) {
        QTimer* timer = namedChild<QTimer>(window, widgetnames::AutoSwitchTimer);
        EXPECT_TRUE(waitFor([&] { return !timer->isActive(); }, 10000));
        QCoreApplication::processEvents();
    }

    static inline std::unique_ptr<test::WindowManager> s_windowManager;
};

// A property of a top-level window on the X display: its format (8, 16 or 32), its item count and its items (a
// format of 32 holds them as longs); nullopt when the display or the property is not there.
struct WindowProperty {
    int format = 0;
    unsigned long count = 0;
    QByteArray items;
};
std::optional<WindowProperty> windowProperty(QWidget& window, const char* name, const char* type, long length) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return std::nullopt;
    }
    Atom actualType = None;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::optional<WindowProperty> property;
    WindowProperty read;
    if (XGetWindowProperty(display, Window(window.winId()), XInternAtom(display, name, False), 0, length, False,
                           XInternAtom(display, type, False), &actualType, &read.format, &read.count, &after,
                           &data) == Success &&
        data) {
        const int itemBytes = read.format == 32 ? int(sizeof(long)) : read.format / 8;
        read.items = QByteArray(reinterpret_cast<const char*>(data), qsizetype(read.count) * itemBytes);
        property = read;
        XFree(data);
    }
    XCloseDisplay(display);
    return property;
}

// The window manager's word on a window: its WM_STATE is NormalState and the window is on screen.
bool managedInNormalState(QWidget& window) {
    if (!window.windowHandle() || !window.windowHandle()->isExposed()) {
        return false;
    }
    const std::optional<WindowProperty> state = windowProperty(window, "WM_STATE", "WM_STATE", 2);
    return state && state->format == 32 && state->count >= 1 &&
           reinterpret_cast<const long*>(state->items.constData())[0] == NormalState;
}

bool hiddenToTray(MainWindow& window) {
    auto* icon = namedChild<QSystemTrayIcon>(window, widgetnames::TrayIcon);
    return !window.isVisible() && window.isMinimized() && icon->isVisible() && icon->toolTip() == "Zemtrak - Clavora";
}

TEST_F(TrayTest, MinimizingWithoutTheOptionKeepsTheTaskBarButton) {
    auto startup = showWindow({}, "[Settings]\nMinimizeToSystemTray=OFF\n");
    MainWindow& window = startup->window();
    window.showMinimized();
    ASSERT_TRUE(waitFor([&] { return window.isMinimized(); }, 10000));
    QCoreApplication::processEvents(); // the deferred reaction to the minimize
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(namedChild<QSystemTrayIcon>(window, widgetnames::TrayIcon)->isVisible());
}

TEST_F(TrayTest, MinimizingWithTheOptionHidesToTheTrayAndAClickBringsItBack) {
    auto startup = showWindow({}, "[Settings]\nMinimizeToSystemTray=ON\n");
    MainWindow& window = startup->window();
    window.showMinimized();
    EXPECT_TRUE(waitFor([&] { return hiddenToTray(window); }, 10000));

    emit namedChild<QSystemTrayIcon>(window, widgetnames::TrayIcon)->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(waitFor([&] { return window.isVisible() && !window.isMinimized(); }, 10000));
    EXPECT_FALSE(namedChild<QSystemTrayIcon>(window, widgetnames::TrayIcon)->isVisible());
}

// The icon's menu opens on a real right click in the notification area, and its items work from the keyboard as
// they do from the mouse.
TEST_F(TrayTest, ARightClickOnTheIconOpensItsMenuWhoseItemsStopAndShow) {
    auto startup = showWindow({}, "[Settings]\nMinimizeToSystemTray=ON\n");
    MainWindow& window = startup->window();
    window.showMinimized();
    ASSERT_TRUE(waitFor([&] { return hiddenToTray(window); }, 10000));
    auto* icon = namedChild<QSystemTrayIcon>(window, widgetnames::TrayIcon);
    // Once the notification area has taken the icon in, it is there on the screen, no longer at the origin of a
    // window of its own.
    ASSERT_TRUE(waitFor([&] { return !icon->geometry().isEmpty() && !icon->geometry().topLeft().isNull(); }, 10000));
    QMenu* menu = window.trayMenu();

    // Chooses the item Steps down from the top of the menu a right click on the icon opens.
    const auto choose = [&](int steps) {
        const QPoint centre = icon->geometry().center();
        // A click that comes while the icon is still taking its last menu's end is lost: click again then.
        for (int attempt = 0; attempt < 5 && !menu->isVisible(); ++attempt) {
            test::runCommand(QStringLiteral("xdotool"),
                             {QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y()),
                              QStringLiteral("click"), QStringLiteral("3")});
            waitFor([&] { return menu->isVisible(); }, 2000);
        }
        ASSERT_TRUE(menu->isVisible()) << "no menu opened on the icon";
        QStringList keys;
        for (int i = 0; i < steps; ++i) {
            keys << QStringLiteral("Down");
        }
        keys << QStringLiteral("Return");
        test::runCommand(QStringLiteral("xdotool"), QStringList{QStringLiteral("key")} + keys);
        ASSERT_TRUE(waitFor([&] { return !menu->isVisible(); }, 10000));
    };

    choose(2); // Stop All Sounds
    EXPECT_TRUE(waitFor([&] { return m_player.stops == 1; }, 5000));
    EXPECT_TRUE(hiddenToTray(window));

    choose(1); // Show Clavora
    EXPECT_TRUE(waitFor([&] { return window.isVisible() && !window.isMinimized(); }, 10000));
    EXPECT_TRUE(waitFor([&] { return managedInNormalState(window); }, 10000));
    EXPECT_FALSE(icon->isVisible());
}

TEST_F(TrayTest, AutoSwitchHidesToTheTrayOnlyAsFirstArgument) {
    const QByteArray both = "[Settings]\nMinimizeToSystemTray=ON\nMinimizeStartup=ON\n";
    for (const QString argument : {"/auto", "/AUTO", "/Auto"}) {
        SCOPED_TRACE(argument.toStdString());
        auto startup = showWindow({argument}, both);
        EXPECT_TRUE(waitFor([&] { return hiddenToTray(startup->window()); }, 10000));
    }
    {
        auto startup = showWindow({"--x", "/auto"}, both);
        waitForAutoSwitch(startup->window());
        EXPECT_TRUE(startup->window().isVisible());
        EXPECT_FALSE(namedChild<QSystemTrayIcon>(startup->window(), widgetnames::TrayIcon)->isVisible());
    }
    {
        // Auto Minimize at Startup unchecked: the switch is ignored.
        auto startup = showWindow({"/auto"}, "[Settings]\nMinimizeToSystemTray=ON\nMinimizeStartup=OFF\n");
        waitForAutoSwitch(startup->window());
        EXPECT_TRUE(startup->window().isVisible());
        EXPECT_FALSE(startup->window().isMinimized());
    }
    {
        // Without the tray option it minimizes to the task bar.
        auto startup = showWindow({"/auto"}, "[Settings]\nMinimizeToSystemTray=OFF\nMinimizeStartup=ON\n");
        EXPECT_TRUE(waitFor([&] { return startup->window().isMinimized(); }, 10000));
        EXPECT_FALSE(namedChild<QSystemTrayIcon>(startup->window(), widgetnames::TrayIcon)->isVisible());
    }
}

TEST_F(TrayTest, OneClickRestoresTheWindowAfterAnAutoStartToTheTray) {
    const QByteArray both = "[Settings]\nMinimizeToSystemTray=ON\nMinimizeStartup=ON\n";
    // Several runs in the one program folder, as the autostart entry starts it at every log-in.
    for (int run = 0; run < 4; ++run) {
        SCOPED_TRACE(run);
        auto startup = showWindow({"/auto"}, both);
        MainWindow& window = startup->window();
        ASSERT_TRUE(waitFor([&] { return hiddenToTray(window); }, 10000));

        auto* icon = namedChild<QSystemTrayIcon>(window, widgetnames::TrayIcon);
        emit icon->activated(QSystemTrayIcon::Trigger);
        // Restored once the window manager has taken it back in normal state; it must stay so.
        ASSERT_TRUE(
            waitFor([&] { return window.isVisible() && !window.isMinimized() && managedInNormalState(window); }, 5000));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(window.isMinimized());
        EXPECT_FALSE(icon->isVisible());
    }
}

TEST_F(TrayTest, AStartUpBoxDoesNotLetTheAutoSwitchRunBeforeTheWindowShows) {
    // No audio output: start-up shows its box, and the box runs its own loop for as long as nobody answers it.
    test::ScopedEnvironment noAudio("SDL_AUDIODRIVER", "no-such-driver");
    test::writeBytes(m_root.file("program/settings.ini"), "[Settings]\nMinimizeToSystemTray=ON\nMinimizeStartup=ON\n");
    Startup startup(m_services, {"/auto"});
    QString shown;
    bool untouchedDuringTheBox = false;
    setMessageBoxAnswer([&](QMessageBox& box) {
        shown = box.text();
        // Neither waiting to fire nor fired: the switch has not been looked at while the window is not shown.
        MainWindow& window = startup.window();
        untouchedDuringTheBox = !window.findChild<QTimer*>(widgetnames::AutoSwitchTimer)->isActive() &&
                                !window.isMinimized() &&
                                !namedChild<QSystemTrayIcon>(window, widgetnames::TrayIcon)->isVisible();
        return QMessageBox::Ok;
    });
    const auto restore = qScopeGuard([] { setMessageBoxAnswer({}); });
    startup.run();
    ASSERT_EQ(shown, "Could not initialize audio engine.");
    MainWindow& window = startup.window();
    EXPECT_TRUE(untouchedDuringTheBox);

    window.show();
    EXPECT_TRUE(waitFor([&] { return hiddenToTray(window); }, 5000)) << window.isVisible() << window.isMinimized();
}

// The title the window manager is given for a top-level window, as it would show it.
QString netWmName(QWidget& window) {
    const std::optional<WindowProperty> name = windowProperty(window, "_NET_WM_NAME", "UTF8_STRING", 1024);
    return name ? QString::fromUtf8(name->items) : QString();
}

// The toolkit appends an application display name to every caption; dialog captions must be exactly their texts.
TEST(CaptionTest, DialogCaptionsCarryExactlyTheirText) {
    if (!onXDisplay()) {
        GTEST_SKIP() << "needs the X display of the test rig";
    }
    configureApplication(*qApp);
    EXPECT_EQ(QApplication::applicationDisplayName(), "Clavora"); // the caption of plain message boxes
    EXPECT_EQ(QApplication::font().family(), "DejaVu Sans");
    EXPECT_EQ(QApplication::font().pixelSize(), 11);

    QMessageBox box(QMessageBox::Question, "Confirmation", "Restart Application?", QMessageBox::Yes | QMessageBox::No);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_TRUE(waitFor([&] { return netWmName(box) == "Confirmation"; }, 2000)) << netWmName(box).toStdString();
    box.close();
}

} // namespace
