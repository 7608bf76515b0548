// Hotkey mode for real: the program in the background (another window holding the focus) or focused itself, a bound
// key held down with xdotool, and the sound that came out of the sound server counted from a recording of its null
// sink.
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundrecorder.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");
constexpr int kRate = 48000;

// Starts of sounds in a mono 16-bit recording: a block of a millisecond louder than a quarter of the loudest one,
// after at least QuietMs of blocks below that. Loudness under MinPeak counts as no sound at all.
int CountOnsets(const QByteArray& raw, int quietMs = 6, int minPeak = 300) {
    const auto* samples = reinterpret_cast<const qint16*>(raw.constData());
    const qsizetype count = raw.size() / 2;
    const int block = kRate / 1000;
    std::vector<int> peaks;
    int loudest = 0;
    for (qsizetype start = 0; start + block <= count; start += block) {
        int peak = 0;
        for (int i = 0; i < block; ++i) {
            peak = std::max(peak, std::abs(int(samples[start + i])));
        }
        peaks.push_back(peak);
        loudest = std::max(loudest, peak);
    }
    if (loudest < minPeak) {
        return 0;
    }
    int onsets = 0;
    int quiet = quietMs;
    for (int peak : peaks) {
        if (peak > loudest / 4) {
            if (quiet >= quietMs) {
                ++onsets;
            }
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return onsets;
}

class HotkeyE2E : public ProgramTest {
protected:
    void SetUp() override {
        if (!soundServerReachable()) {
            GTEST_SKIP() << "needs the PulseAudio server of the test rig";
        }
        ProgramTest::SetUp();
    }

    void TearDown() override {
        if (m_keyHeld) {
            runCommand(QStringLiteral("xdotool"), {QStringLiteral("keyup"), m_key});
        }
        m_recorder.stop();
    }

    // A 20 ms tone: shorter than a poll, so every replay starts after a gap of silence.
    QString makeTone() {
        const QString path =
            clavora::test::makeTone(m_root.path(), QStringLiteral("tone.wav"), {}, 1000.0, 0.02, 0.5, 1, kRate);
        EXPECT_FALSE(path.isEmpty()) << "ffmpeg did not make the tone";
        return path;
    }

    void writeKeyMap(const QString& tonePath) { writeKeyMap(m_key, tonePath); }
    void writeKeyMap(const QString& keyName, const QString& tonePath) {
        QByteArray keys = "\xEF\xBB\xBF";
        for (int n = 1; n <= 12; ++n) {
            keys += "F" + QByteArray::number(n) + "|Sounds\\" + QByteArray::number(n + 10) + ".mp3\r\n";
        }
        keys += keyName.toUtf8() + "|" + tonePath.toUtf8() + "\r\n";
        writeBytes(m_programDir + "/keys.db", keys);
    }

    // Records the sink while the key is held for HoldMs, and half a second more so the last sound is in it whole;
    // a null array when the recording could not be made. The times are measured on the recording, not the clock,
    // so a machine that is slow to start the recorder or the tools still holds the key as long.
    // A key held for a second replays at the ticks of the 50 ms poll: again and again, and never more often than the
    // ticks (a loaded machine may deliver fewer of them).
    void expectReplaysAtThePoll(int onsets) {
        EXPECT_GE(onsets, 3) << "the held key does not replay";
        EXPECT_LE(onsets, m_heldMs / 45 + 2) << "more often than the poll, held " << m_heldMs << " ms";
    }

    // How long the last key was held, by the sound server's clock.
    qint64 m_heldMs = 0;

    QByteArray recordHoldingTheKey(int holdMs) {
        // The null sink stalls while a new monitor stream gets going; the key goes down once sound flows.
        if (!m_recorder.start() || !m_recorder.recordMore(200)) {
            ADD_FAILURE() << "the sound server delivered nothing to the recorder";
            return QByteArray();
        }
        auto recorded = [this] { return m_recorder.bytes(); };
        constexpr qint64 BytesPerMs = kRate * 2 / 1000;
        const qint64 atPress = recorded();
        m_keyHeld = true; // released in TearDown should anything below fail
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("keydown"), m_key});
        waitFor([&] { return recorded() >= atPress + holdMs * BytesPerMs; }, holdMs + 10000);
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("keyup"), m_key});
        m_keyHeld = false;
        const qint64 atRelease = recorded();
        m_heldMs = (atRelease - atPress) / BytesPerMs;
        waitFor([&] { return recorded() >= atRelease + 500 * BytesPerMs; }, 10000);
        m_recorder.stop();
        return readBytes(m_recorder.file());
    }

    // Starts the program, gives another window the focus, holds the bound key for HoldMs (a second unless told)
    // and returns how many times its sound started in the sink's recording.
    int holdBoundKeyInTheBackground(int holdMs = 1000) {
        ProgramRun run(m_programDir + "/clavora", m_home);
        run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
        if (!run.start() || !run.waitForWindow(Title)) {
            ADD_FAILURE() << "the program did not come up: " << run.output().toStdString();
            return -1;
        }

        // Another client takes the focus: the program can hear the key only through its hotkey poll.
        QWidget other;
        other.setWindowTitle(QStringLiteral("focus holder"));
        other.resize(200, 100);
        other.show();
        other.activateWindow();
        if (!waitFor([&] { return QGuiApplication::focusWindow() == other.windowHandle(); }, 10000)) {
            ADD_FAILURE() << "the test window did not get the focus";
            return -1;
        }

        const QByteArray recording = recordHoldingTheKey(holdMs);
        if (recording.isNull()) {
            return -1;
        }
        EXPECT_GT(recording.size(), kRate / 2) << "less than half a second was recorded";
        EXPECT_TRUE(QGuiApplication::focusWindow() == other.windowHandle()) << "the focus moved during the test";
        EXPECT_TRUE(run.isRunning());
        return CountOnsets(recording);
    }

    // Starts the program, gives its own window the focus, holds the bound key for HoldMs and returns how many times
    // its sound started in the sink's recording.
    int holdBoundKeyInTheProgram(int holdMs) {
        ProgramRun run(m_programDir + "/clavora", m_home);
        run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
        if (!run.start() || !run.waitForWindow(Title)) {
            ADD_FAILURE() << "the program did not come up: " << run.output().toStdString();
            return -1;
        }
        const QString window =
            runCommand(QStringLiteral("xdotool"),
                       {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                        QStringLiteral("--pid"), QString::number(run.pid()), QStringLiteral("--name"),
                        QLatin1Char('^') + Title + QLatin1Char('$')})
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                .value(0);
        if (window.isEmpty()) {
            ADD_FAILURE() << "no program window";
            return -1;
        }
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        // The X server has moved the focus; the program learns it from an event of its own. A key that went down
        // before that event arrived would be taken for a background key.
        if (!run.waitUntilActive()) {
            ADD_FAILURE() << "the program's window did not become active";
            return -1;
        }

        const QByteArray recording = recordHoldingTheKey(holdMs);
        if (recording.isNull()) {
            return -1;
        }
        EXPECT_GT(recording.size(), kRate) << "less than half a second was recorded";
        EXPECT_EQ(runCommand(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}).trimmed(), window)
            << "the focus moved during the test";
        EXPECT_TRUE(run.isRunning());
        return CountOnsets(recording);
    }

    QString m_key = QStringLiteral("q");
    bool m_keyHeld = false;
    SoundRecorder m_recorder{m_root.file("recording.raw")};
};

TEST(HotkeyOnsetCount, CountsSeparateBurstsOnly) {
    QByteArray raw(kRate * 2, '\0'); // one second of silence
    auto* samples = reinterpret_cast<qint16*>(raw.data());
    for (int burst = 0; burst < 20; ++burst) {
        for (int i = 0; i < kRate / 50; ++i) { // 20 ms of a square wave every 50 ms
            samples[burst * (kRate / 20) + i] = (i / 24) % 2 ? 8000 : -8000;
        }
    }
    EXPECT_EQ(CountOnsets(raw), 20);
    EXPECT_EQ(CountOnsets(QByteArray(kRate * 2, '\0')), 0);
}

TEST_F(HotkeyE2E, AHeldKeyPlaysAtEveryPollWhileAnotherWindowHasTheFocus) {
    writeKeyMap(makeTone());
    const int onsets = holdBoundKeyInTheBackground();
    RecordProperty("onsets", onsets);
    expectReplaysAtThePoll(onsets);
}

// The key is heard as it goes down, not at the next poll: a stroke far shorter than a poll still plays, and plays
// once, whether or not a tick of the poll fell inside it.
TEST_F(HotkeyE2E, AShortBackgroundStrokePlaysExactlyOnce) {
    writeKeyMap(makeTone());
    for (int holdMs : {0, 30}) {
        EXPECT_EQ(holdBoundKeyInTheBackground(holdMs), 1) << "held " << holdMs << " ms";
    }
}

TEST_F(HotkeyE2E, WithHotkeyModeOffABackgroundKeyPlaysNothing) {
    writeKeyMap(makeTone());
    writeBytes(m_programDir + "/settings.ini", "[Settings]\nHotkeyMode=OFF\n");
    EXPECT_EQ(holdBoundKeyInTheBackground(), 0);
}

// The window's own key handler plays a typed character; the poll, which also sees the key down, must not play it
// again at every tick. Held for less than the keyboard's repeat delay, the stroke is heard exactly once.
TEST_F(HotkeyE2E, ACharacterTypedInTheFocusedWindowPlaysOnce) {
    writeKeyMap(makeTone());
    EXPECT_EQ(holdBoundKeyInTheProgram(300), 1);
}

// ENTER is no character the window plays, so in the focused window too it comes from the poll at every tick.
TEST_F(HotkeyE2E, AKeyTheFocusedWindowDoesNotPlayStillComesFromThePoll) {
    m_key = QStringLiteral("Return");
    writeKeyMap(QStringLiteral("ENTER"), makeTone());
    const int onsets = holdBoundKeyInTheProgram(1000);
    expectReplaysAtThePoll(onsets);
}

} // namespace
