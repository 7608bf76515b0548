// Keys typed into the focused window: function keys by code, everything else by the character typed, each matched
// against whole key names; and which keys the window's handlers play, which the hotkey poll then leaves alone.
#include "input/focusedkeys.h"
#include "platform/fake/fakekeyboard.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace clavora::input {
namespace {

namespace vk = platform::vk;

TEST(FocusedKeysTest, QtFunctionKeysMapToTheirCodes) {
    const struct {
        int qtKey;
        int code;
    } cases[] = {
        {Qt::Key_F1, 112}, {Qt::Key_F5, 116},   {Qt::Key_F12, 123},   {Qt::Key_F13, 0},
        {Qt::Key_A, 0},    {Qt::Key_Escape, 0}, {Qt::Key_unknown, 0}, {0, 0},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(functionKeyCode(row.qtKey), row.code) << "Qt key " << row.qtKey;
    }
}

const KeyMap Bindings = KeyMap::fromLines({
    "F1|one",
    "F10|ten",
    "f5|lower",
    "F5|five",
    "F5 |trailing",
    "F5",
    "F12|twelve",
    "F5|five|again",
    "a|small a",
    "A|capital A",
    "|empty key",
    "abc",
    "SHIFT|shift",
    "STRG|strg",
    "Scroll Lock|scroll",
    "F|capital F",
    QString::fromUtf8("\xF0\x9F\x98\x80|smile"),
});

QStringList playedForCode(int code) {
    QStringList played;
    playFunctionKeyBindings(code, Bindings, [&](const Binding& binding) { played << binding.path; });
    return played;
}

QStringList playedForTyped(const QString& typed) {
    QStringList played;
    playTypedBindings(typed, Bindings, [&](const Binding& binding) { played << binding.path; });
    return played;
}

TEST(FocusedKeysTest, FunctionKeysPlayTheirExactNames) {
    EXPECT_EQ(playedForCode(112), QStringList{"one"});
    EXPECT_EQ(playedForCode(116), (QStringList{"five", "five|again"}));
    EXPECT_EQ(playedForCode(121), QStringList{"ten"});
    EXPECT_EQ(playedForCode(123), QStringList{"twelve"});
    for (int code : {0, 65, 111, 124, 255, -1}) {
        EXPECT_TRUE(playedForCode(code).isEmpty()) << "code " << code;
    }
}

// A typed character used to answer to every name it began: Shift+F played F1 to F12 at once, "S" played SHIFT,
// STRG and Scroll Lock.
TEST(FocusedKeysTest, ATypedCharacterPlaysOnlyTheNameThatIsExactlyIt) {
    const struct {
        QString typed;
        QStringList played;
    } cases[] = {
        {"a", {"small a"}},
        {"A", {"capital A"}},
        {"F", {"capital F"}},
        {"S", {}},
        {"f", {}},
        {"|", {}},
        {"", {}},
        {QString(QChar()), {}},
        {QString::fromUtf8("\xF0\x9F\x98\x80"), {"smile"}},
        {QString(QChar(0xD83D)), {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(playedForTyped(c.typed), c.played) << c.typed.toStdString();
    }
}

// With the window focused, what its handlers play is left to them; the rest still comes from the poll.
TEST(FocusedKeysTest, TheWindowPlaysCharactersAndFunctionKeysButNotTheOtherKeys) {
    const struct {
        const char* what;
        int key;
        std::initializer_list<int> held;
        bool played;
    } cases[] = {
        {"a letter", 'Q', {}, true},
        {"a letter with Shift", 'Q', {vk::LShift}, true},
        {"a letter with AltGr", 'Q', {vk::RMenu}, true},
        {"a letter with Ctrl types a control character", 'Q', {vk::LControl}, false},
        {"a digit", '7', {}, true},
        {"a digit with Shift", '7', {vk::LShift}, true},
        {"a digit with Ctrl still types it", '7', {vk::RControl}, true},
        {"a keypad digit", vk::Numpad0 + 7, {}, true},
        {"the space bar", vk::Space, {}, true},
        {"the space bar with Ctrl types U+0000", vk::Space, {vk::LControl}, false},
        {"keypad operator", vk::Add, {}, true},
        {"keypad decimal", vk::Decimal, {}, true},
        {"grave accent key", vk::Oem3, {}, true},
        {"F2", vk::F1 + 1, {}, true},
        {"F12 with Ctrl", vk::F12, {vk::LControl}, true},
        {"F1 alone is the help shortcut", vk::F1, {}, false},
        {"Shift+F1", vk::F1, {vk::RShift}, true},
        {"Ctrl+F1", vk::F1, {vk::LControl}, true},
        {"Alt+F1", vk::F1, {vk::LMenu}, true},
        {"Win+F1", vk::F1, {vk::LWin}, true},
        {"ENTER", vk::Return, {}, false},
        {"TAB", vk::Tab, {}, false},
        {"ESC", vk::Escape, {}, false},
        {"BACKSPACE", vk::Back, {}, false},
        {"an arrow", vk::Left, {}, false},
        {"SHIFT itself", vk::LShift, {vk::LShift}, false},
        {"CTRL itself", vk::RControl, {vk::RControl}, false},
        {"Caps Lock", vk::Capital, {}, false},
        {"the sleep key types nothing", vk::Sleep, {}, false},
    };
    for (const auto& c : cases) {
        platform::FakeKeyboard keyboard;
        for (int key : c.held) {
            keyboard.press(key);
        }
        keyboard.press(c.key);
        EXPECT_EQ(mayBePlayedByFocusedWindow(c.key, keyboard.snapshot()), c.played) << c.what;
    }
}

} // namespace
} // namespace clavora::input
