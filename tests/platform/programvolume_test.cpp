// The program's volume at the sound server, against a PulseAudio server of the test's own: the stream of this
// process is found by its name, volumes changed elsewhere are seen, writes reach the server, and a server that
// goes away and comes back is found again.
#include "platform/pulse/linuxprogramvolume.h"
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

// A PulseAudio server with a null sink, private to one test, stopped by its PID.
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(const QString& folder) : m_folder(folder) {}
    ~PrivateSoundServer() { stop(); }

    QString address() const { return QStringLiteral("unix:") + m_folder + QStringLiteral("/native"); }

    bool start() {
        const QString runtime = m_folder + QStringLiteral("/runtime");
        QDir().mkpath(runtime + QStringLiteral("/pulse"));
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime + QStringLiteral("/pulse"));
        environment.insert(QStringLiteral("PULSE_STATE_PATH"), m_folder + QStringLiteral("/state"));
        environment.remove(QStringLiteral("PULSE_SERVER"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("pulseaudio"),
                        {QStringLiteral("--daemonize=no"), QStringLiteral("-n"), QStringLiteral("--exit-idle-time=-1"),
                         QStringLiteral("--use-pid-file=no"), QStringLiteral("--disallow-exit"), QStringLiteral("-L"),
                         QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + m_folder +
                             QStringLiteral("/native"),
                         QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=testsink rate=48000")});
        if (!m_process.waitForStarted(5000)) {
            return false;
        }
        return test::waitFor([this] { return !pactl({QStringLiteral("info")}).isEmpty(); }, 10000);
    }

    void stop() {
        if (m_process.state() == QProcess::NotRunning) {
            return;
        }
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString pactl(QStringList arguments) const {
        arguments.prepend(address());
        arguments.prepend(QStringLiteral("-s"));
        return test::runCommand(QStringLiteral("pactl"), arguments);
    }

    // The volume of a stream as the server counts it, per channel; empty when there is no such stream.
    std::vector<quint32> streamVolume(int index) const {
        const QJsonArray streams =
            QJsonDocument::fromJson(pactl({QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("list"),
                                           QStringLiteral("sink-inputs")})
                                        .toUtf8())
                .array();
        for (const QJsonValue& stream : streams) {
            if (stream[QStringLiteral("index")].toInt() == index) {
                const QJsonObject volume = stream[QStringLiteral("volume")].toObject();
                return {static_cast<quint32>(volume[QStringLiteral("front-left")][QStringLiteral("value")].toInt()),
                        static_cast<quint32>(volume[QStringLiteral("front-right")][QStringLiteral("value")].toInt())};
            }
        }
        return {};
    }

    // The index of the newest stream of process Pid named Name; -1 when there is none.
    int findStream(qint64 pid, const QString& name) const {
        int found = -1;
        const QJsonArray streams =
            QJsonDocument::fromJson(pactl({QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("list"),
                                           QStringLiteral("sink-inputs")})
                                        .toUtf8())
                .array();
        for (const QJsonValue& stream : streams) {
            const QJsonObject properties = stream[QStringLiteral("properties")].toObject();
            if (properties[QStringLiteral("application.process.id")].toString() == QString::number(pid) &&
                properties[QStringLiteral("media.name")].toString() == name) {
                found = std::max(found, stream[QStringLiteral("index")].toInt());
            }
        }
        return found;
    }

    void setVolume(int index, quint32 left, quint32 right) const {
        pactl({QStringLiteral("set-sink-input-volume"), QString::number(index), QString::number(left),
               QString::number(right)});
    }

private:
    QString m_folder;
    QProcess m_process;
};

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
        m_server = std::make_unique<PrivateSoundServer>(m_folder.path());
        ASSERT_TRUE(m_server->start()) << "the private sound server did not start";
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
    std::unique_ptr<PrivateSoundServer> m_server;
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

    m_server->setVolume(otherIndex, 1000, 1000);
    m_server->setVolume(ourIndex, 20000, 30000);
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
    m_server->setVolume(foreignIndex, 10000, 10000);
    m_server->setVolume(ourIndex, 50000, 50000);

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
    m_server->setVolume(firstIndex, 20000, 20000);
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
    m_server->setVolume(thirdIndex, 40000, 40000);
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

    ASSERT_TRUE(m_server->start());
    ours = std::make_unique<TestStream>(m_server->address(), OurStream);
    ASSERT_TRUE(ours->isOpen());
    const int ourIndex = m_server->findStream(::getpid(), OurStream);
    m_server->setVolume(ourIndex, 16382, 16382);
    EXPECT_TRUE(test::waitFor([&] { return readNow(volume) == fromServer(16382, 16382); }, 10000));
    volume.write({65535, 0});
    EXPECT_TRUE(test::waitFor(
        [&] {
            return m_server->streamVolume(ourIndex) == std::vector<quint32>{65536u, 0u};
        },
        5000));
}

} // namespace
