// Hotkey mode: whole polls against a fake keyboard, in the background and with the main window focused.
#include "input/hotkeypoll.h"
#include "platform/fake/fakekeyboard.h"

#include <gtest/gtest.h>

#include <string_view>
#include <utility>

namespace clavora::input {
namespace {

namespace vk = platform::vk;

class HotkeyPollTest : public ::testing::Test {
protected:
    PlaySound recorder() {
        return [this](const Binding& binding) { m_played << binding.path; };
    }
    HotkeyPollResult poll(const KeyMap& map, KeyFocus focus = KeyFocus::Elsewhere) {
        return pollHotkeys(m_keyboard, QLatin1Char('.'), map, focus, recorder());
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

    const HotkeyPollResult result = pollHotkeys(m_keyboard, QLatin1Char(','), map, KeyFocus::Elsewhere, recorder());

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

TEST_F(HotkeyPollTest, WhileTheUserTypesIntoAFieldOfOursNothingPlays) {
    const KeyMap map = KeyMap::fromLines({"a|a.wav", "SHIFT|shift.wav", "ENTER|enter.wav"});
    m_keyboard.press(vk::LShift);
    m_keyboard.press('A');
    m_keyboard.press(vk::Return);
    EarlyStrokes strokes;
    for (int key : {vk::LShift, int('A'), vk::Return}) {
        EXPECT_TRUE(
            strokes
                .keyWentDown(key, m_keyboard.snapshot(), m_keyboard.localeName, QLatin1Char('.'), KeyFocus::TextEntry)
                .isEmpty());
    }
    poll(map, KeyFocus::TextEntry);
    pollHotkeys(m_keyboard, QLatin1Char('.'), map, KeyFocus::TextEntry, recorder(), &strokes);
    pollHotkeys(m_keyboard, QLatin1Char('.'), map, KeyFocus::TextEntry, recorder(), &strokes);
    EXPECT_TRUE(m_played.isEmpty()) << m_played.join(u',').toStdString();
}

// Keys told of by the system as they go down play at once; the poll is the rule for held keys and leaves out, once,
// the stroke that has played already.
class EarlyStrokesTest : public HotkeyPollTest {
protected:
    // The system tells of Key going down; Pressed: the key is still down when the keyboard is read.
    void down(int key, bool pressed = true, KeyFocus focus = KeyFocus::Elsewhere) {
        if (pressed) {
            m_keyboard.press(key);
        }
        playAll(m_strokes.keyWentDown(key, m_keyboard.snapshot(), m_keyboard.localeName, m_decimalSeparator, focus));
    }
    // The focused window's key handler was given a key that typed Text (or "F5" for a function key): it plays the
    // bindings of that name itself and tells the strokes so.
    void typed(const QString& text) {
        playBindingsFor(text, m_map, recorder());
        playAll(m_strokes.windowPlayed(text));
    }
    void playAll(const QStringList& names) {
        for (const QString& name : names) {
            playBindingsFor(name, m_map, recorder());
        }
    }
    void up(int key) {
        m_keyboard.release(key);
        m_strokes.keyWentUp(key);
    }
    void tick(KeyFocus focus = KeyFocus::Elsewhere) {
        pollHotkeys(m_keyboard, m_decimalSeparator, m_map, focus, recorder(), &m_strokes);
    }
    // What the last steps played, cleared for the next ones.
    QStringList taken() { return std::exchange(m_played, {}); }

    KeyMap m_map = KeyMap::fromLines({"q|q.wav", "A|upper.wav", "SHIFT|shift.wav", "ENTER|enter.wav"});
    EarlyStrokes m_strokes;
    QChar m_decimalSeparator = QLatin1Char('.');
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

TEST_F(EarlyStrokesTest, WithTheWindowFocusedTheNamesItsHandlerDidNotPlayStillPlay) {
    down(vk::LShift, true, KeyFocus::MainWindow);
    down('A', true, KeyFocus::MainWindow);
    down(vk::Return, true, KeyFocus::MainWindow);
    // SHIFT and ENTER no handler plays; "A" waits for what the window's handler typed.
    EXPECT_EQ(taken(), (QStringList{"shift.wav", "shift.wav", "enter.wav"}));
    typed(QStringLiteral("A"));
    EXPECT_EQ(taken(), QStringList{"upper.wav"}) << "played by the window's handler alone";
    tick(KeyFocus::MainWindow);
    EXPECT_EQ(taken(), QStringList{});
    // Held: the modifiers and ENTER repeat at every tick; "A" repeats through the keyboard's own repeat, in the
    // window's handler.
    tick(KeyFocus::MainWindow);
    EXPECT_EQ(taken(), (QStringList{"enter.wav", "shift.wav", "shift.wav"}));
}

// One stroke in the focused window plays each of its names once: the text typed by the window's handler, every other
// name by the strokes as it would in the background. The handler's report comes after the system's notification,
// before it, or there is no notification at all and the poll sees the key held.
TEST_F(EarlyStrokesTest, AStrokeInTheFocusedWindowPlaysWhatItsHandlerDidNotType) {
    const KeyMap map = KeyMap::fromLines({"q|q.wav", "1|one.wav", "f|f.wav", "`|grave.wav", ",|comma.wav",
                                          "AltGr|altgr.wav", "ENTER|enter.wav", "F5|f5.wav", "F1|f1.wav", " |space.wav",
                                          "SHIFT|shift.wav", "CTRL|ctrl.wav"});
    const struct {
        const char* what;
        const char* locale;
        char decimalSeparator;
        std::initializer_list<int> keys;
        const char* typed; // what the window's handler was given; null: the handler never had the stroke
        QStringList plays; // in the focused window and in the background alike, in any order
    } cases[] = {
        {"q", "en-US", '.', {'Q'}, "q", {"q.wav"}},
        {"Shift+1 types !", "en-US", '.', {vk::LShift, '1'}, "!", {"shift.wav", "one.wav"}},
        {"the French digit key 1 types &", "fr-FR", '.', {'1'}, "&", {"one.wav"}},
        {"the Russian F key types a Cyrillic letter", "ru-RU", '.', {'F'}, "\xD0\xB0", {"f.wav"}},
        {"German AltGr+Q types @", "de-DE", '.', {vk::RMenu, 'Q'}, "@", {"altgr.wav", "q.wav"}},
        {"the UK key named ` types '", "en-GB", '.', {vk::Oem3}, "'", {"grave.wav"}},
        {"the keypad decimal key types . under a comma locale", "de-DE", ',', {vk::Decimal}, ".", {"comma.wav"}},
        {"Ctrl+Q types a control character",
         "en-US",
         '.',
         {vk::LControl, 'Q'},
         "\x11",
         {"ctrl.wav", "ctrl.wav", "q.wav"}},
        {"ENTER", "en-US", '.', {vk::Return}, "\r", {"enter.wav"}},
        {"F5", "en-US", '.', {vk::F1 + 4}, "F5", {"f5.wav"}},
        {"F1 alone is the help shortcut", "en-US", '.', {vk::F1}, nullptr, {"f1.wav"}},
        {"the space bar", "en-US", '.', {vk::Space}, " ", {"space.wav"}},
        {"a dead key types nothing yet", "en-US", '.', {'Q'}, "", {"q.wav"}},
    };
    enum class Order { NotificationFirst, HandlerFirst, PollOnly };
    m_map = map;
    for (const auto& c : cases) {
        for (const Order order : {Order::NotificationFirst, Order::HandlerFirst, Order::PollOnly}) {
            m_keyboard.releaseAll();
            m_keyboard.localeName = QString::fromLatin1(c.locale);
            m_decimalSeparator = QLatin1Char(c.decimalSeparator);
            m_strokes = EarlyStrokes();
            const QString typedText = QString::fromUtf8(c.typed);
            if (order == Order::HandlerFirst && c.typed) {
                typed(typedText);
            }
            for (int key : c.keys) {
                if (order == Order::PollOnly) {
                    m_keyboard.press(key);
                } else {
                    down(key, true, KeyFocus::MainWindow);
                }
            }
            if (order != Order::HandlerFirst && c.typed) {
                typed(typedText);
            }
            tick(KeyFocus::MainWindow);
            m_keyboard.releaseAll();
            for (int key : c.keys) {
                m_strokes.keyWentUp(key);
            }
            tick(KeyFocus::MainWindow);
            tick(KeyFocus::MainWindow);
            QStringList focused = taken();
            focused.sort();

            m_strokes = EarlyStrokes();
            for (int key : c.keys) {
                down(key, true, KeyFocus::Elsewhere);
            }
            m_keyboard.releaseAll();
            for (int key : c.keys) {
                m_strokes.keyWentUp(key);
            }
            tick();
            QStringList background = taken();
            background.sort();

            QStringList expected = c.plays;
            expected.sort();
            EXPECT_EQ(focused, expected) << c.what << ", focused, order " << int(order);
            EXPECT_EQ(background, expected) << c.what << ", in the background";
        }
    }
}

TEST_F(EarlyStrokesTest, AKeyTheWindowTypesIsHeldWithoutThePollRepeatingIt) {
    down('Q', true, KeyFocus::MainWindow);
    typed(QStringLiteral("q"));
    EXPECT_EQ(taken(), QStringList{"q.wav"});
    for (int repeat = 0; repeat < 3; ++repeat) {
        tick(KeyFocus::MainWindow);
        tick(KeyFocus::MainWindow);
        typed(QStringLiteral("q")); // the keyboard's repeat, played by the window
    }
    EXPECT_EQ(taken(), (QStringList{"q.wav", "q.wav", "q.wav"}));
    up('Q');
    tick(KeyFocus::MainWindow);
    tick(KeyFocus::MainWindow);
    EXPECT_EQ(taken(), QStringList{});
}

// With a key played once per stroke, no tick repeats a held key, whoever heard of its stroke first; only a new
// stroke plays again. Steps: d Q goes down and the system tells, p it goes down unannounced (the poll alone sees it),
// u it goes up, s Shift goes down and the system tells, t a tick.
TEST_F(EarlyStrokesTest, PlayedOnceAHeldKeyIsNotRepeatedByAnyTick) {
    const struct {
        const char* what;
        KeyFocus focus;
        const char* steps;
        QStringList plays;
    } cases[] = {
        {"told of, then held", KeyFocus::Elsewhere, "dtttttt", {"q.wav"}},
        {"seen by the poll alone, then held", KeyFocus::Elsewhere, "ptttttt", {"q.wav"}},
        {"two strokes", KeyFocus::Elsewhere, "dttuttpttt", {"q.wav", "q.wav"}},
        {"a stroke between two ticks", KeyFocus::Elsewhere, "tdutt", {"q.wav"}},
        {"a modifier held under a letter it carries", KeyFocus::Elsewhere, "sttdttt", {"shift.wav", "shift.wav"}},
        {"unclaimed by the focused window, then held", KeyFocus::MainWindow, "pttttt", {"q.wav"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_keyboard.releaseAll();
        m_strokes = EarlyStrokes();
        for (const char step : std::string_view(c.steps)) {
            switch (step) {
            case 'd':
                down('Q', true, c.focus);
                break;
            case 'p':
                m_keyboard.press('Q');
                break;
            case 'u':
                up('Q');
                break;
            case 's':
                down(vk::LShift, true, c.focus);
                break;
            case 't':
                pollHotkeys(m_keyboard, m_decimalSeparator, m_map, c.focus, recorder(), &m_strokes, HeldKeys::PlayOnce);
                break;
            }
        }
        EXPECT_EQ(taken(), c.plays);
    }
}

} // namespace
} // namespace clavora::input
