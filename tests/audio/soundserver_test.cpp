// The engine against a real sound server: a private PulseAudio with a null sink, started and stopped by each test
// (by its PID), and what reached the sink recorded from its monitor. The server is killed under the engine and
// started again; the engine closes its output when idle so the sink can suspend.
#include "audio/soundplayer.h"

#include "platform/fake/fakefallbackplayer.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/audio/audiotestsupport.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <mutex>

using namespace clavora;
using namespace clavora::audio;
using clavora::test::runCommand;
using clavora::test::TempFolder;
using clavora::test::waitFor;

namespace {

constexpr int ToneRate = 44100;
constexpr int RecordRate = 48000;
constexpr int WaitMs = 20000;

// Messages of the audio module, for the tests that check what was logged.
class AudioLog {
public:
    AudioLog() {
        s_current = this;
        m_previous = qInstallMessageHandler(&AudioLog::handle);
    }
    ~AudioLog() {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    bool contains(const QString& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::any_of(m_lines.begin(), m_lines.end(), [&](const QString& line) { return line.contains(text); });
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (s_current != nullptr && qstrcmp(context.category, "clavora.audio") == 0) {
            std::lock_guard<std::mutex> lock(s_current->m_mutex);
            s_current->m_lines << message;
        }
        if (s_current != nullptr && s_current->m_previous != nullptr) {
            s_current->m_previous(type, context, message);
        }
    }
    static inline AudioLog* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    std::mutex m_mutex;
    QStringList m_lines;
};

// A PulseAudio server of the test's own, on a socket in a private runtime folder, with one null sink "testsink".
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(const QString& folder) : m_folder(folder) {
        QDir().mkpath(m_folder + QStringLiteral("/pulse"));
        QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    ~PrivateSoundServer() {
        stopRecorder();
        kill();
    }

    QString address() const { return QStringLiteral("unix:") + m_folder + QStringLiteral("/pulse/native"); }

    // `suspendAfter`: seconds a sink without streams waits before it suspends.
    bool start(int suspendAfter = 1) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder);
        environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_folder + QStringLiteral("/pulse"));
        environment.insert(QStringLiteral("HOME"), m_folder);
        m_server.setProcessEnvironment(environment);
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.setStandardOutputFile(m_folder + QStringLiteral("/server.log"), QIODevice::Append);
        m_server.start(QStringLiteral("pulseaudio"),
                       {QStringLiteral("--daemonize=no"), QStringLiteral("-n"), QStringLiteral("--exit-idle-time=-1"),
                        QStringLiteral("--use-pid-file=no"), QStringLiteral("--disallow-exit"), QStringLiteral("-L"),
                        QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + m_folder +
                            QStringLiteral("/pulse/native"),
                        QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=testsink rate=48000"),
                        QStringLiteral("-L"), QStringLiteral("module-suspend-on-idle timeout=%1").arg(suspendAfter)});
        if (!m_server.waitForStarted(5000)) {
            return false;
        }
        return waitFor([&] { return !pactl({QStringLiteral("info")}).isEmpty(); }, WaitMs);
    }

    // Kills the server as a crash would: no goodbye to its clients.
    void kill() {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    QString pactl(const QStringList& arguments) const {
        return runCommand(QStringLiteral("pactl"), QStringList{QStringLiteral("--server=") + address()} + arguments);
    }

    // Records the sink's monitor as 16-bit mono into a new file and waits until the server delivers to it: a null
    // sink holds up a new monitor stream for a while, and a sound played before would be lost.
    bool startRecorder() {
        stopRecorder();
        m_recording = m_folder + QStringLiteral("/recording%1.raw").arg(++m_recordings);
        m_recorder.setStandardOutputFile(m_recording);
        m_recorder.start(QStringLiteral("parec"),
                         {QStringLiteral("--server=") + address(), QStringLiteral("-d"),
                          QStringLiteral("testsink.monitor"), QStringLiteral("--format=s16le"),
                          QStringLiteral("--rate=%1").arg(RecordRate), QStringLiteral("--channels=1"),
                          QStringLiteral("--latency-msec=10"), QStringLiteral("--raw")});
        return m_recorder.waitForStarted(5000) &&
               waitFor([&] { return QFileInfo(m_recording).size() >= RecordRate / 5; }, WaitMs);
    }

    void stopRecorder() {
        if (m_recorder.state() != QProcess::NotRunning) {
            m_recorder.terminate();
            if (!m_recorder.waitForFinished(5000)) {
                m_recorder.kill();
                m_recorder.waitForFinished(5000);
            }
        }
    }

    // What the current recorder has taken in so far.
    std::vector<float> recording() const {
        const QByteArray raw = test::readBytes(m_recording);
        std::vector<float> samples(static_cast<size_t>(raw.size()) / 2);
        const auto* values = reinterpret_cast<const qint16*>(raw.constData());
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = values[i] / 32768.0f;
        }
        return samples;
    }

    // True once the recording holds a tone of `frequency` followed by a little silence, i.e. the whole sound.
    bool heard(double frequency) const {
        const std::vector<float> samples = recording();
        if (test::peak(samples) < 0.2f) {
            return false;
        }
        size_t last = samples.size();
        while (last > 0 && std::fabs(samples[last - 1]) < 0.05f) {
            --last;
        }
        return samples.size() - last > RecordRate / 10 &&
               std::fabs(test::estimateFrequency(samples, RecordRate) - frequency) < 5.0;
    }

    // Whether a stream of the program is connected to the server.
    bool hasClavoraStream() const {
        return pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")})
            .contains(QStringLiteral("application.name = \"Clavora\""));
    }

    QString sinkState() const {
        const QString sinks = pactl({QStringLiteral("list"), QStringLiteral("sinks"), QStringLiteral("short")});
        return sinks.section(QLatin1Char('\t'), 4, 4).trimmed();
    }

private:
    QString m_folder;
    QProcess m_server;
    QProcess m_recorder;
    QString m_recording;
    int m_recordings = 0;
};

class SoundServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty()) {
            GTEST_SKIP() << "needs pulseaudio and parec";
        }
        m_files.programFile = m_folder.file(QStringLiteral("clavora"));
        m_tone = m_folder.file(QStringLiteral("tone.wav"));
        test::writeWav16(m_tone, ToneRate, 2, test::sineSamples16(1000, ToneRate, ToneRate / 4, 0.5));
        m_oldDriver = qgetenv("SDL_AUDIODRIVER");
        m_oldServer = qgetenv("PULSE_SERVER");
        qputenv("SDL_AUDIODRIVER", "pulseaudio");
        qputenv("PULSE_SERVER", QFile::encodeName(m_server.address()));
    }

    void TearDown() override {
        qputenv("SDL_AUDIODRIVER", m_oldDriver);
        if (m_oldServer.isEmpty()) {
            qunsetenv("PULSE_SERVER");
        } else {
            qputenv("PULSE_SERVER", m_oldServer);
        }
    }

    TempFolder m_folder;
    PrivateSoundServer m_server{m_folder.file(QStringLiteral("runtime"))};
    QString m_tone;
    QByteArray m_oldDriver;
    QByteArray m_oldServer;
    platform::FakeFileSystem m_files;
    platform::FakeFallbackPlayer m_fallback;
    platform::ScopedService<platform::IFileSystem> m_filesInPlace{m_files};
    platform::ScopedService<platform::IFallbackPlayer> m_fallbackInPlace{m_fallback};
};

TEST_F(SoundServerTest, ServerRestartedUnderThePlayerIsHeardAgainWithoutARestart) {
    AudioLog log;
    ASSERT_TRUE(m_server.start());
    ASSERT_TRUE(m_server.startRecorder());
    SoundPlayer player;
    ASSERT_TRUE(player.start());
    player.playSoundFile(m_tone, true);
    ASSERT_TRUE(waitFor([&] { return m_server.heard(1000); }, WaitMs)) << "not heard before the restart";

    m_server.stopRecorder();
    m_server.kill();
    ASSERT_TRUE(waitFor([&] { return player.engine().outputState() == OutputState::Lost; }, WaitMs));
    EXPECT_TRUE(log.contains(QStringLiteral("Audio output lost")));
    // Meanwhile the fallback player takes the sounds.
    player.playSoundFile(m_tone, true);
    EXPECT_TRUE(waitFor([&] { return m_fallback.played == QStringList{m_tone}; }, WaitMs));

    ASSERT_TRUE(m_server.start());
    ASSERT_TRUE(m_server.startRecorder());
    // The very next press, without waiting for the engine to notice the server is back.
    player.playSoundFile(m_tone, true);
    EXPECT_TRUE(waitFor([&] { return m_server.heard(1000); }, WaitMs)) << "not heard after the restart";
    EXPECT_EQ(player.engine().outputState(), OutputState::Running);
    EXPECT_TRUE(log.contains(QStringLiteral("Audio output is back")));
    EXPECT_EQ(m_fallback.played, QStringList{m_tone});
    player.stop();
}

TEST_F(SoundServerTest, IdleOutputLetsTheSinkSuspendAndTheNextSoundIsHeard) {
    ASSERT_TRUE(m_server.start(1));
    EngineConfig config;
    config.idleTimeout = std::chrono::milliseconds(300);
    SoundPlayer player(config);
    ASSERT_TRUE(player.start());
    EXPECT_TRUE(waitFor([&] { return m_server.hasClavoraStream(); }, WaitMs));

    ASSERT_TRUE(waitFor([&] { return player.engine().outputState() == OutputState::Paused; }, WaitMs));
    EXPECT_TRUE(waitFor([&] { return !m_server.hasClavoraStream(); }, WaitMs));
    EXPECT_TRUE(waitFor([&] { return m_server.sinkState() == QStringLiteral("SUSPENDED"); }, WaitMs))
        << m_server.sinkState().toStdString();

    ASSERT_TRUE(m_server.startRecorder());
    player.playSoundFile(m_tone, true);
    EXPECT_TRUE(waitFor([&] { return m_server.heard(1000); }, WaitMs)) << "not heard after the pause";
    EXPECT_EQ(player.engine().deviceOpenings(), 2);
    EXPECT_TRUE(m_fallback.played.isEmpty());
    player.stop();
}

} // namespace
