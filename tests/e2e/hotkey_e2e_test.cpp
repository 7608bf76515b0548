// Hotkey mode for real: the program in the background, another window holding the focus, a bound key held down
// with xdotool, and the sound that came out of the sound server counted from a recording of its null sink.
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
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
        if (m_recorder.state() != QProcess::NotRunning) {
            m_recorder.terminate();
            if (!m_recorder.waitForFinished(3000)) {
                m_recorder.kill();
                m_recorder.waitForFinished(3000);
            }
        }
    }

    // A 20 ms tone: shorter than a poll, so every replay starts after a gap of silence.
    QString makeTone() {
        const QString path = m_root.file("tone.wav");
        const QString log = runCommand(QStringLiteral("ffmpeg"),
                                       {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                        "sine=frequency=1000:sample_rate=48000:duration=0.02", "-af", "volume=4", path},
                                       20000);
        EXPECT_TRUE(QFile::exists(path)) << log.toStdString();
        return path;
    }

    void writeKeyMap(const QString& tonePath) {
        QByteArray keys = "\xEF\xBB\xBF";
        for (int n = 1; n <= 12; ++n) {
            keys += "F" + QByteArray::number(n) + "|Sounds\\" + QByteArray::number(n + 10) + ".mp3\r\n";
        }
        keys += m_key.toUtf8() + "|" + tonePath.toUtf8() + "\r\n";
        writeBytes(m_programDir + "/keys.db", keys);
    }

    bool startRecorder() {
        m_recorder.setStandardOutputFile(m_root.file("recording.raw"));
        m_recorder.start(QStringLiteral("parec"), {"-d", "testsink.monitor", "--format=s16le", "--rate=48000",
                                                   "--channels=1", "--latency-msec=10", "--raw"});
        return m_recorder.waitForStarted(5000);
    }

    QByteArray stopRecorder() {
        m_recorder.terminate();
        if (!m_recorder.waitForFinished(5000)) {
            m_recorder.kill();
            m_recorder.waitForFinished(5000);
        }
        return readBytes(m_root.file("recording.raw"));
    }

    // Starts the program, gives another window the focus, holds the bound key for a second and returns how many
    // times its sound started in the sink's recording.
    int holdBoundKeyInTheBackground() {
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

        if (!startRecorder()) {
            ADD_FAILURE() << "parec did not start";
            return -1;
        }
        // The null sink stalls while a new monitor stream gets going; the key goes down once sound flows.
        const QString recording = m_root.file("recording.raw");
        if (!waitFor([&] { return QFileInfo(recording).size() >= kRate / 5; }, 10000)) {
            ADD_FAILURE() << "the sound server delivered nothing to the recorder";
            return -1;
        }

        // The key is held for one second of recorded sound, then the recording goes on for half a second more so
        // the last replay is in it whole. Measured on the recording, not the clock, so a slow machine gets the same.
        const qint64 bytesPerMs = kRate * 2 / 1000;
        const qint64 atPress = QFileInfo(recording).size();
        m_keyHeld = true; // released in TearDown should anything below fail
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("keydown"), m_key});
        waitFor([&] { return QFileInfo(recording).size() >= atPress + 1000 * bytesPerMs; }, 10000);
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("keyup"), m_key});
        m_keyHeld = false;
        const qint64 atRelease = QFileInfo(recording).size();
        waitFor([&] { return QFileInfo(recording).size() >= atRelease + 500 * bytesPerMs; }, 10000);

        const QByteArray recorded = stopRecorder();
        EXPECT_GT(recorded.size(), kRate) << "less than half a second was recorded";
        EXPECT_TRUE(QGuiApplication::focusWindow() == other.windowHandle()) << "the focus moved during the test";
        EXPECT_TRUE(run.isRunning());
        return CountOnsets(recorded);
    }

    QString m_key = QStringLiteral("q");
    bool m_keyHeld = false;
    QProcess m_recorder;
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
    writeBytes(m_programDir + "/settings.ini", "[Settings]\nHotkeyMode=OFF\n");
    EXPECT_EQ(holdBoundKeyInTheBackground(), 0);
}

} // namespace
