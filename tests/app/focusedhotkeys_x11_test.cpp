// Hotkey mode with the main window focused and in the background, on a real X display: keys pressed by their
// position with XTest under several layouts, the window's own key handling, the key watch and the poll all real, and
// what played recorded by the fallback player (the bound files are no audio). A stroke plays every name it has once,
// wherever the focus is: the window's handler plays the text typed, the rest comes from hotkey mode.
#include "app/mainwindow.h"
#include "app/startup.h"
#include "app/widgetnames.h"
#include "display/onscreenkeyboard.h"
#include "tests/support/platformtest.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <memory>

using namespace clavora;
using clavora::test::namedAction;
using clavora::test::namedChild;
using clavora::test::runCommand;
using clavora::test::waitFor;

namespace {

// X keycodes of the key positions pressed (evdev code + 8).
constexpr unsigned KeyDigit1 = 10;
constexpr unsigned KeyQ = 24;
constexpr unsigned KeyF = 41;
constexpr unsigned KeyApostrophe = 48; // AC11
constexpr unsigned KeyShiftLeft = 50;
constexpr unsigned KeyKeypadDecimal = 91;
constexpr unsigned KeyAltGr = 108;

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

class FocusedHotkeysOnX11 : public test::PlatformTest {
protected:
    void SetUp() override {
#ifndef CLAVORA_PLATFORM_LINUX
        GTEST_SKIP() << "needs the X11 keyboard services";
#endif
        if (QGuiApplication::platformName() != "xcb") {
            GTEST_SKIP() << "needs the X display of the test rig";
        }
        m_display.reset(XOpenDisplay(nullptr));
        ASSERT_NE(m_display, nullptr);
        m_numLockWasOn = numLockOn();
        ASSERT_TRUE(QDir().mkpath(m_root.file("program")));
        ASSERT_TRUE(QFile::copy(test::programDir() + "/clavora", m_root.file("program/clavora")));
        m_files.programFile = m_root.file("program/clavora");
        // The keypad's decimal key is named after the locale's separator.
        m_locale.separator = QLatin1Char(',');
    }

    void TearDown() override {
        if (!m_display) {
            return;
        }
        m_startup.reset();
        if (m_layoutChanged) {
            runCommand(QStringLiteral("setxkbmap"), {"-layout", "us", "-variant", "", "-option", ""});
        }
        if (numLockOn() != m_numLockWasOn) {
            runCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Num_Lock")});
        }
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("0"), QStringLiteral("0")});
    }

    // Binds each name to a file of its own (named after it) and starts the program with hotkey mode on.
    void start(const QStringList& names) {
        QByteArray keys;
        for (const QString& name : names) {
            const QString file = fileFor(name);
            test::writeBytes(file, "not a sound");
            keys += (name + "|" + file + "\n").toUtf8();
        }
        test::writeBytes(m_root.file("program/keys.db"), keys);
        m_startup = std::make_unique<Startup>(m_realKeys.services(), QStringList());
        m_startup->run();
        MainWindow& form = m_startup->window();
        form.show();
        auto* timer = namedChild<QTimer>(form, widgetnames::HotkeyTimer);
        ASSERT_NE(timer, nullptr);
        QObject::connect(timer, &QTimer::timeout, &form, [this] { ++m_ticks; });
    }

    QString fileFor(const QString& name) const {
        QString safe;
        for (const QChar c : name) {
            safe += c.isLetterOrNumber() ? QString(c) : QString::number(c.unicode());
        }
        return m_root.file("program/" + safe + ".txt");
    }

    void setLayout(const QString& layout) {
        m_layoutChanged = true;
        runCommand(QStringLiteral("setxkbmap"), {"-layout", layout, "-variant", "", "-option", ""});
    }

    bool numLockOn() {
        Bool on = False;
        XkbGetNamedIndicator(m_display.get(), XInternAtom(m_display.get(), "Num Lock", False), nullptr, &on, nullptr,
                             nullptr);
        return on;
    }
    void setNumLock(bool on) {
        if (numLockOn() != on) {
            runCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Num_Lock")});
        }
        ASSERT_TRUE(waitFor([&] { return numLockOn() == on; }, 5000));
    }

    // Gives the focus to Window and waits until the program knows.
    static bool focus(QWidget& window) {
        window.show();
        window.raise();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }

    // One stroke of the keys at these positions: pressed in order, released in reverse.
    void stroke(std::initializer_list<unsigned> keycodes) {
        Display* display = m_display.get();
        for (const unsigned keycode : keycodes) {
            XTestFakeKeyEvent(display, keycode, True, CurrentTime);
        }
        for (auto keycode = std::rbegin(keycodes); keycode != std::rend(keycodes); ++keycode) {
            XTestFakeKeyEvent(display, *keycode, False, CurrentTime);
        }
        XSync(display, False);
    }

    // The files played once Count of them have, and a few more ticks of the poll for any play that should not come.
    QStringList playedAfter(qsizetype count) {
        waitFor([&] { return m_log.refusedSounds().size() >= count; }, 5000);
        const int ticks = m_ticks;
        waitFor([&] { return m_ticks >= ticks + 4; }, 5000);
        QStringList played = m_log.refusedSounds();
        played.sort();
        m_log.clear();
        return played;
    }

    test::RealKeyServices m_realKeys{m_services};
    // The bound files are no sound: the sound player refuses each by name, which the log records.
    test::AudioLog m_log;
    std::unique_ptr<Display, DisplayCloser> m_display;
    std::unique_ptr<Startup> m_startup;
    bool m_layoutChanged = false;
    bool m_numLockWasOn = false;
    int m_ticks = 0;
};

// The names a stroke has that are not the text it types play in the focused window as in the background, and the
// one that is plays once.
TEST_F(FocusedHotkeysOnX11, AStrokePlaysEachOfItsNamesOnceFocusedOrNot) {
    start({"1", "f", "q", "`", ","});
    QWidget other;
    other.setWindowTitle(QStringLiteral("focus holder"));
    other.resize(200, 100);
    const struct {
        const char* what;
        const char* layout;
        const char* locale;
        std::initializer_list<unsigned> keys;
        QStringList focused;
        QStringList background;
    } cases[] = {
        {"q", "us", "en-US", {KeyQ}, {"q"}, {"q"}},
        {"Shift+1 types !", "us", "en-US", {KeyShiftLeft, KeyDigit1}, {"1"}, {"1"}},
        {"the French digit key 1 types &", "fr", "fr-FR", {KeyDigit1}, {"1"}, {"1"}},
        {"the Russian F key types a Cyrillic letter", "ru", "ru-RU", {KeyF}, {"f"}, {"f"}},
        {"German AltGr+Q types @", "de", "de-DE", {KeyAltGr, KeyQ}, {"q"}, {"q"}},
        {"the UK key named ` types '", "gb", "en-GB", {KeyApostrophe}, {"`"}, {"`"}},
        {"the keypad decimal key types . under a comma locale", "us", "en-US", {KeyKeypadDecimal}, {","}, {","}},
    };
    setNumLock(true);
    MainWindow& form = m_startup->window();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setLayout(QString::fromLatin1(c.layout));
        ASSERT_TRUE(waitFor([&] { return m_realKeys.services().keyboard().keyboardLocaleName() == c.locale; }, 5000))
            << m_realKeys.services().keyboard().keyboardLocaleName().toStdString();
        for (const bool focused : {true, false}) {
            ASSERT_TRUE(focus(focused ? static_cast<QWidget&>(form) : other)) << "the focus did not move";
            m_log.clear();
            stroke(c.keys);
            QStringList expected;
            for (const QString& name : focused ? c.focused : c.background) {
                expected << fileFor(name);
            }
            expected.sort();
            EXPECT_EQ(playedAfter(expected.size()), expected) << (focused ? "focused" : "in the background");
        }
    }
}

// A click on the on-screen NumPad types the keypad's digit even with Num Lock off, and plays the digit's name only:
// not the navigation key's name the key has with the lock off.
TEST_F(FocusedHotkeysOnX11, TheOnScreenNumPadPlaysTheDigitOnlyWithNumLockOff) {
    start({"7", "HOME", "8", "UP", ",", "DELETE"});
    setNumLock(false);
    MainWindow& form = m_startup->window();
    ASSERT_TRUE(focus(form));
    namedAction(form, widgetnames::NumPadLayoutAction)->trigger();
    QCoreApplication::processEvents();
    auto* keyboard = qobject_cast<OnScreenKeyboard*>(namedChild<QWidget>(form, widgetnames::OnScreenKeyboard));
    ASSERT_NE(keyboard, nullptr);
    const struct {
        int scanCode;
        const char* played;
    } cases[] = {{0x47, "7"}, {0x48, "8"}, {0x53, ","}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.played);
        const int index = keyboard->indexOfKey(platform::PhysicalKey{c.scanCode, false});
        ASSERT_GE(index, 0);
        const QPoint at = keyboard->mapToGlobal(keyboard->keyInfo(index).rect.center());
        m_log.clear();
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(at.x()),
                                               QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")});
        EXPECT_EQ(playedAfter(1), QStringList{fileFor(QString::fromLatin1(c.played))});
        EXPECT_FALSE(numLockOn()) << "the lock is left as it was";
    }
}

} // namespace
