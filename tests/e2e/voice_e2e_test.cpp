// Playing into calls and stopping everything, for real: the installed program on a private PulseAudio server (its
// own null sink "speakers" and a stand-in microphone), keys pressed with xdotool on the rig's display, and what the
// server carried recorded from "Clavora Microphone" and from the speakers.
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundrecorder.h"
#include "tests/support/audio/soundserver.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <numbers>
#include <vector>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");
const QString MicrophoneSource = QStringLiteral("clavora_microphone");
constexpr int RecordRate = SoundRecorder::Rate;
constexpr int ToneRate = 44100;
constexpr double KeyFrequency = 1000.0;
constexpr double VoiceFrequency = 440.0;

// The amplitude of one frequency over a whole recording (a single-bin Fourier transform), as a share of full scale
// for a tone that lasted the whole recording.
double amplitudeAt(const std::vector<float>& samples, double frequency, int rate) {
    double re = 0;
    double im = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
        re += samples[i] * std::cos(phase);
        im -= samples[i] * std::sin(phase);
    }
    return samples.empty() ? 0 : 2 * std::hypot(re, im) / static_cast<double>(samples.size());
}

// The strongest amplitude of one frequency in any tenth of a second of a recording: a short tone, or one the server
// broke up on a busy machine, still shows at its level, where over the whole recording its pieces would cancel.
double strongestAmplitudeAt(const std::vector<float>& samples, double frequency, int rate) {
    const size_t block = static_cast<size_t>(rate / 10);
    double strongest = 0;
    for (size_t start = 0; start + block <= samples.size(); start += block / 2) {
        const std::vector<float> part(samples.begin() + static_cast<std::ptrdiff_t>(start),
                                      samples.begin() + static_cast<std::ptrdiff_t>(start + block));
        strongest = std::max(strongest, amplitudeAt(part, frequency, rate));
    }
    return strongest;
}

class VoiceE2E : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(m_server.start(SoundServer::NeverSuspend)) << "pulseaudio did not start";
        m_server.useForThisProcess();
        m_keyTone = m_root.file("key.wav");
        writeWav16(m_keyTone, ToneRate, 2, sineSamples16(KeyFrequency, ToneRate, ToneRate * 3 / 10, 0.5));
    }

    void writeKeyMap(const QByteArray& bindings) {
        QByteArray keys = "\xEF\xBB\xBF";
        for (int n = 1; n <= 12; ++n) {
            keys += "F" + QByteArray::number(n) + "|Sounds\\" + QByteArray::number(n + 10) + ".mp3\r\n";
        }
        writeBytes(m_programDir + "/keys.db", keys + bindings);
    }
    void writeSettings(const QByteArray& settings) { writeBytes(m_programDir + "/settings.ini", settings); }

    // The program on the private server.
    std::unique_ptr<ProgramRun> program() {
        auto run = std::make_unique<ProgramRun>(m_programDir + "/clavora", m_home);
        run->environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
        m_server.applyTo(run->environment());
        return run;
    }

    QStringList ourModules() const {
        QStringList ours;
        for (const QString& line : m_server.modules().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line.contains(QStringLiteral("clavora.owner"))) {
                ours << line;
            }
        }
        return ours;
    }

    void focusProgram(qint64 pid) {
        const QString window =
            runCommand(QStringLiteral("xdotool"),
                       {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                        QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
                        QLatin1Char('^') + Title + QLatin1Char('$')})
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                .value(0);
        ASSERT_FALSE(window.isEmpty());
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        ASSERT_TRUE(waitFor(
            [&] {
                return runCommand(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}).trimmed() == window;
            },
            5000));
    }

    SoundServer m_server{QString(), SoundServer::Kind::PulseAudio, QStringLiteral("speakers")};
    QString m_keyTone;
};

TEST_F(VoiceE2E, TheMicrophoneCarriesTheKeysSoundAndTheUsersVoiceAndGoesAwayAtTheEnd) {
    ASSERT_TRUE(m_server.addFakeMicrophone());
    writeKeyMap("q|" + QFile::encodeName(m_keyTone) + "\r\n");
    writeSettings("[Settings]\r\nHotkeyMode=OFF\r\nVoiceOutput=ON\r\n");
    auto run = program();
    ASSERT_TRUE(run->start());
    ASSERT_TRUE(run->waitForWindow(Title)) << run->output().toStdString();
    ASSERT_TRUE(waitFor([&] { return m_server.sourceNames().contains(MicrophoneSource); }, 10000))
        << m_server.modules().toStdString() << run->output().toStdString();
    focusProgram(run->pid());

    SoundRecorder microphone(m_root.file("microphone.raw"), m_server.address());
    SoundRecorder speakers(m_root.file("speakers.raw"), m_server.address());
    ASSERT_TRUE(microphone.start(MicrophoneSource));
    ASSERT_TRUE(speakers.start(QStringLiteral("speakers.monitor")));

    // The user speaks: a tone into the stand-in microphone, all through the recording.
    const QString voice = m_root.file("voice.wav");
    writeWav16(voice, RecordRate, 2, sineSamples16(VoiceFrequency, RecordRate, RecordRate * 3, 0.5));
    QProcess speaking;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    m_server.applyTo(environment);
    speaking.setProcessEnvironment(environment);
    speaking.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("micfeed"), voice});
    ASSERT_TRUE(speaking.waitForStarted(5000));
    ASSERT_TRUE(microphone.recordMore(300));

    runCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("q")});
    ASSERT_TRUE(microphone.recordMore(1200));
    microphone.stop();
    speakers.stop();
    speaking.waitForFinished(10000);

    const std::vector<float> fromMicrophone = microphone.samples();
    const std::vector<float> fromSpeakers = speakers.samples();
    // The key's tone lasts 0.3 s of a recording of about 1.5 s; the voice lasts through it. Each is looked for in the
    // tenth of a second where it is strongest.
    EXPECT_GT(strongestAmplitudeAt(fromMicrophone, KeyFrequency, RecordRate), 0.02) << run->output().toStdString();
    // The voice reaches the mix through the server's own loop, whose dropouts on a loaded machine (a sanitizer build,
    // a low-latency output beside it) take its level from about 0.06 down to 0.035: the bound is that of the key's
    // tone, far above what arrives without the loop (see the speakers below).
    EXPECT_GT(strongestAmplitudeAt(fromMicrophone, VoiceFrequency, RecordRate), 0.02);
    EXPECT_GT(strongestAmplitudeAt(fromSpeakers, KeyFrequency, RecordRate), 0.02);
    EXPECT_LT(amplitudeAt(fromSpeakers, VoiceFrequency, RecordRate), 0.005) << "the user's voice reached the speakers";

    // A normal end takes everything away.
    ASSERT_EQ(ourModules().size(), 3) << m_server.modules().toStdString();
    run->stop();
    EXPECT_TRUE(ourModules().isEmpty()) << m_server.modules().toStdString() << run->output().toStdString();
    EXPECT_FALSE(m_server.sourceNames().contains(MicrophoneSource));
}

TEST_F(VoiceE2E, WhatAKilledRunLeftIsRemovedAtTheNextStart) {
    writeKeyMap(QByteArray());
    writeSettings("[Settings]\r\nVoiceOutput=ON\r\n");
    {
        auto run = program();
        ASSERT_TRUE(run->start());
        ASSERT_TRUE(run->waitForWindow(Title)) << run->output().toStdString();
        ASSERT_TRUE(waitFor([&] { return m_server.sourceNames().contains(MicrophoneSource); }, 10000));
        ::kill(static_cast<pid_t>(run->pid()), SIGKILL);
        ASSERT_TRUE(waitFor([&] { return !run->isRunning(); }, 10000));
    }
    ASSERT_FALSE(ourModules().isEmpty()) << "the killed run left nothing behind";

    writeSettings("[Settings]\r\nVoiceOutput=OFF\r\n");
    auto run = program();
    ASSERT_TRUE(run->start());
    ASSERT_TRUE(run->waitForWindow(Title)) << run->output().toStdString();
    // Removed once the audio output has settled, which start-up no longer waits for before the window.
    EXPECT_TRUE(waitFor([&] { return ourModules().isEmpty(); }, 10000)) << m_server.modules().toStdString();
    EXPECT_FALSE(m_server.sourceNames().contains(MicrophoneSource));
    run->stop();
}

TEST_F(VoiceE2E, TheStopAllKeySilencesTenSoundsInHotkeyModeFromAnotherWindow) {
    const QString longTone = m_root.file("long.wav");
    // Each poll that sees the key down plays it once more: up to twenty sounds may sum.
    writeWav16(longTone, ToneRate, 2, sineSamples16(KeyFrequency, ToneRate, ToneRate * 4, 0.045));
    writeKeyMap("a|" + QFile::encodeName(longTone) + "\r\nb|<stop all>/\r\n");
    writeSettings("[Settings]\r\nHotkeyMode=ON\r\nAllowOverlappingSounds=ON\r\n");
    auto run = program();
    ASSERT_TRUE(run->start());
    ASSERT_TRUE(run->waitForWindow(Title)) << run->output().toStdString();

    QWidget other;
    other.setWindowTitle(QStringLiteral("focus holder"));
    other.resize(200, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(waitFor([&] { return QGuiApplication::focusWindow() == other.windowHandle(); }, 10000));

    SoundRecorder speakers(m_root.file("speakers.raw"), m_server.address());
    ASSERT_TRUE(speakers.start(QStringLiteral("speakers.monitor")));
    // Ten overlapping four-second sounds: the key held for a poll, ten times. The hotkey poll plays what is down.
    // Measured by the sound server's clock, as the recorder receives it.
    for (int i = 0; i < 10; ++i) {
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("a")});
        speakers.recordMore(70);
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("a")});
        speakers.recordMore(50);
    }
    const qint64 beforeStop = speakers.bytes() / 2;
    // The stop-all key is held until the poll has seen it: the speakers fall silent, long before the four-second
    // sounds would have ended by themselves.
    runCommand(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("b")});
    const bool silenced = waitFor(
        [&] {
            const std::vector<float> all = speakers.samples();
            if (static_cast<qint64>(all.size()) < beforeStop + RecordRate / 10) {
                return false;
            }
            return peak(std::vector<float>(all.end() - RecordRate / 10, all.end())) < 0.001f;
        },
        3000);
    runCommand(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("b")});
    EXPECT_TRUE(silenced) << "the stop-all key did not silence the sounds";
    const qint64 afterStop = speakers.bytes() / 2;
    ASSERT_TRUE(speakers.recordMore(1500));
    speakers.stop();
    EXPECT_TRUE(QGuiApplication::focusWindow() == other.windowHandle()) << "the focus moved during the test";

    const std::vector<float> recorded = speakers.samples();
    ASSERT_GT(static_cast<qint64>(recorded.size()), afterStop + RecordRate);
    const std::vector<float> before(recorded.begin(), recorded.begin() + beforeStop);
    EXPECT_GT(peak(before), 0.03f) << run->output().toStdString();
    // Silent from shortly after the key on, long before the sounds would have ended. The key's poll and the
    // server's buffers take a little time; a quarter of a second is far less than what was left to play.
    const std::vector<float> after(recorded.begin() + afterStop + RecordRate / 4, recorded.end());
    EXPECT_LT(peak(after), 0.001f) << "sound after the stop-all key";
    EXPECT_TRUE(run->isRunning());
}

} // namespace
