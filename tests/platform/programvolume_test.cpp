// The program's volume at the sound server, against a PulseAudio server of the test's own: the stream of this
// process is found by its name, volumes changed elsewhere are seen, writes reach the server, and a server that
// goes away and comes back is found again.
#include "platform/pulse/linuxprogramvolume.h"
#include "platform/pulse/linuxsoundserver.h"
#include "tests/support/audio/soundserver.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <pulse/simple.h>
#include <unistd.h>

#include <memory>

using namespace clavora;
using namespace clavora::platform;

void PrintTo(const ChannelVolume& volume, std::ostream* out) {
    *out << "{" << volume.left << ", " << volume.right << "}";
}

namespace {

const QString OurStream = QStringLiteral("Sound playback");

TEST(ProgramVolumeScaleTest, TheServerScaleIsLinearAndRoundTripsExactly) {
    EXPECT_EQ(LinuxProgramVolume::toServerVolume(0), 0u);
    EXPECT_EQ(LinuxProgramVolume::toServerVolume(65535), 0x10000u); // the server's 100 %
    EXPECT_EQ(LinuxProgramVolume::toServerVolume(32764), 32764u);
    EXPECT_EQ(LinuxProgramVolume::fromServerVolume(0x10000), 65535);
    EXPECT_EQ(LinuxProgramVolume::fromServerVolume(0x18000), 65535) << "a boost above 100 % reads as full";
    for (int volume = 0; volume <= 65535; ++volume) {
        const auto channel = static_cast<quint16>(volume);
        ASSERT_EQ(LinuxProgramVolume::fromServerVolume(LinuxProgramVolume::toServerVolume(channel)), channel);
    }
}

// A playback stream of this process, named like the audio engine's, on the given server.
class TestStream {
public:
    TestStream(const QString& server, const QString& name) {
        const pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32LE, 44100, 2};
        int error = 0;
        m_stream = pa_simple_new(server.toUtf8().constData(), "Clavora", PA_STREAM_PLAYBACK, nullptr,
                                 name.toUtf8().constData(), &sampleSpec, nullptr, nullptr, &error);
    }
    ~TestStream() { close(); }
    bool isOpen() const { return m_stream != nullptr; }
    void close() {
        if (m_stream != nullptr) {
            pa_simple_free(m_stream);
            m_stream = nullptr;
        }
    }

private:
    pa_simple* m_stream = nullptr;
};

class ProgramVolumeServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()) {
            GTEST_SKIP() << "needs the pulseaudio server program";
        }
        m_server = std::make_unique<test::SoundServer>(m_folder.file(QStringLiteral("runtime")));
        ASSERT_TRUE(m_server->start(test::SoundServer::NeverSuspend)) << "the private sound server did not start";
    }

    ChannelVolume readNow(IProgramVolume& volume) {
        ChannelVolume read{};
        volume.read(read);
        return read;
    }

    static ChannelVolume fromServer(quint32 left, quint32 right) {
        return {LinuxProgramVolume::fromServerVolume(left), LinuxProgramVolume::fromServerVolume(right)};
    }

    test::TempFolder m_folder;
    std::unique_ptr<test::SoundServer> m_server;
};

TEST_F(ProgramVolumeServerTest, OurStreamIsFollowedAndChangesMadeElsewhereAreSeen) {
    TestStream other(m_server->address(), QStringLiteral("Another stream"));
    TestStream ours(m_server->address(), OurStream);
    ASSERT_TRUE(other.isOpen() && ours.isOpen());
    const int otherIndex = m_server->findStream(::getpid(), QStringLiteral("Another stream"));
    const int ourIndex = m_server->findStream(::getpid(), OurStream);
    ASSERT_GE(ourIndex, 0);

    LinuxProgramVolume volume(m_server->address());
    ChannelVolume read{7, 7};
    EXPECT_FALSE(volume.read(read)) << "nothing is known before following";
    EXPECT_FALSE(volume.write({1, 1}));
    volume.follow(OurStream);
    ASSERT_TRUE(test::waitFor([&] { return volume.isAvailable(); }, 5000));
    EXPECT_EQ(readNow(volume), (ChannelVolume{65535, 65535}));

    m_server->setStreamVolume(otherIndex, 1000, 1000);
    m_server->setStreamVolume(ourIndex, 20000, 30000);
    EXPECT_TRUE(test::waitFor([&] { return readNow(volume) == fromServer(20000, 30000); }, 5000))
        << "read " << readNow(volume).left << "/" << readNow(volume).right;

    // A write is read back at once and reaches the server on its own.
    ASSERT_TRUE(volume.write({32764, 8191}));
    EXPECT_EQ(readNow(volume), (ChannelVolume{32764, 8191}));
    EXPECT_TRUE(test::waitFor(
        [&] {
            return m_server->streamVolume(ourIndex) == std::vector<quint32>{32764u, 8191u};
        },
        5000));
    EXPECT_EQ(m_server->streamVolume(otherIndex), (std::vector<quint32>{1000u, 1000u}));

    // Writes in quick succession end with the last one, and no older report undoes it.
    for (quint16 step = 1; step <= 8; ++step) {
        volume.write({static_cast<quint16>(step * 8191), static_cast<quint16>(step * 8191)});
    }
    EXPECT_TRUE(test::waitFor(
        [&] {
            return m_server->streamVolume(ourIndex) == std::vector<quint32>{65529u, 65529u};
        },
        5000));
    EXPECT_EQ(readNow(volume), (ChannelVolume{65528, 65528}));

    ours.close();
    EXPECT_TRUE(test::waitFor([&] { return !volume.isAvailable(); }, 5000)) << "the stream is gone";
    EXPECT_FALSE(volume.write({0, 0}));
}

TEST_F(ProgramVolumeServerTest, AnotherProcessStreamOfTheSameNameIsNotOurs) {
    TestStream ours(m_server->address(), OurStream);
    ASSERT_TRUE(ours.isOpen());
    // Opened after ours, so it would win if the process did not count.
    QProcess foreign;
    foreign.start(QStringLiteral("pacat"), {QStringLiteral("-s"), m_server->address(), QStringLiteral("--playback"),
                                            QStringLiteral("--stream-name=") + OurStream});
    ASSERT_TRUE(foreign.waitForStarted(5000));
    ASSERT_TRUE(test::waitFor([&] { return m_server->findStream(foreign.processId(), OurStream) >= 0; }, 5000));
    const int foreignIndex = m_server->findStream(foreign.processId(), OurStream);
    const int ourIndex = m_server->findStream(::getpid(), OurStream);
    m_server->setStreamVolume(foreignIndex, 10000, 10000);
    m_server->setStreamVolume(ourIndex, 50000, 50000);

    LinuxProgramVolume volume(m_server->address());
    volume.follow(OurStream);
    EXPECT_TRUE(test::waitFor([&] { return readNow(volume) == fromServer(50000, 50000); }, 5000));
    volume.write({8191, 8191});
    EXPECT_TRUE(test::waitFor(
        [&] {
            return m_server->streamVolume(ourIndex) == std::vector<quint32>{8191u, 8191u};
        },
        5000));
    EXPECT_EQ(m_server->streamVolume(foreignIndex), (std::vector<quint32>{10000u, 10000u}));

    ours.close();
    EXPECT_TRUE(test::waitFor([&] { return !volume.isAvailable(); }, 5000));
    foreign.kill();
    foreign.waitForFinished(5000);
}

// The output reopens (at another period on a busy machine, or after a quiet while): a new stream of ours comes,
// at the server's 100 % for a new stream, while or after the old one goes. It is given the volume we had; only a
// change on the stream already followed is one made elsewhere.
TEST_F(ProgramVolumeServerTest, AStreamThatReplacesOursIsGivenOurVolume) {
    auto first = std::make_unique<TestStream>(m_server->address(), OurStream);
    ASSERT_TRUE(first->isOpen());
    const int firstIndex = m_server->findStream(::getpid(), OurStream);
    LinuxProgramVolume volume(m_server->address());
    volume.follow(OurStream);
    ASSERT_TRUE(test::waitFor([&] { return volume.isAvailable(); }, 5000));
    m_server->setStreamVolume(firstIndex, 20000, 20000);
    const ChannelVolume ours = fromServer(20000, 20000);
    ASSERT_TRUE(test::waitFor([&] { return readNow(volume) == ours; }, 5000));

    bool sawOther = false;
    auto givenOurs = [&](int index) {
        const ChannelVolume read = readNow(volume);
        sawOther = sawOther || (volume.isAvailable() && !(read == ours));
        return m_server->streamVolume(index) == std::vector<quint32>{20000u, 20000u};
    };
    // The new stream opens before the old one closes.
    auto second = std::make_unique<TestStream>(m_server->address(), OurStream);
    ASSERT_TRUE(second->isOpen());
    const int secondIndex = m_server->findStream(::getpid(), OurStream);
    ASSERT_NE(secondIndex, firstIndex);
    first.reset();
    EXPECT_TRUE(test::waitFor([&] { return givenOurs(secondIndex); }, 5000))
        << "the new stream kept " << m_server->streamVolume(secondIndex).front();
    EXPECT_FALSE(sawOther) << "the new stream's volume was taken for a change made elsewhere";

    // The old stream is gone before the new one opens.
    second.reset();
    ASSERT_TRUE(test::waitFor([&] { return !volume.isAvailable(); }, 5000));
    TestStream third(m_server->address(), OurStream);
    ASSERT_TRUE(third.isOpen());
    const int thirdIndex = m_server->findStream(::getpid(), OurStream);
    EXPECT_TRUE(test::waitFor([&] { return givenOurs(thirdIndex); }, 5000))
        << "the new stream kept " << m_server->streamVolume(thirdIndex).front();
    EXPECT_FALSE(sawOther);

    // A change on the stream followed is still seen.
    m_server->setStreamVolume(thirdIndex, 40000, 40000);
    EXPECT_TRUE(test::waitFor([&] { return readNow(volume) == fromServer(40000, 40000); }, 5000));
}

TEST_F(ProgramVolumeServerTest, AServerThatGoesAwayAndComesBackIsFoundAgain) {
    auto ours = std::make_unique<TestStream>(m_server->address(), OurStream);
    ASSERT_TRUE(ours->isOpen());
    LinuxProgramVolume volume(m_server->address());
    volume.follow(OurStream);
    ASSERT_TRUE(test::waitFor([&] { return volume.isAvailable(); }, 5000));

    // The server goes with our stream still open.
    m_server->stop();
    EXPECT_TRUE(test::waitFor([&] { return !volume.isAvailable(); }, 5000));
    ours.reset();

    ASSERT_TRUE(m_server->start(test::SoundServer::NeverSuspend));
    ours = std::make_unique<TestStream>(m_server->address(), OurStream);
    ASSERT_TRUE(ours->isOpen());
    const int ourIndex = m_server->findStream(::getpid(), OurStream);
    m_server->setStreamVolume(ourIndex, 16382, 16382);
    EXPECT_TRUE(test::waitFor([&] { return readNow(volume) == fromServer(16382, 16382); }, 10000));
    volume.write({65535, 0});
    EXPECT_TRUE(test::waitFor(
        [&] {
            return m_server->streamVolume(ourIndex) == std::vector<quint32>{65536u, 0u};
        },
        5000));
}

// The output a stream of ours is kept on: listed by the server with its description, moved there, moved to the
// default while that output is gone, and back once it returns; the default again on request.
TEST_F(ProgramVolumeServerTest, OurStreamIsKeptOnTheChosenOutputWhileItIsThere) {
    const auto loadOther = [&] {
        return !m_server
                    ->pactl({"load-module", "module-null-sink", "sink_name=other",
                             "sink_properties=device.description=Other"})
                    .trimmed()
                    .isEmpty();
    };
    ASSERT_TRUE(loadOther());
    m_server->useForThisProcess();
    const QList<SoundOutput> outputs = PulseSoundServer().outputs(std::chrono::milliseconds(5000));
    ASSERT_EQ(outputs.size(), 2);
    EXPECT_EQ(outputs[0].name, "testsink");
    EXPECT_FALSE(outputs[0].description.isEmpty());
    EXPECT_EQ(outputs[1], (SoundOutput{"other", "Other"}));

    // The output a stream of this process plays on, by the server's own account; empty without one.
    const auto outputOf = [&](const QString& name) {
        const int stream = m_server->findStream(::getpid(), name);
        QString sink;
        for (const QString& line : m_server->pactl({"list", "sink-inputs", "short"}).split('\n')) {
            const QStringList fields = line.split('\t');
            if (fields.size() > 1 && fields[0].toInt() == stream) {
                sink = fields[1];
            }
        }
        for (const QString& line : m_server->pactl({"list", "sinks", "short"}).split('\n')) {
            const QStringList fields = line.split('\t');
            if (fields.size() > 1 && !sink.isEmpty() && fields[0] == sink) {
                return fields[1];
            }
        }
        return QString();
    };
    const auto outputOfOurs = [&] { return outputOf(OurStream); };
    TestStream other(m_server->address(), QStringLiteral("Another stream"));
    TestStream ours(m_server->address(), OurStream);
    ASSERT_TRUE(ours.isOpen());
    ASSERT_EQ(outputOfOurs(), "testsink");

    LinuxProgramVolume volume(m_server->address());
    volume.keepOn(QStringLiteral("other"));
    volume.follow(OurStream);
    EXPECT_TRUE(test::waitFor([&] { return outputOfOurs() == "other"; }, 5000)) << outputOfOurs().toStdString();

    const QString module = m_server->modules()
                               .split('\n')
                               .filter(QStringLiteral("sink_name=other"))
                               .value(0)
                               .section(QLatin1Char('\t'), 0, 0)
                               .section(QLatin1Char(' '), 0, 0);
    ASSERT_FALSE(module.isEmpty()) << m_server->modules().toStdString();
    m_server->pactl({"unload-module", module});
    EXPECT_TRUE(test::waitFor([&] { return outputOfOurs() == "testsink"; }, 5000))
        << "the stream stays with the default while the output is gone: " << outputOfOurs().toStdString();
    ASSERT_TRUE(loadOther());
    EXPECT_TRUE(test::waitFor([&] { return outputOfOurs() == "other"; }, 5000))
        << "back on the output once it returns: " << outputOfOurs().toStdString();

    volume.keepOn(QString());
    EXPECT_TRUE(test::waitFor([&] { return outputOfOurs() == "testsink"; }, 5000)) << outputOfOurs().toStdString();
    EXPECT_EQ(outputOf(QStringLiteral("Another stream")), "testsink") << "another stream is left alone";
}

} // namespace
