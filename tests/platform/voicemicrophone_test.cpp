// The virtual microphone against a private PulseAudio server: what it makes, what it leaves behind, and what a
// killed process left being swept up by the next one.
#include "platform/pulse/linuxvoicemicrophone.h"
#include "tests/support/audio/soundserver.h"

#include <gtest/gtest.h>
#include <pulse/simple.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace clavora;
using namespace clavora::platform;
using clavora::test::SoundServer;

namespace {

class VoiceMicrophoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.start(SoundServer::NeverSuspend)) << "pulseaudio did not start";
        m_server.useForThisProcess();
    }

    // Our modules on the server, one line each.
    QStringList ourModules() const {
        QStringList ours;
        for (const QString& line : m_server.modules().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line.contains(VoiceOwnerProperty)) {
                ours << line;
            }
        }
        return ours;
    }

    QString sourceDescription(const QString& name) const {
        const QString all = m_server.pactl({QStringLiteral("list"), QStringLiteral("sources")});
        const qsizetype at = all.indexOf(QStringLiteral("Name: ") + name + QLatin1Char('\n'));
        if (at < 0) {
            return QString();
        }
        const qsizetype description = all.indexOf(QStringLiteral("Description: "), at);
        return all.mid(description + 13).section(QLatin1Char('\n'), 0, 0);
    }

    SoundServer m_server{QString(), SoundServer::Kind::PulseAudio, QStringLiteral("speakers")};
};

TEST_F(VoiceMicrophoneTest, MakesTheMicrophoneWithTheDefaultSourceMixedInAndRemovesAllOfIt) {
    ASSERT_TRUE(m_server.addFakeMicrophone());
    LinuxVoiceMicrophone microphone;
    EXPECT_TRUE(microphone.serverReachable());
    const Status made = microphone.create();
    ASSERT_TRUE(made.ok()) << made.message().toStdString();
    EXPECT_TRUE(microphone.isCreated());
    EXPECT_EQ(microphone.mixDeviceName(), VoiceMixDescription);
    EXPECT_TRUE(m_server.sourceNames().contains(VoiceSourceName));
    EXPECT_EQ(sourceDescription(VoiceSourceName), VoiceMicrophoneName);
    const QStringList ours = ourModules();
    ASSERT_EQ(ours.size(), 3) << m_server.modules().toStdString();
    EXPECT_TRUE(ours[2].contains(QStringLiteral("module-loopback")) &&
                ours[2].contains(QStringLiteral("source=fakemic")))
        << ours[2].toStdString();
    // Made twice is made once.
    EXPECT_TRUE(microphone.create().ok());
    EXPECT_EQ(ourModules().size(), 3);

    microphone.remove();
    EXPECT_FALSE(microphone.isCreated());
    EXPECT_TRUE(ourModules().isEmpty()) << m_server.modules().toStdString();
    EXPECT_FALSE(m_server.sourceNames().contains(VoiceSourceName));
}

// A playback stream of this process on the default device, as an audio output opens it.
class Playback {
public:
    Playback() {
        const pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, 48000, 2};
        m_stream = pa_simple_new(nullptr, "voicemicrophone_tests", PA_STREAM_PLAYBACK, nullptr, "test", &sampleSpec,
                                 nullptr, nullptr, nullptr);
    }
    ~Playback() {
        if (m_stream != nullptr) {
            pa_simple_free(m_stream);
        }
    }
    bool ok() const { return m_stream != nullptr; }

private:
    pa_simple* m_stream = nullptr;
};

TEST_F(VoiceMicrophoneTest, AnOutputOpenedWhileSteeredPlaysIntoTheMix) {
    LinuxVoiceMicrophone microphone;
    EXPECT_EQ(microphone.steerDefaultOutputToMix(), nullptr) << "steered before there is a mix";
    ASSERT_TRUE(microphone.create().ok());
    {
        Playback speakers;
        ASSERT_TRUE(speakers.ok());
        EXPECT_FALSE(microphone.mixHasOurPlayback());
    }
    std::unique_ptr<IHeld> steered = microphone.steerDefaultOutputToMix();
    ASSERT_NE(steered, nullptr);
    Playback mix;
    steered.reset();
    ASSERT_TRUE(mix.ok());
    EXPECT_TRUE(microphone.mixHasOurPlayback());
    EXPECT_FALSE(qEnvironmentVariableIsSet("PULSE_SINK")) << "the steer outlived its holder";
}

TEST_F(VoiceMicrophoneTest, AMonitorAsTheDefaultSourceIsNotFedBackIntoTheMix) {
    // The private server's default source is the monitor of its speakers: our own sounds, played to them.
    LinuxVoiceMicrophone microphone;
    ASSERT_TRUE(microphone.create().ok());
    const QStringList ours = ourModules();
    EXPECT_EQ(ours.size(), 2) << m_server.modules().toStdString();
    EXPECT_FALSE(ours.join(QLatin1Char('\n')).contains(QStringLiteral("module-loopback")));
    EXPECT_TRUE(m_server.sourceNames().contains(VoiceSourceName));
}

TEST_F(VoiceMicrophoneTest, ARunningInstancesMicrophoneIsKeptAndShared) {
    ASSERT_TRUE(m_server.addFakeMicrophone());
    // Made by another Clavora that still runs (the process that started the tests).
    LinuxVoiceMicrophone running(::getppid());
    ASSERT_TRUE(running.create().ok());
    ASSERT_EQ(ourModules().size(), 3);

    LinuxVoiceMicrophone next;
    EXPECT_EQ(next.removeLeftovers(), 0);
    EXPECT_EQ(ourModules().size(), 3);
    // A second instance plays into the same microphone instead of making another.
    ASSERT_TRUE(next.create().ok());
    EXPECT_TRUE(next.isCreated());
    EXPECT_EQ(next.mixDeviceName(), VoiceMixDescription);
    EXPECT_EQ(ourModules().size(), 3);
    next.remove();
    EXPECT_EQ(ourModules().size(), 3) << "the other instance's microphone was taken away";
    running.remove();
    EXPECT_TRUE(ourModules().isEmpty());
}

TEST_F(VoiceMicrophoneTest, WhatAKilledProcessLeftIsRemovedAtTheNextStart) {
    ASSERT_TRUE(m_server.addFakeMicrophone());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Killed before it can take anything away.
        LinuxVoiceMicrophone microphone;
        const char made = microphone.create().ok() ? 1 : 0;
        [[maybe_unused]] const ssize_t written = ::write(ready[1], &made, 1);
        ::pause();
        ::_exit(0);
    }
    char made = 0;
    ASSERT_EQ(::read(ready[0], &made, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(made, 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(ourModules().size(), 3) << "the killed process left nothing behind";
    ASSERT_TRUE(m_server.sourceNames().contains(VoiceSourceName));

    LinuxVoiceMicrophone next;
    EXPECT_GE(next.removeLeftovers(), 1);
    EXPECT_TRUE(ourModules().isEmpty()) << m_server.modules().toStdString();
    EXPECT_FALSE(m_server.sourceNames().contains(VoiceSourceName));
    EXPECT_EQ(next.removeLeftovers(), 0);
    // And the next start makes its own.
    ASSERT_TRUE(next.create().ok());
    EXPECT_EQ(ourModules().size(), 3);
}

TEST(VoiceMicrophoneWithoutServerTest, NoServerMeansUnavailableAndAFailureToMake) {
    const bool wasSet = qEnvironmentVariableIsSet("PULSE_SERVER");
    const QByteArray previous = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/clavora-test/native");
    LinuxVoiceMicrophone microphone;
    EXPECT_FALSE(microphone.serverReachable());
    EXPECT_EQ(microphone.removeLeftovers(), 0);
    const Status made = microphone.create();
    EXPECT_FALSE(made.ok());
    EXPECT_TRUE(made.message().contains(VoiceMicrophoneName)) << made.message().toStdString();
    EXPECT_FALSE(microphone.isCreated());
    if (wasSet) {
        qputenv("PULSE_SERVER", previous);
    } else {
        qunsetenv("PULSE_SERVER");
    }
}

} // namespace
