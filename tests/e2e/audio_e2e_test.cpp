// Sound playback for real: the installed program with a key map that binds a key to a generated tone, its window
// focused, the key pressed with xdotool, and the tone found in what came out: recorded from the sound server's null
// sink, and once more written by SDL's disk driver, where every sample must be the file's own.
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundrecorder.h"
#include "tests/support/audio/soundserver.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");
constexpr int ToneRate = 44100;
constexpr double ToneFrequency = 1000.0;
constexpr int ToneFrames = ToneRate * 3 / 10; // 300 ms
constexpr int RecordRate = SoundRecorder::Rate;

// A sound server that takes connections and never answers: a listening Unix socket nobody accepts from. The
// connection is made (the kernel queues it) and whatever the client sends waits there for ever.
class SilentSocket {
public:
    explicit SilentSocket(const QString& path) : m_path(QFile::encodeName(path)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (m_path.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) {
            return;
        }
        std::memcpy(address.sun_path, m_path.constData(), static_cast<size_t>(m_path.size()));
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 && (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
                          ::listen(m_fd, 64) != 0)) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~SilentSocket() {
        if (m_fd >= 0) {
            ::close(m_fd);
            ::unlink(m_path.constData());
        }
    }
    SilentSocket(const SilentSocket&) = delete;
    SilentSocket& operator=(const SilentSocket&) = delete;

    bool listening() const { return m_fd >= 0; }
    QString address() const { return QStringLiteral("unix:") + QFile::decodeName(m_path); }

private:
    QByteArray m_path;
    int m_fd = -1;
};

class AudioE2E : public ProgramTest {
protected:
    // Waits until the program has said Text, reading what it says into Output.
    static bool saidWithin(ProgramRun& run, QString& output, const QString& text) {
        return waitFor(
            [&] {
                output += run.output();
                return output.contains(text);
            },
            20000);
    }

    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        m_tone = m_root.file("tone.wav");
        m_samples = sineSamples16(ToneFrequency, ToneRate, ToneFrames, 0.5);
        writeWav16(m_tone, ToneRate, 2, m_samples);

        QByteArray keys = "\xEF\xBB\xBF";
        for (int n = 1; n <= 12; ++n) {
            keys += "F" + QByteArray::number(n) + "|Sounds\\" + QByteArray::number(n + 10) + ".mp3\r\n";
        }
        keys += "q|" + QFile::encodeName(m_tone) + "\r\n";
        writeBytes(m_programDir + "/keys.db", keys);
        // Only the focused window's key handling plays: the hotkey poll would play the key a second time.
        writeBytes(m_programDir + "/settings.ini", "[Settings]\r\nHotkeyMode=OFF\r\n");
    }

    void TearDown() override { m_recorder.stop(); }

    // Runs the program on SDL's disk driver, presses Key in its window and returns the samples that reached the
    // device; Output gets what the program printed.
    QByteArray pressOnDiskDevice(const QString& key, QString& output) {
        const QString disk = m_root.file("device.raw");
        // Without a sound server the volume slider sets the engine's gain, and its first round writes back the step
        // below the gain it finds. Start on a step, so no round changes the gain in the middle of the sound.
        const QString state = m_home + QStringLiteral("/.local/state/Zemtrak/Clavora");
        EXPECT_TRUE(QDir().mkpath(state));
        writeBytes(state + QStringLiteral("/state.ini"), "[Volume]\nLeft=65528\nRight=65528\n");
        ProgramRun run(m_programDir + "/clavora", m_home);
        run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
        run.environment().insert(QStringLiteral("SDL_DISKAUDIOFILE"), disk);
        startFocused(run);
        pressKey(key);
        // The disk driver writes in real time: half a second of silence after the sound has pushed it out of every
        // buffer.
        EXPECT_TRUE(waitFor([&] { return endsInSilence(floatsIn(disk), 0.0f, ToneRate); }, 15000))
            << "no sound followed by silence reached the device\n"
            << run.output().toStdString();
        EXPECT_TRUE(run.isRunning()) << run.output().toStdString();
        run.stop();
        output = run.output();
        return readBytes(disk);
    }

    // Starts the program and gives its window the keyboard focus.
    void startFocused(ProgramRun& run) {
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.waitForWindow(Title)) << run.output().toStdString();
        focus(Title, run.pid());
    }

    // The samples of a raw file of 32-bit floats written so far.
    static std::vector<float> floatsIn(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return floatsOf(file.readAll());
    }

    // Raw bytes of 32-bit floats as samples; none for an empty file (the output not opened yet).
    static std::vector<float> floatsOf(const QByteArray& raw) {
        std::vector<float> samples(static_cast<size_t>(raw.size()) / sizeof(float));
        if (!samples.empty()) {
            std::memcpy(samples.data(), raw.constData(), samples.size() * sizeof(float));
        }
        return samples;
    }

    // Waits until the recorder has taken in a sound and the silence after it.
    void waitForRecordedSound() { m_recorder.waitForSound(0.05f, 15000); }

    void focus(const QString& title, qint64 pid) {
        const QString window =
            runCommand(QStringLiteral("xdotool"),
                       {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                        QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
                        QLatin1Char('^') + title + QLatin1Char('$')})
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                .value(0);
        ASSERT_FALSE(window.isEmpty()) << title.toStdString();
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        ASSERT_TRUE(waitFor(
            [&] {
                return runCommand(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}).trimmed() == window;
            },
            5000))
            << "the window did not get the focus: " << title.toStdString();
    }

    QString m_tone;
    std::vector<qint16> m_samples;
    SoundRecorder m_recorder{m_root.file("recording.raw")};
};

TEST_F(AudioE2E, PressedKeyIsHeardFromTheSoundServer) {
    if (!soundServerReachable()) {
        GTEST_SKIP() << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink named testsink)";
    }
    ProgramRun run(m_programDir + "/clavora", m_home);
    run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
    startFocused(run);
    ASSERT_TRUE(m_recorder.start()) << "the sound server delivered nothing to the recorder";

    pressKey(QStringLiteral("q"));
    waitForRecordedSound();
    m_recorder.stop();
    const std::vector<float> recorded = m_recorder.samples();
    ASSERT_GT(recorded.size(), RecordRate / 2u);
    EXPECT_GT(peak(recorded), 0.2f) << "nothing was heard\n" << run.output().toStdString();
    EXPECT_NEAR(estimateFrequency(recorded, RecordRate), ToneFrequency, 5.0);
    // The sound server may stretch a sound by a short dropout on a busy machine.
    EXPECT_NEAR(static_cast<double>(audibleFrames(recorded, 0.05f)), 0.3 * RecordRate, 0.05 * RecordRate);
    EXPECT_TRUE(run.isRunning());
}

// The switch for support questions: how the output runs, soon after start-up and again when the program ends.
TEST_F(AudioE2E, DiagnosticsSwitchReportsTheOutputPeriodAndUnderruns) {
    if (!soundServerReachable()) {
        GTEST_SKIP() << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink named testsink)";
    }
    ProgramRun run(m_programDir + "/clavora", m_home);
    run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
    ASSERT_TRUE(run.start({QStringLiteral("--diagnostics")}));
    ASSERT_TRUE(run.waitForWindow(Title)) << run.output().toStdString();
    const QRegularExpression line(QStringLiteral("audio output: pulseaudio, \\d+ Hz, 2 channels, (\\d+) frames per "
                                                 "period \\([0-9.]+ ms, adaptive\\), \\d+ underruns"));
    QString output;
    EXPECT_TRUE(waitFor(
        [&] {
            output += run.output();
            return line.match(output).hasMatch();
        },
        20000))
        << output.toStdString();
    const int period = line.match(output).captured(1).toInt();
    EXPECT_GE(period, 128);
    EXPECT_LE(period, 1024);

    const int before = static_cast<int>(output.count(line));
    run.stop();
    output += run.output();
    EXPECT_GT(output.count(line), before) << "no report at the end\n" << output.toStdString();
}

// The sound server dies under the running program and comes back (a crash, or an update restarting it): the next
// key press is heard, without restarting the program. The server is one of the test's own, so the rig's stays.
TEST_F(AudioE2E, SoundServerRestartedUnderTheProgramIsHeardAgain) {
    if (!SoundServer::available()) {
        GTEST_SKIP() << "needs pulseaudio, pactl and parec";
    }
    SoundServer server(m_root.file("server"));
    ASSERT_TRUE(server.start());
    ProgramRun run(m_programDir + "/clavora", m_home);
    run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
    run.environment().insert(QStringLiteral("PULSE_SERVER"), server.address());
    startFocused(run);
    ASSERT_TRUE(server.startRecorder());
    pressKey(QStringLiteral("q"));
    QString output;
    EXPECT_TRUE(waitFor([&] { return server.heard(ToneFrequency); }, 15000)) << "not heard before the restart\n"
                                                                             << (output += run.output()).toStdString();

    server.stopRecorder();
    server.kill();
    EXPECT_TRUE(waitFor(
        [&] {
            output += run.output();
            return output.contains(QStringLiteral("Audio output lost"));
        },
        15000))
        << output.toStdString();
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(server.startRecorder());
    pressKey(QStringLiteral("q"));
    EXPECT_TRUE(waitFor([&] { return server.heard(ToneFrequency); }, 15000)) << "not heard after the restart\n"
                                                                             << (output += run.output()).toStdString();
    EXPECT_TRUE(run.isRunning());
}

TEST_F(AudioE2E, WithoutAudioOutputTheMessageShowsAndTheSystemPlayerStillPlays) {
    if (!soundServerReachable()) {
        GTEST_SKIP() << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink named testsink)";
    }
    ProgramRun run(m_programDir + "/clavora", m_home);
    run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("no-such-driver"));
    ASSERT_TRUE(run.start());
    // The start-up message, captioned with the application's name, before the main window.
    ASSERT_TRUE(run.waitForWindow(QStringLiteral("Clavora"))) << run.output().toStdString();
    focus(QStringLiteral("Clavora"), run.pid());
    pressKey(QStringLiteral("Return"));
    ASSERT_TRUE(run.waitForWindow(Title)) << run.output().toStdString();
    focus(Title, run.pid());

    ASSERT_TRUE(m_recorder.start()) << "the sound server delivered nothing to the recorder";
    pressKey(QStringLiteral("q"));
    waitForRecordedSound();
    m_recorder.stop();
    const std::vector<float> recorded = m_recorder.samples();
    EXPECT_GT(peak(recorded), 0.2f) << "the system player was not heard\n" << run.output().toStdString();
    EXPECT_NEAR(estimateFrequency(recorded, RecordRate), ToneFrequency, 5.0);
    EXPECT_TRUE(run.isRunning());
}

TEST_F(AudioE2E, PressedKeyReachesTheDeviceSampleExact) {
    QString output;
    const QByteArray raw = pressOnDiskDevice(QStringLiteral("q"), output);
    const auto* written = reinterpret_cast<const float*>(raw.constData());
    const size_t count = static_cast<size_t>(raw.size()) / sizeof(float);
    size_t first = 0;
    while (first < count && written[first] == 0.0f) {
        ++first;
    }
    ASSERT_LT(first, count) << "nothing reached the device\n" << output.toStdString();
    // The tone's first frame is zero; its second is the first sound, on the left channel.
    ASSERT_EQ(first % 2, 0u);
    ASSERT_GE(first, 2u);
    const size_t start = first - 2;
    ASSERT_GE(count - start, m_samples.size());

    // Whatever master volume the program starts with applies to every sample alike; work it out from the first
    // sound and hold every sample to it exactly.
    const double ratio = written[first] / (m_samples[2] / 32768.0);
    const auto gain = static_cast<quint16>(std::lround(ratio * 65535.0));
    ASSERT_GT(gain, 0);
    const float scale = static_cast<float>(gain) / 65535.0f;
    for (size_t i = 0; i < m_samples.size(); ++i) {
        ASSERT_EQ(written[start + i], (m_samples[i] / 32768.0f) * scale) << "sample " << i << ", gain " << gain;
    }
    for (size_t i = start + m_samples.size(); i < count; ++i) {
        ASSERT_EQ(written[i], 0.0f) << "after the tone, at sample " << i;
    }
}

TEST_F(AudioE2E, DefaultBindingPlaysFromTheProgramFolderWhenStartedElsewhere) {
    // Started in the home folder, as from a desktop menu: "Sounds\12.mp3" exists only beside the program.
    QString output;
    const std::vector<float> written = floatsOf(pressOnDiskDevice(QStringLiteral("F2"), output));
    EXPECT_GT(peak(written), 0.05f) << output.toStdString();
}

// A sound server that takes the program's connection and never answers it holds up neither the window nor the end:
// the window comes up, a key goes to the system player meanwhile, and the end asked for by the system comes.
TEST_F(AudioE2E, ASoundServerThatNeverAnswersHoldsUpNeitherTheWindowNorTheEnd) {
    const struct {
        const char* name;
        bool needsServer;
    } cases[] = {{"a socket that takes connections and never answers", false}, {"a stopped sound server", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsServer && !SoundServer::available()) {
            std::cout << "skipped (needs pulseaudio, pactl and parec): " << c.name << std::endl;
            continue;
        }
        std::unique_ptr<SilentSocket> socket;
        std::unique_ptr<SoundServer> server;
        QString address;
        if (c.needsServer) {
            server = std::make_unique<SoundServer>(m_root.file("stopped"));
            ASSERT_TRUE(server->start());
            server->freeze();
            address = server->address();
        } else {
            socket = std::make_unique<SilentSocket>(m_root.file("silent.socket"));
            ASSERT_TRUE(socket->listening());
            address = socket->address();
        }
        ProgramRun run(m_programDir + "/clavora", m_home);
        run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
        run.environment().insert(QStringLiteral("PULSE_SERVER"), address);
        run.environment().insert(QStringLiteral("QT_LOGGING_RULES"),
                                 QStringLiteral("clavora.platform.fallbackplayer.debug=true"));
        ASSERT_TRUE(run.start({QStringLiteral("--diagnostics")}));
        QString output;
        const auto said = [&](const QString& text) { return saidWithin(run, output, text); };
        ASSERT_TRUE(run.waitForWindow(Title)) << "the window did not come up\n"
                                              << (output += run.output()).toStdString();
        EXPECT_TRUE(said(QStringLiteral("audio output opening"))) << output.toStdString();
        focus(Title, run.pid());
        pressKey(QStringLiteral("q"));
        EXPECT_TRUE(said(QStringLiteral("System sound player asked for \"") + m_tone)) << output.toStdString();
        EXPECT_TRUE(run.isRunning());

        ASSERT_EQ(::kill(static_cast<pid_t>(run.pid()), SIGTERM), 0);
        EXPECT_TRUE(waitFor([&] { return !run.isRunning(); }, 30000)) << "SIGTERM did not end the program\n"
                                                                      << (output += run.output()).toStdString();
        if (server) {
            server->thaw();
        }
    }
}

// A sound server that answers only after the program has come up: its output is taken up then, and a key is heard
// through it.
TEST_F(AudioE2E, ASoundServerThatAnswersLateHasTheOutputTakenUp) {
    if (!SoundServer::available()) {
        GTEST_SKIP() << "needs pulseaudio, pactl and parec";
    }
    SoundServer server(m_root.file("server"));
    ASSERT_TRUE(server.start());
    server.freeze();
    ProgramRun run(m_programDir + "/clavora", m_home);
    run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
    run.environment().insert(QStringLiteral("PULSE_SERVER"), server.address());
    ASSERT_TRUE(run.start({QStringLiteral("--diagnostics")}));
    QString output;
    const auto said = [&](const QString& text) { return saidWithin(run, output, text); };
    ASSERT_TRUE(run.waitForWindow(Title)) << "the window did not come up\n" << (output += run.output()).toStdString();
    ASSERT_TRUE(said(QStringLiteral("audio output opening"))) << output.toStdString();

    server.thaw();
    EXPECT_TRUE(said(QStringLiteral("Audio output: pulseaudio"))) << output.toStdString();
    // The steps that wait for the output follow it.
    EXPECT_TRUE(said(QStringLiteral("Volume slider controls the stream's volume at the sound server")))
        << output.toStdString();
    ASSERT_TRUE(server.startRecorder());
    focus(Title, run.pid());
    pressKey(QStringLiteral("q"));
    EXPECT_TRUE(waitFor([&] { return server.heard(ToneFrequency); }, 15000)) << (output += run.output()).toStdString();
    EXPECT_TRUE(said(QStringLiteral("audio output: pulseaudio,"))) << output.toStdString();
    EXPECT_TRUE(run.isRunning());
}

} // namespace

namespace {

// The level of the audible part of a recording, in dB of full scale: the root mean square of its middle, away from
// the edges where the sound server fades in and out.
double audibleLevel(const std::vector<float>& samples, float threshold) {
    size_t first = samples.size();
    size_t last = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) > threshold) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (first >= last) {
        return -200.0;
    }
    const size_t margin = (last - first) / 10;
    double sum = 0;
    size_t count = 0;
    for (size_t i = first + margin; i < last - margin; ++i) {
        sum += double(samples[i]) * samples[i];
        ++count;
    }
    return count == 0 ? -200.0 : 10.0 * std::log10(sum / double(count));
}

} // namespace

// A binding's own volume, kept beside keys.db: the same tone bound to one key at 100% and to another at 50% is
// heard 6 dB apart.
TEST_F(AudioE2E, ABindingAtHalfVolumeIsHeardSixDecibelsDown) {
    if (!soundServerReachable()) {
        GTEST_SKIP() << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink named testsink)";
    }
    const QByteArray tone = QFile::encodeName(m_tone);
    writeBytes(m_programDir + "/keys.db", readBytes(m_programDir + "/keys.db") + "w|" + tone + "\r\n");
    writeBytes(m_programDir + "/bindings.ini", "[Binding1]\r\nKey=w\r\nPath=" + tone + "\r\nVolume=50\r\n");
    ProgramRun run(m_programDir + "/clavora", m_home);
    run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
    startFocused(run);

    const auto levelOf = [&](const QString& key) {
        SoundRecorder recorder(m_root.file(key + QStringLiteral(".raw")));
        EXPECT_TRUE(recorder.start()) << "the sound server delivered nothing to the recorder";
        pressKey(key);
        EXPECT_TRUE(recorder.waitForSound(0.02f, 15000)) << key.toStdString() << " was not heard";
        recorder.stop();
        return audibleLevel(recorder.samples(), 0.02f);
    };
    const double full = levelOf(QStringLiteral("q"));
    const double half = levelOf(QStringLiteral("w"));
    EXPECT_GT(full, -20.0) << "the tone at 100% was not heard\n" << run.output().toStdString();
    EXPECT_NEAR(full - half, 20.0 * std::log10(2.0), 0.5) << "at 100%: " << full << " dB, at 50%: " << half << " dB";
    EXPECT_TRUE(run.isRunning());
}
