// The volume slider in the running program: on the sound server it is the volume of the program's own stream, as
// pactl sees it; on SDL's disk driver it is the engine's gain, kept in the state store and heard in the samples.
#include "tests/audio/audiotestsupport.h"
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
StreamVolume ProgramStream(qint64 pid) {
    StreamVolume found;
    const QJsonArray streams =
        QJsonDocument::fromJson(
            RunCommand(QStringLiteral("pactl"), {QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("list"),
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

class VolumeE2E : public TProgramTest {
protected:
    void SetUp() override {
        TProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        m_tone = FRoot.file("tone.wav");
        m_samples = SineSamples16(1000.0, 44100, 44100 / 5, 0.5);
        WriteWav16(m_tone, 44100, 2, m_samples);
        QByteArray keys = "\xEF\xBB\xBF";
        for (int n = 1; n <= 12; ++n) {
            keys += "F" + QByteArray::number(n) + "|Sounds\\" + QByteArray::number(n + 10) + ".mp3\r\n";
        }
        keys += "q|" + QFile::encodeName(m_tone) + "\r\n";
        WriteBytes(FProgramDir + "/keys.db", keys);
        WriteBytes(FProgramDir + "/settings.ini", "[Settings]\r\nHotkeyMode=OFF\r\n");
    }

    QString stateFile() const { return FHome + QStringLiteral("/.local/state/Zemtrak/Clavora/state.ini"); }

    QString window(qint64 pid) {
        return RunCommand(QStringLiteral("xdotool"),
                          {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                           QString::number(pid), QStringLiteral("--name"), QLatin1Char('^') + Title + QLatin1Char('$')})
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
            .value(0);
    }

    QString m_tone;
    std::vector<qint16> m_samples;
};

TEST_F(VolumeE2E, TheSliderFollowsAndSetsTheProgramsStreamAtTheSoundServer) {
    if (!SoundServerReachable()) {
        GTEST_SKIP() << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink named testsink)";
    }
    TProgramRun run(FProgramDir + "/clavora", FHome);
    run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitForWindow(Title)) << run.output().toStdString();
    const qint64 pid = run.pid();
    // Full volume at the start becomes the top step, 65528 of 65535, on the server's scale 65529 of 65536.
    ASSERT_TRUE(WaitFor([&] { return ProgramStream(pid).left == 65529; }, 10000)) << run.output().toStdString();
    const int index = ProgramStream(pid).index;

    // Set elsewhere to 40000 of 65536: the slider goes to 4 and writes its step back on both channels.
    RunCommand(QStringLiteral("pactl"),
               {QStringLiteral("set-sink-input-volume"), QString::number(index), QStringLiteral("40000")});
    EXPECT_TRUE(WaitFor(
        [&] {
            const StreamVolume now = ProgramStream(pid);
            return now.left == 32764 && now.right == 32764;
        },
        5000));

    // Only the right channel counts.
    RunCommand(QStringLiteral("pactl"), {QStringLiteral("set-sink-input-volume"), QString::number(index),
                                         QStringLiteral("65536"), QStringLiteral("16382")});
    EXPECT_TRUE(WaitFor(
        [&] {
            const StreamVolume now = ProgramStream(pid);
            return now.left == 16382 && now.right == 16382;
        },
        5000));
    EXPECT_TRUE(run.isRunning());
    run.stop();
}

TEST_F(VolumeE2E, WithoutASoundServerTheWheelSetsTheEngineGainKeptForTheNextRun) {
    QDir().mkpath(QFileInfo(stateFile()).absolutePath());
    WriteBytes(stateFile(), "[Volume]\nLeft=16382\nRight=16382\n");
    const QString disk = FRoot.file("device.raw");
    {
        TProgramRun run(FProgramDir + "/clavora", FHome);
        run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
        run.environment().insert(QStringLiteral("SDL_DISKAUDIOFILE"), disk);
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.waitForWindow(Title)) << run.output().toStdString();
        const QString id = window(run.pid());
        ASSERT_FALSE(id.isEmpty());
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), id});
        QThread::msleep(300);
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("q")});
        // The disk driver writes in real time; a second of silence pushes the tone out of every buffer.
        QThread::msleep(1500);

        // One wheel notch down over the slider (below the menu bar and the 65-pixel display strip).
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--window"), id,
                                               QStringLiteral("300"), QStringLiteral("100")});
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("5")});
        EXPECT_TRUE(WaitFor([&] { return ReadBytes(stateFile()).contains("Left=8191"); }, 5000))
            << ReadBytes(stateFile()).toStdString() << run.output().toStdString();
        run.stop();
    }

    // The stored gain of 16382 is what the tone was played with, sample for sample.
    const QByteArray raw = ReadBytes(disk);
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
    EXPECT_TRUE(ReadBytes(stateFile()).contains("Right=8191"));
}

} // namespace
