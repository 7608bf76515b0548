// Hotkey mode: whole polls against a fake keyboard, in the background and with the main window focused.
#include "input/hotkeypoll.h"
#include "platform/fake/fakekeyboard.h"

#include <gtest/gtest.h>

namespace clavora::input {
namespace {

namespace vk = platform::vk;

class HotkeyPollTest : public ::testing::Test {
protected:
    PlaySound recorder() {
        return [this](const QString& path) { m_played << path; };
    }
    HotkeyPollResult poll(const KeyMap& map, bool windowHasFocus = false) {
        return pollHotkeys(m_keyboard, QLatin1Char('.'), map, windowHasFocus, recorder());
    }

    platform::FakeKeyboard m_keyboard;
    QStringList m_played;
};

TEST_F(HotkeyPollTest, PlaysEveryExactMatchInFileOrder) {
    const KeyMap map =
        KeyMap::fromLines({"CTRL|first.mp3", "ctrl|lower.mp3", "CTRLX|longer.mp3", "CTRL", "no bar at all",
                           "CTRL|a|b.mp3", " CTRL|space.mp3", "CTRL|first.mp3", "CTRL|"});
    m_keyboard.press(vk::LControl);
    poll(map);
    EXPECT_EQ(m_played, (QStringList{"first.mp3", "a|b.mp3", "first.mp3", QString()}));
}

TEST_F(HotkeyPollTest, APollPlaysTheNamesOfTheHeldKeys) {
    m_keyboard.localeName = QStringLiteral("de-DE");
    m_keyboard.press(vk::LControl);
    m_keyboard.press('A');
    const KeyMap map =
        KeyMap::fromLines({"STRG|strg.wav", "a|a.wav", "CTRL|ctrl.wav", "ctrl|never.wav", "A|upper.wav"});

    const HotkeyPollResult result = pollHotkeys(m_keyboard, QLatin1Char(','), map, false, recorder());

    EXPECT_EQ(result.keyboardLocale, QStringLiteral("de-DE"));
    EXPECT_EQ(result.names, (QStringList{"STRG", "a", "STRG"}));
    EXPECT_EQ(m_played, (QStringList{"strg.wav", "a.wav", "strg.wav"}));
    // The layout is looked up afresh at every poll, and the keyboard read once.
    EXPECT_EQ(m_keyboard.localeQueries, 1);
    EXPECT_EQ(m_keyboard.snapshots, 1);
}

TEST_F(HotkeyPollTest, ALowerCaseModifierBindingNeverPlays) {
    const KeyMap map = KeyMap::fromLines({"ctrl|never.wav", "Ctrl|never.wav"});
    for (const char* locale : {"en-US", "de-DE", "xx"}) {
        m_keyboard.localeName = QString::fromLatin1(locale);
        m_keyboard.press(vk::LControl);
        m_keyboard.press(vk::RControl);
        m_keyboard.press('C');
        poll(map);
    }
    EXPECT_TRUE(m_played.isEmpty());
}

TEST_F(HotkeyPollTest, EveryPollReplaysAHeldKey) {
    m_keyboard.press(vk::Space);
    const KeyMap map = KeyMap::fromLines({" |space.wav"});
    for (int i = 0; i < 20; ++i) {
        poll(map);
    }
    EXPECT_EQ(m_played.size(), 20);
    m_keyboard.releaseAll();
    poll(map);
    EXPECT_EQ(m_played.size(), 20);
}

// One key stroke, one sound: what the focused window's handlers play is not played again by the poll, what they
// never play still is. In the background every name plays, as before.
TEST_F(HotkeyPollTest, WithTheWindowFocusedThePollLeavesTheWindowsKeysToIt) {
    const KeyMap map = KeyMap::fromLines(
        {"A|a.wav", "q|q.wav", "SHIFT|shift.wav", "ENTER|enter.wav", "F1|f1.wav", "F5|f5.wav", " |space.wav"});
    const struct {
        const char* what;
        std::initializer_list<int> held;
        QStringList focused;
        QStringList background;
    } cases[] = {
        {"Shift+A", {vk::LShift, 'A'}, {"shift.wav", "shift.wav"}, {"shift.wav", "a.wav", "shift.wav"}},
        {"Ctrl+Q", {vk::LControl, 'Q'}, {"q.wav"}, {"q.wav"}},
        {"ENTER", {vk::Return}, {"enter.wav"}, {"enter.wav"}},
        {"space", {vk::Space}, {}, {"space.wav"}},
        {"F5", {vk::F1 + 4}, {}, {"f5.wav"}},
        {"F1 alone", {vk::F1}, {"f1.wav"}, {"f1.wav"}},
        {"Shift+F1", {vk::LShift, vk::F1}, {"shift.wav"}, {"f1.wav", "shift.wav"}},
    };
    for (const auto& c : cases) {
        m_keyboard.releaseAll();
        for (int key : c.held) {
            m_keyboard.press(key);
        }
        m_played.clear();
        poll(map, true);
        EXPECT_EQ(m_played, c.focused) << c.what << ", focused";
        m_played.clear();
        poll(map, false);
        EXPECT_EQ(m_played, c.background) << c.what << ", in the background";
    }
}

} // namespace
} // namespace clavora::input
