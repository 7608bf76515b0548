// The X11 keyboard reader against a real X server: keys pressed with xdotool (and, where a key has to be pressed
// by its position, with XTest), layouts switched with setxkbmap. Every key pressed is released and the layout and
// lock keys are put back at the end, so the shared display is left as found.
#include "platform/x11/linuxkeyboard.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <functional>
#include <memory>

namespace clavora::platform {
namespace {

// Physical keys by their X keycode on the evdev keycode set the test display uses.
constexpr unsigned KeycodeAE01 = 10; // "1" on US
constexpr unsigned KeycodeAD01 = 24; // "q" on US
constexpr unsigned KeycodeAD06 = 29; // "y" on US, "z" on German
constexpr unsigned KeycodeTLDE = 49; // "`" on US
constexpr unsigned KeycodeAC11 = 48; // "'" on US and UK
constexpr unsigned KeycodeBKSL = 51; // backslash on US, "#" on UK
constexpr unsigned KeycodeLSGT = 94; // backslash on UK, beside the left Shift
constexpr unsigned KeycodeRTSH = 62;
constexpr unsigned KeycodeRCTL = 105;
constexpr unsigned KeycodeRALT = 108;

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

class LinuxKeyboardX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            GTEST_SKIP() << "needs an X display";
        }
        m_display.reset(XOpenDisplay(nullptr));
        ASSERT_TRUE(m_display) << "cannot open the X display";
        m_keyboard = std::make_unique<LinuxKeyboard>();
        ASSERT_TRUE(m_keyboard->connected());
        m_initialIndicators = indicators();
    }

    void TearDown() override {
        if (!m_display) {
            return;
        }
        for (const QString& key : std::as_const(m_heldKeysyms)) {
            run("xdotool", {"keyup", key});
        }
        for (unsigned keycode : std::as_const(m_heldKeycodes)) {
            fakeKey(keycode, false);
        }
        if (m_layoutChanged) {
            lockGroup(0);
            run("setxkbmap", {"-layout", "us", "-variant", "", "-option", ""});
        }
        // Put Caps Lock and Num Lock back as they were.
        const unsigned now = indicators();
        if ((now ^ m_initialIndicators) & 1u) {
            run("xdotool", {"key", "Caps_Lock"});
        }
        if ((now ^ m_initialIndicators) & 2u) {
            run("xdotool", {"key", "Num_Lock"});
        }
    }

    // Runs a tool to its end; one that hangs is killed (by its own process) and counts as failed.
    bool run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForStarted(5000)) {
            ADD_FAILURE() << program.toStdString() << " did not start";
            return false;
        }
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(2000);
            ADD_FAILURE() << program.toStdString() << " hung";
            return false;
        }
        const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        EXPECT_TRUE(ok) << program.toStdString() << " " << arguments.join(' ').toStdString() << ": "
                        << process.readAllStandardError().toStdString();
        return ok;
    }

    void keyDown(const QString& keysym) {
        if (run("xdotool", {"keydown", keysym})) {
            m_heldKeysyms << keysym;
        }
    }
    void keyUp(const QString& keysym) {
        run("xdotool", {"keyup", keysym});
        m_heldKeysyms.removeAll(keysym);
    }
    void tap(const QString& keysym) { run("xdotool", {"key", keysym}); }

    // Presses a key by its position, whatever the layout puts on it.
    void fakeKey(unsigned keycode, bool down) {
        XTestFakeKeyEvent(m_display.get(), keycode, down ? True : False, CurrentTime);
        XSync(m_display.get(), False);
        if (down) {
            m_heldKeycodes << keycode;
        } else {
            m_heldKeycodes.removeAll(keycode);
        }
    }

    void lockGroup(unsigned group) {
        XkbLockGroup(m_display.get(), XkbUseCoreKbd, group);
        XSync(m_display.get(), False);
    }

    void setLayout(const QString& layout, const QStringList& more = {}) {
        m_layoutChanged = true;
        run("setxkbmap", QStringList{"-layout", layout} + more);
    }

    // Bit 0 Caps Lock, bit 1 Num Lock, from the server directly.
    unsigned indicators() {
        unsigned result = 0;
        Bool on = False;
        if (XkbGetNamedIndicator(m_display.get(), XInternAtom(m_display.get(), "Caps Lock", False), nullptr, &on,
                                 nullptr, nullptr) &&
            on) {
            result |= 1u;
        }
        if (XkbGetNamedIndicator(m_display.get(), XInternAtom(m_display.get(), "Num Lock", False), nullptr, &on,
                                 nullptr, nullptr) &&
            on) {
            result |= 2u;
        }
        return result;
    }

    // The server takes requests from several clients in its own order, so what another client did shows up a
    // moment later; waits until the condition holds or two seconds have gone.
    static bool eventually(const std::function<bool()>& condition) { return test::waitFor(condition, 2000); }
    bool eventuallyDown(int code) {
        return eventually([&] { return m_keyboard->snapshot().isDown(code); });
    }
    bool eventuallyUp(int code) {
        return eventually([&] { return !m_keyboard->snapshot().isDown(code); });
    }
    bool eventuallyLocale(const QString& name) {
        return eventually([&] { return m_keyboard->keyboardLocaleName() == name; });
    }

    std::unique_ptr<Display, DisplayCloser> m_display;
    std::unique_ptr<LinuxKeyboard> m_keyboard;
    QStringList m_heldKeysyms;
    QList<unsigned> m_heldKeycodes;
    bool m_layoutChanged = false;
    unsigned m_initialIndicators = 0;
};

TEST_F(LinuxKeyboardX11, KeysGoDownAndUpUnderTheirCodes) {
    const struct {
        const char* keysym; // pressed with xdotool; or by keycode, where xdotool adds the left-hand modifier
        int code;
        std::initializer_list<int> alsoDown; // the side-neutral code of a modifier
        std::initializer_list<int> notDown;
        unsigned keycode = 0;
    } cases[] = {
        {"a", 'A', {}, {'B'}},
        {"z", 'Z', {}, {'Y'}},
        {"7", '7', {}, {vk::Numpad0 + 7}},
        {"Shift_L", vk::LShift, {vk::Shift}, {vk::RShift}},
        {"Shift_R", vk::RShift, {vk::Shift}, {vk::LShift}, KeycodeRTSH},
        {"Control_L", vk::LControl, {vk::Control}, {vk::RControl}},
        {"Control_R", vk::RControl, {vk::Control}, {vk::LControl}, KeycodeRCTL},
        {"Alt_L", vk::LMenu, {vk::Menu}, {vk::RMenu}},
        {"F1", vk::F1, {}, {}},
        {"F5", vk::F1 + 4, {}, {}},
        {"F12", vk::F12, {}, {}},
        {"Return", vk::Return, {}, {}},
        {"space", vk::Space, {}, {}},
        {"Escape", vk::Escape, {}, {}},
        {"BackSpace", vk::Back, {}, {}},
        {"Tab", vk::Tab, {}, {}},
        {"Home", vk::Home, {}, {}},
        {"Prior", vk::Prior, {}, {}},
        {"Left", vk::Left, {}, {}},
        {"Delete", vk::Delete, {}, {}},
        {"Print", vk::Snapshot, {}, {}},
        {"Pause", vk::Pause, {}, {}},
        {"Super_L", vk::LWin, {}, {}},
        {"Menu", vk::Apps, {}, {}},
        {"grave", vk::Oem3, {}, {}},
        {"KP_Add", vk::Add, {}, {}},
        {"KP_Divide", vk::Divide, {}, {}},
        {"KP_Enter", vk::Return, {}, {}},
    };
    ASSERT_TRUE(eventuallyLocale(QStringLiteral("en-US")));
    for (const auto& row : cases) {
        SCOPED_TRACE(row.keysym);
        const QString keysym = QString::fromLatin1(row.keysym);
        if (row.keycode) {
            fakeKey(row.keycode, true);
        } else {
            keyDown(keysym);
        }
        EXPECT_TRUE(eventuallyDown(row.code));
        const KeyStateSnapshot held = m_keyboard->snapshot();
        for (int code : row.alsoDown) {
            EXPECT_TRUE(held.isDown(code)) << "code " << code;
        }
        for (int code : row.notDown) {
            EXPECT_FALSE(held.isDown(code)) << "code " << code;
        }
        // Neutral modifier codes stay up for keys that are none.
        if (row.alsoDown.size() == 0) {
            EXPECT_FALSE(held.isDown(vk::Shift) || held.isDown(vk::Control) || held.isDown(vk::Menu));
        }
        if (row.keycode) {
            fakeKey(row.keycode, false);
        } else {
            keyUp(keysym);
        }
        EXPECT_TRUE(eventuallyUp(row.code));
        for (int code : row.alsoDown) {
            EXPECT_FALSE(m_keyboard->snapshot().isDown(code)) << "code " << code;
        }
    }
}

TEST_F(LinuxKeyboardX11, ModifierHeldWithALetterShowsBoth) {
    keyDown(QStringLiteral("Control_L"));
    keyDown(QStringLiteral("q"));
    ASSERT_TRUE(eventuallyDown('Q'));
    const KeyStateSnapshot keys = m_keyboard->snapshot();
    EXPECT_TRUE(keys.isDown(vk::LControl));
    EXPECT_TRUE(keys.isDown(vk::Control));
    keyUp(QStringLiteral("q"));
    keyUp(QStringLiteral("Control_L"));
    EXPECT_TRUE(eventuallyUp(vk::Control));
}

TEST_F(LinuxKeyboardX11, RightAltIsTheRightMenuKeyUnderEveryLayout) {
    for (const char* layout : {"us", "gb", "de"}) {
        SCOPED_TRACE(layout);
        setLayout(QString::fromLatin1(layout));
        fakeKey(KeycodeRALT, true);
        EXPECT_TRUE(eventuallyDown(vk::RMenu));
        EXPECT_TRUE(m_keyboard->snapshot().isDown(vk::Menu));
        EXPECT_FALSE(m_keyboard->snapshot().isDown(vk::LMenu));
        fakeKey(KeycodeRALT, false);
        EXPECT_TRUE(eventuallyUp(vk::RMenu));
        EXPECT_FALSE(m_keyboard->snapshot().isDown(vk::Menu));
    }
}

TEST_F(LinuxKeyboardX11, KeypadFollowsNumLock) {
    // Num Lock off: the keypad is the navigation block.
    if (indicators() & 2u) {
        tap(QStringLiteral("Num_Lock"));
    }
    ASSERT_TRUE(eventually([&] { return (indicators() & 2u) == 0; }));
    keyDown(QStringLiteral("KP_Home"));
    keyDown(QStringLiteral("KP_Delete"));
    EXPECT_TRUE(eventuallyDown(vk::Home));
    EXPECT_TRUE(eventuallyDown(vk::Delete));
    EXPECT_FALSE(m_keyboard->snapshot().isDown(vk::Numpad0 + 7));
    EXPECT_FALSE(m_keyboard->snapshot().isDown(vk::Decimal));
    keyUp(QStringLiteral("KP_Home"));
    keyUp(QStringLiteral("KP_Delete"));
    EXPECT_TRUE(eventuallyUp(vk::Home));

    // Num Lock on: the same keys are the keypad digits and the decimal key.
    tap(QStringLiteral("Num_Lock"));
    ASSERT_TRUE(eventually([&] { return (indicators() & 2u) != 0; }));
    keyDown(QStringLiteral("KP_Home"));
    keyDown(QStringLiteral("KP_Delete"));
    EXPECT_TRUE(eventuallyDown(vk::Numpad0 + 7));
    EXPECT_TRUE(eventuallyDown(vk::Decimal));
    EXPECT_FALSE(m_keyboard->snapshot().isDown(vk::Home));
    EXPECT_FALSE(m_keyboard->snapshot().isDown(vk::Delete));
    keyUp(QStringLiteral("KP_Home"));
    keyUp(QStringLiteral("KP_Delete"));
    EXPECT_TRUE(eventuallyUp(vk::Numpad0 + 7));
}

TEST_F(LinuxKeyboardX11, CapsLockToggleIsSeparateFromTheKeyBeingHeld) {
    ASSERT_FALSE(m_keyboard->snapshot().capsLockToggled() != bool(indicators() & 1u));
    const bool before = m_keyboard->snapshot().capsLockToggled();
    keyDown(QStringLiteral("Caps_Lock"));
    EXPECT_TRUE(eventuallyDown(vk::Capital));
    keyUp(QStringLiteral("Caps_Lock"));
    EXPECT_TRUE(eventuallyUp(vk::Capital));
    EXPECT_TRUE(eventually([&] { return m_keyboard->snapshot().capsLockToggled() != before; }));
    EXPECT_FALSE(m_keyboard->snapshot().isDown(vk::Capital));
    tap(QStringLiteral("Caps_Lock"));
    EXPECT_TRUE(eventually([&] { return m_keyboard->snapshot().capsLockToggled() == before; }));
}

TEST_F(LinuxKeyboardX11, LayoutsGiveTheirLocaleNames) {
    const struct {
        const char* layout;
        const char* locale;
    } cases[] = {{"de", "de-DE"}, {"gb", "en-GB"}, {"tr", "tr-TR"}, {"fr", "fr-FR"}, {"us", "en-US"}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.layout);
        setLayout(QString::fromLatin1(row.layout));
        EXPECT_TRUE(eventuallyLocale(QString::fromLatin1(row.locale)))
            << m_keyboard->keyboardLocaleName().toStdString();
    }
}

TEST_F(LinuxKeyboardX11, LettersFollowTheLayoutAndDigitsTheirPosition) {
    const struct {
        const char* layout;
        unsigned keycode;
        int code;
    } cases[] = {
        {"us", KeycodeAD06, 'Y'}, {"de", KeycodeAD06, 'Z'}, {"fr", KeycodeAD01, 'A'},
        {"fr", KeycodeAE01, '1'}, {"ru", KeycodeAD01, 'Q'}, {"tr", KeycodeTLDE, vk::Oem3},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.layout) + " keycode " + std::to_string(row.keycode));
        setLayout(QString::fromLatin1(row.layout));
        fakeKey(row.keycode, true);
        EXPECT_TRUE(eventuallyDown(row.code));
        fakeKey(row.keycode, false);
        EXPECT_TRUE(eventuallyUp(row.code));
    }
}

// Punctuation keys take the codes Windows gives them under each layout; the UK layout differs from the US one,
// and the ' key giving 192 is what makes it play the "`" bindings there.
TEST_F(LinuxKeyboardX11, PunctuationKeysTakeTheCodesOfTheirLayout) {
    const struct {
        const char* layout;
        unsigned keycode;
        int code;
        int notCode;
    } cases[] = {
        {"us", KeycodeTLDE, vk::Oem3, 223}, {"us", KeycodeAC11, 222, vk::Oem3}, {"us", KeycodeBKSL, 220, 222},
        {"gb", KeycodeTLDE, 223, vk::Oem3}, {"gb", KeycodeAC11, vk::Oem3, 222}, {"gb", KeycodeBKSL, 222, 220},
        {"gb", KeycodeLSGT, 220, 226},      {"us", KeycodeTLDE, vk::Oem3, 223},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.layout) + " keycode " + std::to_string(row.keycode));
        setLayout(QString::fromLatin1(row.layout));
        ASSERT_TRUE(eventuallyLocale(QString::fromLatin1(row.layout) == QLatin1String("gb") ? QStringLiteral("en-GB")
                                                                                            : QStringLiteral("en-US")));
        fakeKey(row.keycode, true);
        EXPECT_TRUE(eventuallyDown(row.code));
        EXPECT_FALSE(m_keyboard->snapshot().isDown(row.notCode));
        fakeKey(row.keycode, false);
        EXPECT_TRUE(eventuallyUp(row.code));
    }
}

TEST_F(LinuxKeyboardX11, SwitchingTheGroupSwitchesLocaleAndLetters) {
    setLayout(QStringLiteral("us,de"));
    ASSERT_TRUE(eventuallyLocale(QStringLiteral("en-US")));
    fakeKey(KeycodeAD06, true);
    EXPECT_TRUE(eventuallyDown('Y'));
    fakeKey(KeycodeAD06, false);
    EXPECT_TRUE(eventuallyUp('Y'));

    // What a desktop's layout switcher does.
    lockGroup(1);
    EXPECT_TRUE(eventuallyLocale(QStringLiteral("de-DE"))) << m_keyboard->keyboardLocaleName().toStdString();
    fakeKey(KeycodeAD06, true);
    EXPECT_TRUE(eventuallyDown('Z'));
    EXPECT_FALSE(m_keyboard->snapshot().isDown('Y'));
    fakeKey(KeycodeAD06, false);
    EXPECT_TRUE(eventuallyUp('Z'));

    lockGroup(0);
    EXPECT_TRUE(eventuallyLocale(QStringLiteral("en-US")));
}

} // namespace
} // namespace clavora::platform
