// The engine against a real sound server: a private PulseAudio with a null sink, started and stopped by each test
// (by its PID), and what reached the sink recorded from its monitor. The server is killed under the engine and
// started again; the engine closes its output when idle so the sink can suspend.
#include "audio/soundplayer.h"

#include "platform/fake/fakefallbackplayer.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundserver.h"
#include "tests/support/audio/systemservices.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <mutex>

using namespace clavora;
using namespace clavora::audio;
using clavora::test::AudioLog;
using clavora::test::SoundServer;
using clavora::test::TempFolder;
using clavora::test::waitFor;

namespace {

constexpr int ToneRate = 44100;
constexpr int WaitMs = 20000;

using Kind = SoundServer::Kind;

// A sound server, and the SDL driver the engine reaches it through.
struct Server {
    Kind kind;
    const char* driver;
    const char* name;
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

class SoundServerTest : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override {
        if (!SoundServer::available(GetParam().kind)) {
            GTEST_SKIP() << "the sound server's programs are not installed";
        }
        m_files.programFile = m_folder.file(QStringLiteral("clavora"));
        m_tone = m_folder.file(QStringLiteral("tone.wav"));
        test::writeWav16(m_tone, ToneRate, 2, test::sineSamples16(1000, ToneRate, ToneRate / 4, 0.5));
        m_environment.set("SDL_AUDIODRIVER", GetParam().driver);
        m_environment.set("PULSE_SERVER", QFile::encodeName(m_server.address()));
        m_environment.set("PIPEWIRE_RUNTIME_DIR", QFile::encodeName(m_folder.file(QStringLiteral("runtime"))));
    }

    TempFolder m_folder;
    SoundServer m_server{m_folder.file(QStringLiteral("runtime")), GetParam().kind};
    QString m_tone;
    test::ScopedEnvironment m_environment;
    platform::FakeFileSystem m_files;
    platform::FakeFallbackPlayer m_fallback;
    // The player plays the fakes' files and hands what it cannot take to the fake simple player.
    AudioServices audioServices() {
        return {&m_files, &test::systemServices().threadPriority(), &m_fallback, &test::systemServices().systemInfo()};
    }
};

TEST_P(SoundServerTest, ServerRestartedUnderThePlayerIsHeardAgainWithoutARestart) {
    AudioLog log;
    ASSERT_TRUE(m_server.start());
    ASSERT_TRUE(m_server.startRecorder());
    SoundPlayer player{audioServices()};
    ASSERT_TRUE(player.start());
    player.playSoundFile(m_tone, true);
    ASSERT_TRUE(waitFor([&] { return m_server.heard(1000); }, WaitMs)) << "not heard before the restart";

    m_server.stopRecorder();
    m_server.kill();
    ASSERT_TRUE(waitFor([&] { return player.engine().outputState() == OutputState::Lost; }, WaitMs));
    // Said just after the state changes.
    EXPECT_TRUE(waitFor([&] { return log.contains(QStringLiteral("Audio output lost")); }, WaitMs));
    // Meanwhile the fallback player takes the sounds.
    player.playSoundFile(m_tone, true);
    EXPECT_TRUE(waitFor([&] { return m_fallback.played == QStringList{m_tone}; }, WaitMs));

    ASSERT_TRUE(m_server.start());
    ASSERT_TRUE(m_server.startRecorder());
    // The very next press, without waiting for the engine to notice the server is back.
    player.playSoundFile(m_tone, true);
    EXPECT_TRUE(waitFor([&] { return m_server.heard(1000); }, WaitMs)) << "not heard after the restart";
    EXPECT_EQ(player.engine().outputState(), OutputState::Running);
    EXPECT_TRUE(waitFor([&] { return log.contains(QStringLiteral("Audio output is back")); }, WaitMs));
    EXPECT_EQ(m_fallback.played, QStringList{m_tone});
    player.stop();
}

TEST_P(SoundServerTest, IdleOutputLetsTheSinkSuspendAndTheNextSoundIsHeard) {
    ASSERT_TRUE(m_server.start(1));
    EngineConfig config;
    config.idleTimeout = std::chrono::milliseconds(300);
    SoundPlayer player(audioServices(), config);
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

// A server that takes the connection and answers nothing (stopped where it stood) holds up only the opening in the
// background: meanwhile every sound goes to the fallback, and once the server answers the output is taken up.
TEST_P(SoundServerTest, OutputOpenedWhileTheServerIsFrozenIsTakenUpWhenItAnswers) {
    ASSERT_TRUE(m_server.start());
    m_server.freeze();
    SoundPlayer player{audioServices()};
    int settled = 0;
    bool started = false;
    ASSERT_TRUE(player.startInBackground([&](bool running) {
        ++settled;
        started = running;
    }));
    EXPECT_FALSE(player.waitForStart(std::chrono::milliseconds(500)))
        << "the frozen server answered: nothing here to guard against";
    EXPECT_EQ(player.engine().outputState(), OutputState::Opening);
    EXPECT_FALSE(player.isRunning());
    player.playSoundFile(m_tone, true);
    EXPECT_EQ(m_fallback.played, QStringList{m_tone});
    QCoreApplication::processEvents();
    EXPECT_EQ(settled, 0);

    m_server.thaw();
    ASSERT_TRUE(waitFor([&] { return settled != 0; }, WaitMs)) << "not taken up after the server answered";
    EXPECT_EQ(settled, 1);
    EXPECT_TRUE(started);
    EXPECT_TRUE(player.isRunning());
    EXPECT_TRUE(player.waitForStart(std::chrono::milliseconds(0)));
    EXPECT_EQ(settled, 1) << "settled twice";

    ASSERT_TRUE(m_server.startRecorder());
    player.playSoundFile(m_tone, true);
    EXPECT_TRUE(waitFor([&] { return m_server.heard(1000); }, WaitMs)) << "not heard once the output was taken up";
    EXPECT_EQ(m_fallback.played, QStringList{m_tone});
    player.stop();
}

// Without a session manager nothing links a new stream, and SDL's PipeWire driver then waits for ever inside its
// opening. The engine's end (and so the program's) is not held up by it.
using SessionManagerGoneTest = SoundServerTest;

TEST_P(SessionManagerGoneTest, AnOpeningTheServerNeverAnswersDoesNotHoldUpTheEnd) {
    AudioLog log;
    ASSERT_TRUE(m_server.start());
    EngineConfig config;
    config.idleTimeout = std::chrono::milliseconds(300);
    config.closedUntilFirstSound = true;
    SoundPlayer player(audioServices(), config);
    ASSERT_TRUE(player.start());
    ASSERT_EQ(player.engine().outputState(), OutputState::Paused);
    m_server.killSessionManager();
    player.playSoundFile(m_tone, true);
    EXPECT_FALSE(waitFor([&] { return player.engine().deviceOpenings() > 1; }, 1000))
        << "the opening was answered: nothing here to guard against";

    QElapsedTimer ending;
    ending.start();
    player.stop();
    EXPECT_LT(ending.elapsed(), 10000);
    EXPECT_FALSE(player.engine().isRunning());
    EXPECT_TRUE(log.contains(QStringLiteral("does not answer")));
}

INSTANTIATE_TEST_SUITE_P(Servers, SessionManagerGoneTest,
                         ::testing::Values(Server{Kind::PipeWire, "pipewire", "PipeWireThroughSdlsOwnDriver"}),
                         [](const ::testing::TestParamInfo<Server>& tested) { return tested.param.name; });

// SDL's own PipeWire driver says nothing when the server goes away; its callback just stops being called.
INSTANTIATE_TEST_SUITE_P(Servers, SoundServerTest,
                         ::testing::Values(Server{Kind::PulseAudio, "pulseaudio", "PulseAudio"},
                                           Server{Kind::PipeWire, "pulseaudio",
                                                  "PipeWireThroughItsPulseAudioInterface"},
                                           Server{Kind::PipeWire, "pipewire", "PipeWireThroughSdlsOwnDriver"}),
                         [](const ::testing::TestParamInfo<Server>& tested) { return tested.param.name; });

} // namespace
