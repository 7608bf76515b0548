// Key strokes played through the sound board into an engine the test pulls: what Press Again to Stop makes of a
// stroke, a held key and the keyboard's repeat, in hotkey mode and in the focused window.
#include "app/soundboard.h"

#include "app/options.h"
#include "app/settingsstore.h"
#include "audio/soundplayer.h"
#include "keymap/keymap.h"
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/platformtest.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace clavora;

namespace {

constexpr int Rate = 44100;
constexpr int Period = 441;

class SoundBoardTest : public test::PlatformTest {
protected:
    void SetUp() override {
        m_long = m_root.file("long.wav");
        m_short = m_root.file("short.wav");
        ASSERT_TRUE(test::writeWav16(m_long, Rate, 2, test::sineSamples16(500, Rate, 3 * Rate, 0.5)));
        ASSERT_TRUE(test::writeWav16(m_short, Rate, 2, test::sineSamples16(500, Rate, Rate / 20, 0.5)));
        m_keyMap = KeyMap::fromLines({"a|" + m_long, "a|" + m_long, "b|" + m_short, "c|" + m_long});
        ASSERT_TRUE(m_player.start());
    }

    void setOptions(bool pressAgainToStop, bool hotkeyMode) {
        ASSERT_TRUE(m_options.setOn(Option::PressAgainToStop, pressAgainToStop).ok());
        ASSERT_TRUE(m_options.setOn(Option::HotkeyMode, hotkeyMode).ok());
    }

    // Whether anything is heard in the next two periods, once the newest sound is decoded ahead.
    bool heard() {
        audio::AudioEngine& engine = m_player.engine();
        const quint32 newest = m_player.newestStream();
        EXPECT_TRUE(newest == 0 || test::waitFor([&] { return engine.isDecodedAhead(newest); }, 20000));
        std::vector<float> out(2 * Period * 2);
        engine.render(out.data(), Period);
        engine.render(out.data() + Period * 2, Period);
        return test::peak(out) > 0.2f;
    }

    QString m_long;
    QString m_short;
    KeyMap m_keyMap;
    SettingsStore m_store{m_files, m_root.file("settings.ini")};
    Options m_options{m_store};
    audio::SoundPlayer m_player{audioServices(), test::pulledEngineConfig()};
    SoundBoard m_board{m_keyMap, m_options, m_player, m_keyboard, QLatin1Char('.')};
};

// One step per letter: D the system tells of A going down, U of it going up; P A goes down and R up without the
// system telling (only the poll sees it); T a tick of the poll; W A typed into the focused window, K the keyboard's
// repeat of it there. After each step: + something is heard, - nothing; and how many sounds were started in all.
TEST_F(SoundBoardTest, APressStopsTheKeysSoundsAndAHeldKeyPlaysOnce) {
    const struct {
        const char* what;
        bool pressAgainToStop;
        bool hotkeyMode;
        const char* steps;
        const char* heard;
        int started;
    } cases[] = {
        {"a second press stops", true, true, "DUTTD", "++++-", 1},
        {"a third press plays again", true, true, "DUDUD", "++--+", 2},
        {"a held key does not flutter", true, true, "DTTTTTT", "+++++++", 1},
        {"a held key the poll found alone", true, true, "PTTTRTPT", "-++++++-", 1},
        {"a press only the poll sees", true, true, "DTUTPT", "+++++-", 1},
        {"in the window, its repeat plays nothing", true, false, "WKKKW", "++++-", 1},
        {"in the window, a press after the repeat stops", true, false, "WKW", "++-", 1},
        {"without the option, a press plays once more", false, true, "DUTD", "++++", 2},
        {"without the option, the poll replays a held key", false, true, "DTTT", "++++", 3},
        {"without the option, the window's repeat plays", false, false, "WKK", "+++", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_board.stopAll();
        m_keyboard.releaseAll();
        m_board.keyWentUp('A');
        setOptions(c.pressAgainToStop, c.hotkeyMode);
        // A tick with no key down forgets what the case before left held.
        m_board.pollHotkeys(input::KeyFocus::Elsewhere);
        ASSERT_FALSE(heard());

        QSet<quint32> started;
        const QString steps = QString::fromLatin1(c.steps);
        for (qsizetype i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE(steps.left(i + 1).toStdString());
            switch (steps[i].toLatin1()) {
            case 'D':
                m_keyboard.press('A');
                m_board.keyWentDown('A', input::KeyFocus::Elsewhere);
                break;
            case 'U':
                m_keyboard.release('A');
                m_board.keyWentUp('A');
                break;
            case 'P':
                m_keyboard.press('A');
                break;
            case 'R':
                m_keyboard.release('A');
                break;
            case 'T':
                m_board.pollHotkeys(input::KeyFocus::Elsewhere);
                break;
            case 'W':
                m_board.playTypedKey(Qt::Key_A, QStringLiteral("a"));
                break;
            case 'K':
                m_board.playTypedKey(Qt::Key_A, QStringLiteral("a"), true);
                break;
            }
            if (m_player.newestStream() != 0) {
                started.insert(m_player.newestStream());
            }
            EXPECT_EQ(heard(), c.heard[i] == '+');
        }
        // The presses that started sounds; each plays both of A's bindings, and a press that stops stops both.
        EXPECT_EQ(started.size(), c.started);
    }
}

TEST_F(SoundBoardTest, ASoundThatPlayedOutIsStartedAgainAndAPressStopsOnlyItsOwnKey) {
    setOptions(true, false);
    m_board.playTypedKey(Qt::Key_B, QStringLiteral("b"));
    const quint32 first = m_player.newestStream();
    ASSERT_NE(first, 0u);
    ASSERT_TRUE(heard());
    std::vector<float> out(Period * 2);
    ASSERT_TRUE(test::waitFor(
        [&] {
            m_player.engine().render(out.data(), Period);
            return !m_player.isPlaying(first);
        },
        20000));
    m_board.playTypedKey(Qt::Key_B, QStringLiteral("b"));
    EXPECT_NE(m_player.newestStream(), first);
    EXPECT_TRUE(heard()) << "a sound that ended is played again, not stopped";

    m_board.playTypedKey(Qt::Key_A, QStringLiteral("a"));
    const quint32 a = m_player.newestStream();
    m_board.playTypedKey(Qt::Key_C, QStringLiteral("c"));
    const quint32 c = m_player.newestStream();
    ASSERT_TRUE(m_player.isPlaying(c));
    m_board.playTypedKey(Qt::Key_C, QStringLiteral("c"));
    EXPECT_FALSE(m_player.isPlaying(c));
    EXPECT_TRUE(m_player.isPlaying(a));
    EXPECT_TRUE(heard());
}

} // namespace
