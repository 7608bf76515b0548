// Hotkey mode: whole polls against a fake keyboard, in the background and with the main window focused.
#include "input/hotkeypoll.h"
#include "platform/fake/fakekeyboard.h"

#include <gtest/gtest.h>

#include <utility>

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

// Keys told of by the system as they go down play at once; the poll is the rule for held keys and leaves out, once,
// the stroke that has played already.
class EarlyStrokesTest : public HotkeyPollTest {
protected:
    // The system tells of Key going down; Pressed: the key is still down when the keyboard is read.
    void down(int key, bool pressed = true, bool windowHasFocus = false) {
        if (pressed) {
            m_keyboard.press(key);
        }
        const QStringList names =
            m_strokes.keyWentDown(key, m_keyboard.snapshot(), m_keyboard.localeName, QLatin1Char('.'), windowHasFocus);
        for (const QString& name : names) {
            playBindingsFor(name, m_map, recorder());
        }
    }
    void up(int key) {
        m_keyboard.release(key);
        m_strokes.keyWentUp(key);
    }
    void tick(bool windowHasFocus = false) {
        pollHotkeys(m_keyboard, QLatin1Char('.'), m_map, windowHasFocus, recorder(), &m_strokes);
    }
    // What the last steps played, cleared for the next ones.
    QStringList taken() { return std::exchange(m_played, {}); }

    KeyMap m_map = KeyMap::fromLines({"q|q.wav", "A|upper.wav", "SHIFT|shift.wav", "ENTER|enter.wav"});
    EarlyStrokes m_strokes;
};

TEST_F(EarlyStrokesTest, AHeldKeyPlaysAtOnceThenRepeatsFromTheSecondTick) {
    down('Q');
    EXPECT_EQ(taken(), QStringList{"q.wav"});
    tick();
    EXPECT_EQ(taken(), QStringList{}) << "the first tick must not play the stroke again";
    tick();
    tick();
    EXPECT_EQ(taken(), (QStringList{"q.wav", "q.wav"}));
    down('Q'); // the system's auto-repeat
    EXPECT_EQ(taken(), QStringList{});
    up('Q');
    tick();
    EXPECT_EQ(taken(), QStringList{});
}

TEST_F(EarlyStrokesTest, StrokesBetweenTwoTicksPlayOnceEach) {
    // Gone before the keyboard is read: the poll never sees it.
    down('Q', false);
    up('Q');
    EXPECT_EQ(taken(), QStringList{"q.wav"});
    // A second stroke before the tick, still down at the tick: played once more, and not again by that tick.
    down('Q');
    tick();
    EXPECT_EQ(taken(), QStringList{"q.wav"});
    tick();
    EXPECT_EQ(taken(), QStringList{"q.wav"});
}

TEST_F(EarlyStrokesTest, ANotificationLateAfterThePollPlayedTheKeyPlaysNothing) {
    m_keyboard.press(vk::Return);
    tick();
    EXPECT_EQ(taken(), QStringList{"enter.wav"});
    down(vk::Return);
    tick();
    EXPECT_EQ(taken(), QStringList{"enter.wav"});
}

TEST_F(EarlyStrokesTest, ALetterCarriesTheHeldModifiersAndTheTickSkipsBothStrokes) {
    down(vk::LShift);
    down('A');
    EXPECT_EQ(taken(), (QStringList{"shift.wav", "shift.wav", "upper.wav"}));
    tick();
    EXPECT_EQ(taken(), QStringList{});
    tick();
    EXPECT_EQ(taken(), (QStringList{"shift.wav", "upper.wav", "shift.wav"})) << "an ordinary tick of held keys";
}

TEST_F(EarlyStrokesTest, WithTheWindowFocusedItsOwnKeysAreLeftToIt) {
    down(vk::LShift, true, true);
    down('A', true, true);
    down(vk::Return, true, true);
    // The window's handlers play "A"; SHIFT and ENTER they never play.
    EXPECT_EQ(taken(), (QStringList{"shift.wav", "shift.wav", "enter.wav"}));
    tick(true);
    EXPECT_EQ(taken(), QStringList{});
    tick(true);
    EXPECT_EQ(taken(), (QStringList{"enter.wav", "shift.wav", "shift.wav"}));
}

} // namespace
} // namespace clavora::input
