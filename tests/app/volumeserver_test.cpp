// The volume slider on the test rig's PulseAudio server: the audio engine plays through SDL's PulseAudio driver,
// and the slider follows and sets that stream's volume, as another program (pactl, the desktop's mixer) sees it.
#include "app/volumecontrol.h"
#include "app/volumetarget.h"
#include "audio/soundplayer.h"
#include "platform/fake/fakeservices.h"
#include "platform/posix/linuxfilesystem.h"
#include "platform/pulse/linuxprogramvolume.h"
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/systemservices.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSlider>
#include <QTimer>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>

using namespace clavora;

namespace {

struct StreamState {
    int index = -1;
    quint32 left = 0;
    quint32 right = 0;
};

// This process's engine stream as the server reports it; index -1 when there is none.
StreamState ourStream() {
    StreamState found;
    const QJsonArray streams =
        QJsonDocument::fromJson(
            test::runCommand(QStringLiteral("pactl"), {QStringLiteral("-f"), QStringLiteral("json"),
                                                       QStringLiteral("list"), QStringLiteral("sink-inputs")})
                .toUtf8())
            .array();
    for (const QJsonValue& stream : streams) {
        const QJsonObject properties = stream[QStringLiteral("properties")].toObject();
        if (properties[QStringLiteral("application.process.id")].toString() == QString::number(::getpid()) &&
            properties[QStringLiteral("media.name")].toString() == QLatin1String(audio::OutputStreamName)) {
            const QJsonObject volume = stream[QStringLiteral("volume")].toObject();
            found.index = stream[QStringLiteral("index")].toInt();
            found.left = static_cast<quint32>(volume[QStringLiteral("front-left")][QStringLiteral("value")].toInt());
            found.right = static_cast<quint32>(volume[QStringLiteral("front-right")][QStringLiteral("value")].toInt());
        }
    }
    return found;
}

void setStreamVolume(int index, quint32 left, quint32 right) {
    test::runCommand(QStringLiteral("pactl"), {QStringLiteral("set-sink-input-volume"), QString::number(index),
                                               QString::number(left), QString::number(right)});
}

class VolumeOnSoundServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::soundServerReachable()) {
            GTEST_SKIP() << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink)";
        }
        m_previousDriver = qgetenv("SDL_AUDIODRIVER");
        qputenv("SDL_AUDIODRIVER", "pulseaudio");
        ASSERT_TRUE(m_sound.start());
        ASSERT_EQ(m_sound.engine().outputDriver(), "pulseaudio");
        m_serverServices = servicesWith(m_server);
        m_volume = makeProgramVolume(m_sound, *m_serverServices, m_state.path());
        m_control = std::make_unique<VolumeControl>(
            &m_slider, &m_home, *m_volume,
            StatusTextSink{[this] { return m_text; }, [this](const QString& text) { m_text = text; }});
        // Connected after the control's own handler: counts the rounds it has finished.
        QObject::connect(m_control->timer(), &QTimer::timeout, [this] { ++m_rounds; });

        ASSERT_TRUE(test::waitFor([] { return ourStream().index >= 0; }, 5000)) << "the engine's stream is missing";
        m_stream = ourStream().index;
        // Whatever the server started the stream with, begin from full volume.
        setStreamVolume(m_stream, 65536, 65536);
        ASSERT_TRUE(test::waitFor([this] { return m_slider.value() == 8; }, 5000)) << m_slider.value();
    }

    void TearDown() override {
        m_control.reset();
        m_volume.reset();
        m_sound.stop();
        if (!m_previousDriver.isNull()) {
            qputenv("SDL_AUDIODRIVER", m_previousDriver);
        }
    }

    void wheelNotch(int delta) {
        const QPointF at(5, 5);
        QWheelEvent event(at, at, QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&m_slider, &event);
    }

    // The program's services with Server for its stream volume and the disk for its state store.
    std::unique_ptr<platform::Services> servicesWith(platform::IProgramVolume& server) {
        return m_fakes.services().withParts([&](platform::Services::Parts& parts) {
            parts.programVolume = &server;
            parts.fileSystem = &m_disk;
        });
    }

    platform::FakeServices m_fakes;
    platform::LinuxFileSystem m_disk;
    QByteArray m_previousDriver;
    test::TempFolder m_state;
    audio::SoundPlayer m_sound{clavora::test::systemAudioServices()};
    platform::LinuxProgramVolume m_server;
    std::unique_ptr<platform::Services> m_serverServices;
    std::unique_ptr<platform::IProgramVolume> m_volume;
    QSlider m_slider;
    QWidget m_home;
    QString m_text = QStringLiteral("Press any key");
    std::unique_ptr<VolumeControl> m_control;
    int m_stream = -1;
    int m_rounds = 0; // of the volume timer
};

// Within two rounds of the 100 ms timer, however long the rounds take on a busy machine.
TEST_F(VolumeOnSoundServerTest, StreamMutedElsewhereShowsSilentWithinTwoRounds) {
    setStreamVolume(m_stream, 0, 0);
    const int before = m_rounds;
    ASSERT_TRUE(test::waitFor([this] { return m_text == "Silent" && m_slider.value() == 0; }, 5000));
    EXPECT_LE(m_rounds - before, 2);

    setStreamVolume(m_stream, 40000, 40000);
    EXPECT_TRUE(test::waitFor([this] { return m_text == "Press any key" && m_slider.value() == 4; }, 5000));
    // Written back rounded down to the step, on both channels.
    EXPECT_TRUE(test::waitFor([] { return ourStream().left == 32764 && ourStream().right == 32764; }, 5000));
}

TEST_F(VolumeOnSoundServerTest, FourWheelNotchesDownFromTheTopSetTheStreamToHalf) {
    for (int notch = 0; notch < 4; ++notch) {
        wheelNotch(-120);
    }
    EXPECT_EQ(m_slider.value(), 4);
    EXPECT_TRUE(test::waitFor([] { return ourStream().left == 32764 && ourStream().right == 32764; }, 5000))
        << ourStream().left << "/" << ourStream().right;
    // And the slider stays there: what the server reports back agrees with it.
    m_control->tick();
    EXPECT_EQ(m_slider.value(), 4);
    // The voice output's stream is not the one the slider sets at the server: its gain in the engine follows, as
    // loud as half way up the server's cubic scale, while the speakers' engine gain stays whole.
    EXPECT_EQ(m_sound.voiceGain().left, serverVolumeAsGain(32764));
    EXPECT_EQ(m_sound.voiceGain().right, serverVolumeAsGain(32764));
    EXPECT_EQ(m_sound.engine().masterGain().right, 65535);
}

// The output's stream goes away while nothing plays (or while the server restarts), and the slider is moved
// meanwhile: the next stream is given the slider's volume, not the server's full volume for a new stream.
TEST_F(VolumeOnSoundServerTest, SetWhileTheStreamIsAwayReachesTheNextStream) {
    m_sound.stop();
    ASSERT_TRUE(test::waitFor([] { return ourStream().index < 0; }, 5000));
    // The poll finds the stream gone before the slider moves.
    const int before = m_rounds;
    ASSERT_TRUE(test::waitFor([&] { return m_rounds >= before + 2; }, 5000));
    for (int notch = 0; notch < 4; ++notch) {
        wheelNotch(-120);
    }
    EXPECT_EQ(m_slider.value(), 4);

    ASSERT_TRUE(m_sound.start());
    EXPECT_TRUE(test::waitFor([] { return ourStream().left == 32764 && ourStream().right == 32764; }, 5000))
        << ourStream().left << "/" << ourStream().right;
    EXPECT_EQ(m_slider.value(), 4);
}

// The output's stream exists only from the first sound on. Before it the slider shows the volume the last run left,
// which the stream is given when it comes, or full volume when none was kept; never zero.
TEST_F(VolumeOnSoundServerTest, BeforeTheFirstSoundTheSliderShowsTheVolumeOfTheLastRun) {
    for (int notch = 0; notch < 4; ++notch) {
        wheelNotch(-120);
    }
    ASSERT_TRUE(test::waitFor([] { return ourStream().left == 32764; }, 5000));
    // This run ends; its volume is kept.
    m_control.reset();
    m_volume.reset();
    m_sound.stop();
    ASSERT_TRUE(test::waitFor([] { return ourStream().index < 0; }, 5000));

    test::TempFolder nothingKept;
    const QString tone = nothingKept.file(QStringLiteral("tone.wav"));
    test::writeWav16(tone, 44100, 2, test::sineSamples16(1000, 44100, 4410, 0.5));
    for (const bool kept : {true, false}) {
        audio::EngineConfig config;
        config.closedUntilFirstSound = true;
        audio::SoundPlayer next(clavora::test::systemAudioServices(), config);
        ASSERT_TRUE(next.start());
        // A run of its own follows the server afresh: to this run's follower the stream the last one left is none
        // of its own to replace.
        platform::LinuxProgramVolume server;
        const std::unique_ptr<platform::Services> services = servicesWith(server);
        std::unique_ptr<platform::IProgramVolume> volume =
            makeProgramVolume(next, *services, kept ? m_state.path() : nothingKept.path());
        QSlider slider;
        VolumeControl control(
            &slider, &m_home, *volume,
            StatusTextSink{[this] { return m_text; }, [this](const QString& text) { m_text = text; }});
        control.tick();
        EXPECT_EQ(slider.value(), kept ? 4 : 8) << (kept ? "kept" : "nothing kept");
        EXPECT_EQ(m_text, "Press any key");
        ASSERT_LT(ourStream().index, 0) << "the output opened before the first sound";

        next.playSoundFile(tone, true);
        ASSERT_TRUE(test::waitFor([] { return ourStream().index >= 0; }, 5000));
        if (kept) {
            EXPECT_TRUE(test::waitFor(
                [&] {
                    control.tick();
                    return ourStream().left == 32764 && ourStream().right == 32764;
                },
                5000))
                << ourStream().left << "/" << ourStream().right;
            EXPECT_EQ(slider.value(), 4);
        }
        next.stop();
        ASSERT_TRUE(test::waitFor([] { return ourStream().index < 0; }, 5000));
    }
}

// The machine gets busy and the output reopens at a larger period between two rounds of the slider's timer: the new
// stream comes at the server's 100 % for a new stream while the old one goes. It is given the slider's volume; the
// slider does not jump to full.
TEST_F(VolumeOnSoundServerTest, AnOutputReopenedAtAnotherPeriodKeepsTheSlidersVolume) {
    m_control.reset();
    m_volume.reset();
    m_sound.stop();
    ASSERT_TRUE(test::waitFor([] { return ourStream().index < 0; }, 5000));

    std::atomic<bool> busy{false};
    audio::EngineConfig config;
    config.adaptivePeriod = true;
    config.periodPolicy.busyPeriod = 1024;
    config.machineBusy = [&busy] { return busy.load(); };
    audio::SoundPlayer sound(clavora::test::systemAudioServices(), config);
    ASSERT_TRUE(sound.start());
    platform::LinuxProgramVolume server;
    const std::unique_ptr<platform::Services> services = servicesWith(server);
    std::unique_ptr<platform::IProgramVolume> volume = makeProgramVolume(sound, *services, m_state.path());
    QSlider slider;
    VolumeControl control(&slider, &m_home, *volume,
                          StatusTextSink{[this] { return m_text; }, [this](const QString& text) { m_text = text; }});
    ASSERT_TRUE(test::waitFor([] { return ourStream().index >= 0; }, 5000));
    ASSERT_TRUE(test::waitFor([&] { return volume->isAvailable(); }, 5000));
    slider.setValue(4);
    ASSERT_TRUE(test::waitFor([] { return ourStream().left == 32764 && ourStream().right == 32764; }, 5000));
    const int before = ourStream().index;
    const int periodBefore = sound.engine().periodFrames();
    ASSERT_LT(periodBefore, 1024);

    // The period follows the load once nothing has played for a while, at the engine's next look at it.
    busy = true;
    bool jumped = false;
    const auto steady = [&] {
        jumped = jumped || slider.value() != 4;
        return true;
    };
    EXPECT_TRUE(test::waitFor(
        [&] {
            steady();
            const int now = ourStream().index;
            return now >= 0 && now != before;
        },
        30000))
        << "the output was not reopened";
    EXPECT_EQ(sound.engine().periodFrames(), 1024);
    EXPECT_TRUE(test::waitFor(
        [&] {
            steady();
            return ourStream().left == 32764 && ourStream().right == 32764;
        },
        5000))
        << ourStream().left << "/" << ourStream().right;
    // A few more rounds of the slider's timer.
    int rounds = 0;
    QObject::connect(control.timer(), &QTimer::timeout, &slider, [&rounds] { ++rounds; });
    test::waitFor([&] { return steady() && rounds >= 5; }, 5000);
    EXPECT_FALSE(jumped) << "the slider took the new stream's volume for a change made elsewhere";
    EXPECT_EQ(slider.value(), 4);
}

TEST_F(VolumeOnSoundServerTest, UnequalChannelsFollowTheRightOne) {
    setStreamVolume(m_stream, 65536, 16382);
    EXPECT_TRUE(test::waitFor([this] { return m_slider.value() == 2; }, 5000)) << m_slider.value();
    EXPECT_TRUE(test::waitFor([] { return ourStream().left == 16382 && ourStream().right == 16382; }, 5000))
        << ourStream().left << "/" << ourStream().right;

    setStreamVolume(m_stream, 0, 65536);
    EXPECT_TRUE(test::waitFor([this] { return m_slider.value() == 8; }, 5000)) << m_slider.value();
    EXPECT_TRUE(test::waitFor([] { return ourStream().left == 65529 && ourStream().right == 65529; }, 5000))
        << ourStream().left << "/" << ourStream().right;
    EXPECT_EQ(m_text, "Press any key");
}

} // namespace
