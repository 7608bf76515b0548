// Minimizing, the notification-area icon, the /auto start and the captions the window manager shows, on a real X
// display.
#include "app/application.h"
#include "app/identity.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/startup.h"
#include "platform/fake/fakeautostart.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/support/platformtest.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"
#include "tests/support/windowmanager.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

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
        auto startup = std::make_unique<Startup>(arguments);
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
        QTimer* timer = namedChild<QTimer>(window, "TimerParam");
        EXPECT_TRUE(waitFor([&] { return !timer->isActive(); }, 10000));
        QCoreApplication::processEvents();
    }

    static inline std::unique_ptr<test::WindowManager> s_windowManager;
};

// The window manager's word on a window: its WM_STATE is NormalState and the window is on screen.
bool managedInNormalState(QWidget& window) {
    if (!window.windowHandle() || !window.windowHandle()->isExposed()) {
        return false;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    bool normal = false;
    if (XGetWindowProperty(display, Window(window.winId()), wmState, 0, 2, False, wmState, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        normal = format == 32 && count >= 1 && reinterpret_cast<const long*>(data)[0] == NormalState;
        XFree(data);
    }
    XCloseDisplay(display);
    return normal;
}

bool hiddenToTray(MainWindow& window) {
    auto* icon = namedChild<QSystemTrayIcon>(window, "TrayIcon1");
    return !window.isVisible() && window.isMinimized() && icon->isVisible() && icon->toolTip() == "Zemtrak - Clavora";
}

TEST_F(TrayTest, MinimizingWithoutTheOptionKeepsTheTaskBarButton) {
    auto startup = showWindow({}, "[Settings]\nMinimizeToSystemTray=OFF\n");
    MainWindow& window = startup->window();
    window.showMinimized();
    ASSERT_TRUE(waitFor([&] { return window.isMinimized(); }, 10000));
    QCoreApplication::processEvents(); // the deferred reaction to the minimize
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(namedChild<QSystemTrayIcon>(window, "TrayIcon1")->isVisible());
}

TEST_F(TrayTest, MinimizingWithTheOptionHidesToTheTrayAndAClickBringsItBack) {
    auto startup = showWindow({}, "[Settings]\nMinimizeToSystemTray=ON\n");
    MainWindow& window = startup->window();
    window.showMinimized();
    EXPECT_TRUE(waitFor([&] { return hiddenToTray(window); }, 10000));

    emit namedChild<QSystemTrayIcon>(window, "TrayIcon1")->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(waitFor([&] { return window.isVisible() && !window.isMinimized(); }, 10000));
    EXPECT_FALSE(namedChild<QSystemTrayIcon>(window, "TrayIcon1")->isVisible());
}

TEST_F(TrayTest, AutoSwitchHidesToTheTrayOnlyAsFirstArgument) {
    const QByteArray both = "[Settings]\nMinimizeToSystemTray=ON\nMinimizeStartup=ON\n";
    for (const QString& argument : {"/auto", "/AUTO", "/Auto"}) {
        SCOPED_TRACE(argument.toStdString());
        auto startup = showWindow({argument}, both);
        EXPECT_TRUE(waitFor([&] { return hiddenToTray(startup->window()); }, 10000));
    }
    {
        auto startup = showWindow({"--x", "/auto"}, both);
        waitForAutoSwitch(startup->window());
        EXPECT_TRUE(startup->window().isVisible());
        EXPECT_FALSE(namedChild<QSystemTrayIcon>(startup->window(), "TrayIcon1")->isVisible());
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
        EXPECT_FALSE(namedChild<QSystemTrayIcon>(startup->window(), "TrayIcon1")->isVisible());
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

        auto* icon = namedChild<QSystemTrayIcon>(window, "TrayIcon1");
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
    Startup startup({"/auto"});
    QString shown;
    bool untouchedDuringTheBox = false;
    setMessageBoxAnswer([&](QMessageBox& box) {
        shown = box.text();
        // Neither waiting to fire nor fired: the switch has not been looked at while the window is not shown.
        MainWindow& window = startup.window();
        untouchedDuringTheBox = !window.findChild<QTimer*>("TimerParam")->isActive() && !window.isMinimized() &&
                                !namedChild<QSystemTrayIcon>(window, "TrayIcon1")->isVisible();
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
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return "(no display)";
    }
    const Atom name = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    QString title;
    if (XGetWindowProperty(display, Window(window.winId()), name, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        title = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(count));
        XFree(data);
    }
    XCloseDisplay(display);
    return title;
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
