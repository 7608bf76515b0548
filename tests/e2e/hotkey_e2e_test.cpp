// Hotkey mode for real: the program in the background (another window holding the focus) or focused itself, a bound
// key held down with xdotool, and the sound that came out of the sound server counted from a recording of its null
// sink.
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
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

class HotkeyE2E : public TProgramTest {
protected:
    void SetUp() override {
        if (!SoundServerReachable()) {
            GTEST_SKIP() << "needs the PulseAudio server of the test rig";
        }
        TProgramTest::SetUp();
    }

    void TearDown() override {
        if (FKeyHeld) {
            RunCommand(QStringLiteral("xdotool"), {QStringLiteral("keyup"), FKey});
        }
        if (FRecorder.state() != QProcess::NotRunning) {
            FRecorder.terminate();
            if (!FRecorder.waitForFinished(3000)) {
                FRecorder.kill();
                FRecorder.waitForFinished(3000);
            }
        }
    }

    // A 20 ms tone: shorter than a poll, so every replay starts after a gap of silence.
    QString makeTone() {
        const QString path = FRoot.file("tone.wav");
        const QString log = RunCommand(QStringLiteral("ffmpeg"),
                                       {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                        "sine=frequency=1000:sample_rate=48000:duration=0.02", "-af", "volume=4", path},
                                       20000);
        EXPECT_TRUE(QFile::exists(path)) << log.toStdString();
        return path;
    }

    void writeKeyMap(const QString& tonePath) { writeKeyMap(FKey, tonePath); }
    void writeKeyMap(const QString& keyName, const QString& tonePath) {
        QByteArray keys = "\xEF\xBB\xBF";
        for (int n = 1; n <= 12; ++n) {
            keys += "F" + QByteArray::number(n) + "|Sounds\\" + QByteArray::number(n + 10) + ".mp3\r\n";
        }
        keys += keyName.toUtf8() + "|" + tonePath.toUtf8() + "\r\n";
        WriteBytes(FProgramDir + "/keys.db", keys);
    }

    bool startRecorder() {
        FRecorder.setStandardOutputFile(FRoot.file("recording.raw"));
        FRecorder.start(QStringLiteral("parec"), {"-d", "testsink.monitor", "--format=s16le", "--rate=48000",
                                                  "--channels=1", "--latency-msec=10", "--raw"});
        return FRecorder.waitForStarted(5000);
    }

    QByteArray stopRecorder() {
        FRecorder.terminate();
        if (!FRecorder.waitForFinished(5000)) {
            FRecorder.kill();
            FRecorder.waitForFinished(5000);
        }
        return ReadBytes(FRoot.file("recording.raw"));
    }

    // Starts the program, gives another window the focus, holds the bound key for a second and returns how many
    // times its sound started in the sink's recording.
    int holdBoundKeyInTheBackground() {
        TProgramRun run(FProgramDir + "/clavora", FHome);
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
        if (!WaitFor([&] { return QGuiApplication::focusWindow() == other.windowHandle(); }, 10000)) {
            ADD_FAILURE() << "the test window did not get the focus";
            return -1;
        }

        if (!startRecorder()) {
            ADD_FAILURE() << "parec did not start";
            return -1;
        }
        QThread::msleep(1500); // the monitor stream gets going before the first sound

        FKeyHeld = true; // released in TearDown should anything below fail
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("keydown"), FKey});
        QThread::msleep(1000);
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("keyup"), FKey});
        FKeyHeld = false;
        QThread::msleep(700);

        const QByteArray recording = stopRecorder();
        EXPECT_GT(recording.size(), kRate) << "less than half a second was recorded";
        EXPECT_TRUE(QGuiApplication::focusWindow() == other.windowHandle()) << "the focus moved during the test";
        EXPECT_TRUE(run.isRunning());
        return CountOnsets(recording);
    }

    // Starts the program, gives its own window the focus, holds the bound key for HoldMs and returns how many times
    // its sound started in the sink's recording.
    int holdBoundKeyInTheProgram(int holdMs) {
        TProgramRun run(FProgramDir + "/clavora", FHome);
        run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
        if (!run.start() || !run.waitForWindow(Title)) {
            ADD_FAILURE() << "the program did not come up: " << run.output().toStdString();
            return -1;
        }
        const QString window = RunCommand(QStringLiteral("xdotool"),
                                          {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--pid"), QString::number(run.pid()),
                                           QStringLiteral("--name"), QLatin1Char('^') + Title + QLatin1Char('$')})
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                   .value(0);
        if (window.isEmpty()) {
            ADD_FAILURE() << "no program window";
            return -1;
        }
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});

        if (!startRecorder()) {
            ADD_FAILURE() << "parec did not start";
            return -1;
        }
        QThread::msleep(1500); // the monitor stream gets going before the first sound

        FKeyHeld = true;
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("keydown"), FKey});
        QThread::msleep(holdMs);
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("keyup"), FKey});
        FKeyHeld = false;
        QThread::msleep(700);

        const QByteArray recording = stopRecorder();
        EXPECT_GT(recording.size(), kRate) << "less than half a second was recorded";
        EXPECT_EQ(RunCommand(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}).trimmed(), window)
            << "the focus moved during the test";
        EXPECT_TRUE(run.isRunning());
        return CountOnsets(recording);
    }

    QString FKey = QStringLiteral("q");
    bool FKeyHeld = false;
    QProcess FRecorder;
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
    EXPECT_GE(onsets, 12) << "the held key should replay about every 50 ms";
    EXPECT_LE(onsets, 28) << "the held key should replay about every 50 ms";
}

TEST_F(HotkeyE2E, WithHotkeyModeOffABackgroundKeyPlaysNothing) {
    writeKeyMap(makeTone());
    WriteBytes(FProgramDir + "/settings.ini", "[Settings]\nHotkeyMode=OFF\n");
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
    FKey = QStringLiteral("Return");
    writeKeyMap(QStringLiteral("ENTER"), makeTone());
    const int onsets = holdBoundKeyInTheProgram(1000);
    EXPECT_GE(onsets, 12) << "the held key should replay about every 50 ms";
    EXPECT_LE(onsets, 28) << "the held key should replay about every 50 ms";
}

} // namespace
