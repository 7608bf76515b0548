// The on-screen keyboard against a real X server: clicks go out through XTest and come back as key events to the
// focused widget, captions follow setxkbmap. The layout, Caps Lock and Num Lock are put back at the end, so the shared
// display is left as found.
#include "display/onscreenkeyboard.h"
#include "platform/x11/linuxkeyboard.h"
#include "platform/x11/linuxkeycaptions.h"
#include "platform/x11/linuxkeyinjector.h"
#include "tests/support/testsupport.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
// Xlib's event names would shadow Qt's.
#undef KeyPress
#undef KeyRelease

#include <algorithm>
#include <memory>

namespace clavora {
namespace {

using platform::PhysicalKey;

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

// Key presses the focused widget received, with the time since the test's clock started.
class KeyLog : public QObject {
public:
    struct Entry {
        qint64 ms;
        int key;
        QString text;
    };
    explicit KeyLog(QElapsedTimer& clock) : m_clock(clock) {}
    std::vector<Entry> presses;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            presses.push_back({m_clock.elapsed(), key->key(), key->text()});
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer& m_clock;
};

class KeyboardOnX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            GTEST_SKIP() << "needs an X display";
        }
        m_display.reset(XOpenDisplay(nullptr));
        ASSERT_TRUE(m_display) << "cannot open the X display";
        m_initialLocks = locks();
        m_keyboardService = std::make_unique<platform::LinuxKeyboard>();
        m_captions = std::make_unique<platform::LinuxKeyCaptions>();
        m_injector = std::make_unique<platform::LinuxKeyInjector>();
        ASSERT_TRUE(m_captions->connected());
        ASSERT_TRUE(m_injector->available());

        m_clock.start();
        m_log = std::make_unique<KeyLog>(m_clock);
        m_window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(m_window.get());
        m_edit = new QLineEdit(m_window.get());
        m_edit->installEventFilter(m_log.get());
        layout->addWidget(m_edit);
        m_keyboard = new OnScreenKeyboard(*m_keyboardService, *m_captions, *m_injector, m_window.get());
        layout->addWidget(m_keyboard);
        m_window->resize(860, 330);
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        m_edit->setFocus();
        ASSERT_EQ(m_keyboard->layout().name, "Standard101") << "the display should start with a US layout";
    }

    void TearDown() override {
        if (!m_display) {
            return;
        }
        m_window.reset();
        if (m_layoutChanged) {
            run("setxkbmap", {"-layout", "us"});
        }
        // Put Caps Lock and Num Lock back as they were.
        const unsigned changed = locks() ^ m_initialLocks;
        if (changed & LockMask) {
            run("xdotool", {"key", "Caps_Lock"});
        }
        if (changed & numLockMask()) {
            run("xdotool", {"key", "Num_Lock"});
        }
    }

    bool run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForStarted(5000) || !process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(2000);
            ADD_FAILURE() << program.toStdString() << " did not run";
            return false;
        }
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    unsigned locks() {
        XkbStateRec state{};
        XkbGetState(m_display.get(), XkbUseCoreKbd, &state);
        return state.locked_mods;
    }
    unsigned numLockMask() { return XkbKeysymToModifiers(m_display.get(), XK_Num_Lock); }

    int key(int scanCode, bool extended = false) const {
        const int index = m_keyboard->indexOfKey(PhysicalKey{scanCode, extended});
        EXPECT_GE(index, 0) << "no key with scan code " << scanCode;
        return index;
    }
    QPoint centre(int index) const { return m_keyboard->keyInfo(index).rect.center(); }
    void click(int index) { QTest::mouseClick(m_keyboard, Qt::LeftButton, Qt::NoModifier, centre(index)); }

    // Waits until the line edit shows `text`; the keys make a round trip through the X server first.
    bool typed(const QString& text) {
        const bool ok = test::waitFor([&] { return m_edit->text() == text; }, 3000);
        if (!ok) {
            ADD_FAILURE() << "typed \"" << m_edit->text().toStdString() << "\", expected \"" << text.toStdString()
                          << "\"";
        }
        return ok;
    }

    std::unique_ptr<Display, DisplayCloser> m_display;
    unsigned m_initialLocks = 0;
    bool m_layoutChanged = false;
    std::unique_ptr<platform::LinuxKeyboard> m_keyboardService;
    std::unique_ptr<platform::LinuxKeyCaptions> m_captions;
    std::unique_ptr<platform::LinuxKeyInjector> m_injector;
    QElapsedTimer m_clock;
    std::unique_ptr<KeyLog> m_log;
    std::unique_ptr<QWidget> m_window;
    QLineEdit* m_edit = nullptr;
    OnScreenKeyboard* m_keyboard = nullptr;
};

TEST_F(KeyboardOnX11, AClickTypesTheKeyIntoTheFocusedWidget) {
    EXPECT_EQ(m_keyboard->keyInfo(key(30)).caption, "a");
    click(key(30));
    typed("a");
    click(key(0x0E));
    typed("");
    EXPECT_TRUE(m_edit->hasFocus());
}

TEST_F(KeyboardOnX11, ShiftThenALetterTypesTheCapitalAndLetsShiftGo) {
    click(m_keyboard->indexOfModifier(modifier::Shift));
    EXPECT_EQ(m_keyboard->keyInfo(key(30)).caption, "A");
    EXPECT_EQ(m_keyboard->keyInfo(key(3)).caption, "@");
    click(key(30));
    typed("A");
    EXPECT_FALSE(m_keyboard->isLatched(modifier::Shift));
    EXPECT_TRUE(test::waitFor([&] { return !m_keyboardService->snapshot().isDown(platform::vk::Shift); }, 2000))
        << "Shift is still down in the server";
    click(key(30));
    typed("Aa");
}

TEST_F(KeyboardOnX11, APressLetGoOutsideTheKeySendsNothing) {
    QTest::mousePress(m_keyboard, Qt::LeftButton, Qt::NoModifier, centre(key(30)));
    QTest::mouseRelease(m_keyboard, Qt::LeftButton, Qt::NoModifier, centre(key(31)));
    QTest::mousePress(m_keyboard, Qt::LeftButton, Qt::NoModifier, centre(key(30)));
    QTest::mouseRelease(m_keyboard, Qt::LeftButton, Qt::NoModifier, m_edit->geometry().center() - m_keyboard->pos());
    // A key clicked afterwards shows that the server had the chance to deliver whatever was sent before it.
    click(key(48));
    typed("b");
}

TEST_F(KeyboardOnX11, HoldingAKeyRepeatsAfter300msThenEvery50ms) {
    m_log->presses.clear();
    const qint64 pressedAt = m_clock.elapsed();
    QTest::mousePress(m_keyboard, Qt::LeftButton, Qt::NoModifier, centre(key(30)));
    // Held until the press and five repeats have arrived, however long the machine takes to deliver them.
    ASSERT_TRUE(test::waitFor([&] { return m_log->presses.size() >= 6; }, 5000)) << "the held key does not repeat";
    const qint64 releasedAt = m_clock.elapsed();
    QTest::mouseRelease(m_keyboard, Qt::LeftButton, Qt::NoModifier, centre(key(30)));
    ASSERT_TRUE(
        test::waitFor([&] { return m_log->presses.size() >= 2 && m_log->presses.back().ms >= releasedAt; }, 3000));

    std::vector<qint64> repeats;
    for (const KeyLog::Entry& entry : m_log->presses) {
        EXPECT_EQ(entry.key, Qt::Key_A);
        if (entry.ms < releasedAt) {
            repeats.push_back(entry.ms - pressedAt);
        }
    }
    ASSERT_GE(repeats.size(), 5u) << "held for the press and five repeats";
    // Never early (whole milliseconds on both ends of the wait may cost one); how late a busy machine delivers them
    // is not the keyboard's doing.
    EXPECT_GE(repeats.front(), 299) << "the first repeat waits 300 ms";
    std::vector<qint64> gaps;
    for (size_t i = 1; i < repeats.size(); ++i) {
        gaps.push_back(repeats[i] - repeats[i - 1]);
    }
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    const qint64 medianGap = gaps[gaps.size() / 2];
    EXPECT_GE(medianGap, 35);
    EXPECT_LT(medianGap, repeats.front()) << "the repeats come faster than the first";
    // The let-go sends one more, so the text has a character per press.
    EXPECT_TRUE(typed(QString(int(repeats.size()) + 1, QLatin1Char('a'))));
}

TEST_F(KeyboardOnX11, FnWithTheDigitFiveSendsF5) {
    click(m_keyboard->indexOfModifier(modifier::Fn));
    EXPECT_EQ(m_keyboard->keyInfo(key(6)).caption, "F5");
    m_log->presses.clear();
    click(key(6));
    ASSERT_TRUE(test::waitFor([&] { return !m_log->presses.empty(); }, 3000));
    EXPECT_EQ(m_log->presses.front().key, Qt::Key_F5);
    EXPECT_TRUE(m_edit->text().isEmpty());
}

TEST_F(KeyboardOnX11, CapsSwitchesTheServersCapsLockAndFollowsIt) {
    const int caps = m_keyboard->indexOfModifier(modifier::Caps);
    ASSERT_EQ(locks() & LockMask, 0u);
    click(caps);
    ASSERT_TRUE(test::waitFor([&] { return (locks() & LockMask) != 0; }, 2000));
    EXPECT_TRUE(m_keyboard->keyInfo(caps).down);
    EXPECT_EQ(m_keyboard->keyInfo(key(30)).caption, "A");
    click(key(30));
    typed("A");

    // The physical Caps Lock key: the keyboard hears of the change and shows it.
    ASSERT_TRUE(run("xdotool", {"key", "Caps_Lock"}));
    EXPECT_TRUE(test::waitFor(
        [&] { return !m_keyboard->keyInfo(caps).down && m_keyboard->keyInfo(key(30)).caption == "a"; }, 3000));
    ASSERT_TRUE(run("xdotool", {"key", "Caps_Lock"}));
    EXPECT_TRUE(test::waitFor(
        [&] { return m_keyboard->keyInfo(caps).down && m_keyboard->keyInfo(key(30)).caption == "A"; }, 3000));
    click(caps);
    ASSERT_TRUE(test::waitFor([&] { return (locks() & LockMask) == 0; }, 2000));
    EXPECT_FALSE(m_keyboard->keyInfo(caps).down);
}

TEST_F(KeyboardOnX11, TheVariantAndCaptionsFollowSetxkbmap) {
    m_layoutChanged = true;
    ASSERT_TRUE(run("setxkbmap", {"-layout", "de"}));
    ASSERT_TRUE(test::waitFor([&] { return m_keyboard->layout().name == "Standard102"; }, 5000))
        << m_keyboard->localeName().toStdString();
    EXPECT_EQ(m_keyboard->localeName(), "de-DE");
    EXPECT_GE(m_keyboard->indexOfKey(PhysicalKey{86, false}), 0);
    EXPECT_EQ(m_keyboard->keyInfo(key(21)).caption, "z");
    EXPECT_EQ(m_keyboard->keyInfo(key(44)).caption, "y");
    EXPECT_EQ(m_keyboard->keyInfo(key(86)).caption, "<");
    EXPECT_EQ(m_keyboard->keyInfo(key(0x53, true)).caption, "Entf");
    click(key(21));
    typed("z");

    ASSERT_TRUE(run("setxkbmap", {"-layout", "us"}));
    ASSERT_TRUE(test::waitFor([&] { return m_keyboard->layout().name == "Standard101"; }, 5000));
    EXPECT_EQ(m_keyboard->indexOfKey(PhysicalKey{86, false}), -1);
    EXPECT_EQ(m_keyboard->keyInfo(key(21)).caption, "y");
}

TEST_F(KeyboardOnX11, TheMiddleKeyOfTheNumericPadTypesFiveWithNumLockOff) {
    ASSERT_EQ(locks() & numLockMask(), 0u) << "the display should start with Num Lock off";
    m_keyboard->setLayoutType(KeyboardLayoutType::NumPad);
    const int middle = key(0x4C);
    EXPECT_EQ(m_keyboard->keyInfo(middle).caption, "5");
    click(middle);
    typed("5");
    click(key(0x37));
    typed("5*");
    EXPECT_EQ(locks() & numLockMask(), 0u) << "Num Lock is back off";
}

} // namespace
} // namespace clavora
