// The volume slider in the running program: on the sound server it is the volume of the program's own stream, as
// pactl sees it; on SDL's disk driver it is the engine's gain, kept in the state store and heard in the samples.
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");

struct StreamVolume {
    int index = -1;
    int left = -1;
    int right = -1;
};

// The program's engine stream at the rig's sound server.
StreamVolume programStream(qint64 pid) {
    StreamVolume found;
    const QJsonArray streams =
        QJsonDocument::fromJson(
            runCommand(QStringLiteral("pactl"), {QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("list"),
                                                 QStringLiteral("sink-inputs")})
                .toUtf8())
            .array();
    for (const QJsonValue& stream : streams) {
        const QJsonObject properties = stream[QStringLiteral("properties")].toObject();
        if (properties[QStringLiteral("application.process.id")].toString() == QString::number(pid) &&
            properties[QStringLiteral("media.name")].toString() == QLatin1String("Sound playback")) {
            const QJsonObject volume = stream[QStringLiteral("volume")].toObject();
            found.index = stream[QStringLiteral("index")].toInt();
            found.left = volume[QStringLiteral("front-left")][QStringLiteral("value")].toInt();
            found.right = volume[QStringLiteral("front-right")][QStringLiteral("value")].toInt();
        }
    }
    return found;
}

class VolumeE2E : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        m_tone = m_root.file("tone.wav");
        m_samples = sineSamples16(1000.0, 44100, 44100 / 5, 0.5);
        writeWav16(m_tone, 44100, 2, m_samples);
        QByteArray keys = "\xEF\xBB\xBF";
        for (int n = 1; n <= 12; ++n) {
            keys += "F" + QByteArray::number(n) + "|Sounds\\" + QByteArray::number(n + 10) + ".mp3\r\n";
        }
        keys += "q|" + QFile::encodeName(m_tone) + "\r\n";
        writeBytes(m_programDir + "/keys.db", keys);
        writeBytes(m_programDir + "/settings.ini", "[Settings]\r\nHotkeyMode=OFF\r\n");
    }

    QString stateFile() const { return m_home + QStringLiteral("/.local/state/Zemtrak/Clavora/state.ini"); }

    QString window(qint64 pid) {
        return runCommand(QStringLiteral("xdotool"),
                          {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
                           QLatin1Char('^') + Title + QLatin1Char('$')})
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
            .value(0);
    }

    QString m_tone;
    std::vector<qint16> m_samples;
};

TEST_F(VolumeE2E, TheSliderFollowsAndSetsTheProgramsStreamAtTheSoundServer) {
    if (!soundServerReachable()) {
        GTEST_SKIP() << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink named testsink)";
    }
    ProgramRun run(m_programDir + "/clavora", m_home);
    run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitForWindow(Title)) << run.output().toStdString();
    const qint64 pid = run.pid();
    // The output opens for the first sound.
    const QString id = window(pid);
    ASSERT_FALSE(id.isEmpty());
    runCommand(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), id});
    ASSERT_TRUE(run.waitUntilActive()) << run.output().toStdString();
    runCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("q")});
    // Full volume at the start becomes the top step, 65528 of 65535, on the server's scale 65529 of 65536.
    ASSERT_TRUE(waitFor([&] { return programStream(pid).left == 65529; }, 10000)) << run.output().toStdString();
    const int index = programStream(pid).index;

    // Set elsewhere to 40000 of 65536: the slider goes to 4 and writes its step back on both channels.
    runCommand(QStringLiteral("pactl"),
               {QStringLiteral("set-sink-input-volume"), QString::number(index), QStringLiteral("40000")});
    EXPECT_TRUE(waitFor(
        [&] {
            const StreamVolume now = programStream(pid);
            return now.left == 32764 && now.right == 32764;
        },
        5000));

    // Only the right channel counts.
    runCommand(QStringLiteral("pactl"), {QStringLiteral("set-sink-input-volume"), QString::number(index),
                                         QStringLiteral("65536"), QStringLiteral("16382")});
    EXPECT_TRUE(waitFor(
        [&] {
            const StreamVolume now = programStream(pid);
            return now.left == 16382 && now.right == 16382;
        },
        5000));
    EXPECT_TRUE(run.isRunning());
    run.stop();
}

TEST_F(VolumeE2E, WithoutASoundServerTheWheelSetsTheEngineGainKeptForTheNextRun) {
    QDir().mkpath(QFileInfo(stateFile()).absolutePath());
    writeBytes(stateFile(), "[Volume]\nLeft=16382\nRight=16382\n");
    const QString disk = m_root.file("device.raw");
    {
        ProgramRun run(m_programDir + "/clavora", m_home);
        run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
        run.environment().insert(QStringLiteral("SDL_DISKAUDIOFILE"), disk);
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.waitForWindow(Title)) << run.output().toStdString();
        const QString id = window(run.pid());
        ASSERT_FALSE(id.isEmpty());
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), id});
        ASSERT_TRUE(run.waitUntilActive()) << run.output().toStdString();
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("q")});
        // The disk driver writes in real time; a second and a half more of its output (at most 8 bytes a frame of
        // 48 kHz stereo) pushes the tone out of every buffer.
        const qint64 written = QFileInfo(disk).size();
        ASSERT_TRUE(waitFor([&] { return QFileInfo(disk).size() >= written + 48000 * 8 * 3 / 2; }, 20000));

        // One wheel notch down over the slider (below the menu bar and the 65-pixel display strip).
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--window"), id,
                                               QStringLiteral("300"), QStringLiteral("100")});
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("5")});
        EXPECT_TRUE(waitFor([&] { return readBytes(stateFile()).contains("Left=8191"); }, 5000))
            << readBytes(stateFile()).toStdString() << run.output().toStdString();
        run.stop();
    }

    // The stored gain of 16382 is what the tone was played with, sample for sample.
    const QByteArray raw = readBytes(disk);
    const auto* written = reinterpret_cast<const float*>(raw.constData());
    const size_t count = static_cast<size_t>(raw.size()) / sizeof(float);
    size_t first = 0;
    while (first < count && written[first] == 0.0f) {
        ++first;
    }
    ASSERT_LT(first, count) << "nothing reached the device";
    ASSERT_GE(first, 2u);
    const size_t start = first - 2;
    ASSERT_GE(count - start, m_samples.size());
    const float scale = 16382.0f / 65535.0f;
    for (size_t i = 0; i < m_samples.size(); ++i) {
        ASSERT_EQ(written[start + i], (m_samples[i] / 32768.0f) * scale) << "sample " << i;
    }
    EXPECT_TRUE(readBytes(stateFile()).contains("Right=8191"));
}

} // namespace
