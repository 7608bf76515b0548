// The audio driver the program picks by the sound server that answers, against servers of the test's own: the
// server is told apart, the output plays through the driver picked for it, and the volume slider's server side finds
// the program's stream whichever driver made it.
#include "app/audiodrivers.h"
#include "audio/soundplayer.h"
#include "platform/pulse/linuxprogramvolume.h"
#include "platform/pulse/linuxsoundserver.h"
#include "platform/soundserver.h"
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundserver.h"
#include "tests/support/audio/systemservices.h"
#include "tests/support/testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace clavora;
using clavora::test::SoundServer;

namespace {

constexpr int WaitMs = 20000;
constexpr std::chrono::milliseconds QueryTimeout{2000};

TEST(PreferredAudioDriversTest, SdlsPipeWireDriverOnlyWherePipeWireCanLinkItsStream) {
    struct Case {
        platform::SoundServerInfo server;
        QByteArray drivers;
    };
    const Case cases[] = {
        {{true, QStringLiteral("PulseAudio (on PipeWire 0.3.65)"), true, true}, "pipewire,pulseaudio"},
        // Without a session manager SDL's PipeWire driver would wait for ever to be linked.
        {{true, QStringLiteral("PulseAudio (on PipeWire 0.3.65)"), true, false}, ""},
        {{true, QStringLiteral("pulseaudio"), false, false}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(preferredAudioDrivers(c.server), c.drivers) << c.server.name.toStdString();
    }
}

TEST(SoundServerQueryTest, NoServerIsSaidAtOnce) {
    test::TempFolder folder;
    test::ScopedEnvironment server("PULSE_SERVER", "unix:" + QFile::encodeName(folder.file(QStringLiteral("none"))));
    QElapsedTimer timer;
    timer.start();
    const platform::SoundServerInfo info = platform::PulseSoundServer().query(QueryTimeout);
    EXPECT_FALSE(info.answers);
    EXPECT_LT(timer.elapsed(), QueryTimeout.count());
    EXPECT_TRUE(preferredAudioDrivers(info).isEmpty());
}

struct Server {
    SoundServer::Kind kind;
    const char* expectedDriver;
    const char* name;
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

// The index of the stream of that name at the server (only this process plays there); empty when there is none.
QString streamIndex(const SoundServer& server, const char* name) {
    const QJsonArray streams =
        QJsonDocument::fromJson(server
                                    .pactl({QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("list"),
                                            QStringLiteral("sink-inputs")})
                                    .toUtf8())
            .array();
    for (const QJsonValue& stream : streams) {
        if (stream[QStringLiteral("properties")][QStringLiteral("media.name")].toString() == QLatin1String(name)) {
            return QString::number(stream[QStringLiteral("index")].toInt());
        }
    }
    return QString();
}

class ProgramOnSoundServerTest : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override {
        if (!SoundServer::available(GetParam().kind)) {
            GTEST_SKIP() << "the sound server's programs are not installed";
        }
        m_tone = m_folder.file(QStringLiteral("tone.wav"));
        test::writeWav16(m_tone, 44100, 2, test::sineSamples16(1000, 44100, 44100 / 4, 0.5));
        ASSERT_TRUE(m_server.start());
        ASSERT_TRUE(m_server.startRecorder());
    }

    test::TempFolder m_folder;
    // The program's choice, not the test suite's dummy driver.
    test::ScopedEnvironment m_driver{"SDL_AUDIODRIVER", QByteArray()};
    SoundServer m_server{m_folder.file(QStringLiteral("runtime")), GetParam().kind};
    test::ScopedEnvironment m_pulse{"PULSE_SERVER", QFile::encodeName(m_server.address())};
    test::ScopedEnvironment m_pipeWire{"PIPEWIRE_RUNTIME_DIR",
                                       QFile::encodeName(m_folder.file(QStringLiteral("runtime")))};
    QString m_tone;
};

TEST_P(ProgramOnSoundServerTest, TheServerIsToldApartAndItsDriverPlaysAStreamTheVolumeFollows) {
    const platform::SoundServerInfo info = platform::PulseSoundServer().query(QueryTimeout);
    ASSERT_TRUE(info.answers);
    const bool pipeWire = GetParam().kind == SoundServer::Kind::PipeWire;
    EXPECT_EQ(info.pipeWire, pipeWire) << info.name.toStdString();
    EXPECT_EQ(info.sessionManager, pipeWire);

    audio::EngineConfig config;
    config.drivers = preferredAudioDrivers(info);
    audio::SoundPlayer player(clavora::test::systemAudioServices(), config);
    ASSERT_TRUE(player.start());
    EXPECT_EQ(player.engine().outputDriver(), GetParam().expectedDriver);
    player.playSoundFile(m_tone, true);
    EXPECT_TRUE(test::waitFor([&] { return m_server.heard(1000); }, WaitMs));

    // A second output, as for the microphone, comes after the speakers' and is named apart.
    ASSERT_TRUE(player.startVoiceOutput(QString()));
    QString speakers;
    QString voice;
    ASSERT_TRUE(test::waitFor(
        [&] {
            speakers = streamIndex(m_server, audio::OutputStreamName);
            voice = streamIndex(m_server, audio::VoiceStreamName);
            return !speakers.isEmpty() && !voice.isEmpty();
        },
        WaitMs));

    // The speakers' stream is found by this process's id, which SDL's PipeWire driver gives only to its connection,
    // and by its name: the newer stream into the microphone is not taken for it.
    platform::LinuxProgramVolume volume;
    volume.follow(QLatin1String(audio::OutputStreamName));
    ASSERT_TRUE(test::waitFor([&] { return volume.isAvailable(); }, WaitMs));
    m_server.pactl({QStringLiteral("set-sink-input-volume"), voice, QStringLiteral("8192")});
    m_server.pactl({QStringLiteral("set-sink-input-volume"), speakers, QStringLiteral("16384")});
    const quint16 quarter = platform::LinuxProgramVolume::fromServerVolume(16384);
    platform::ChannelVolume read;
    EXPECT_TRUE(test::waitFor(
        [&] {
            return volume.read(read) && read == platform::ChannelVolume{quarter, quarter};
        },
        WaitMs))
        << read.left << " " << read.right;
    player.stop();
}

INSTANTIATE_TEST_SUITE_P(Servers, ProgramOnSoundServerTest,
                         ::testing::Values(Server{SoundServer::Kind::PulseAudio, "pulseaudio", "PulseAudio"},
                                           Server{SoundServer::Kind::PipeWire, "pipewire", "PipeWire"}),
                         [](const ::testing::TestParamInfo<Server>& server) { return server.param.name; });

} // namespace
