// A PulseAudio server of a test's own.
#include "tests/audio/testsoundserver.h"

#include "tests/audio/audiotestsupport.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <cmath>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace clavora::test {

namespace {

constexpr int WaitMs = 20000;

// A server or recorder must not outlive a test process that crashed or was killed.
void dieWithTheTest(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

// Whether a server listens on the Unix socket: a killed server leaves its socket file behind, so the file alone
// says nothing.
bool accepts(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    if (name.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}

} // namespace

bool TestSoundServer::available(Kind kind) {
    const QStringList programs = kind == Kind::PulseAudio
                                     ? QStringList{QStringLiteral("pulseaudio")}
                                     : QStringList{QStringLiteral("pipewire"), QStringLiteral("wireplumber"),
                                                   QStringLiteral("pipewire-pulse"), QStringLiteral("dbus-daemon")};
    for (const QString& program : programs + QStringList{QStringLiteral("pactl"), QStringLiteral("parec")}) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            return false;
        }
    }
    return true;
}

TestSoundServer::TestSoundServer(const QString& folder, Kind kind) : m_folder(folder), m_kind(kind) {
    QDir().mkpath(m_folder + QStringLiteral("/pulse"));
    QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TestSoundServer::~TestSoundServer() {
    stopRecorder();
    kill();
    if (m_bus.state() != QProcess::NotRunning) {
        m_bus.kill();
        m_bus.waitForFinished(5000);
    }
}

QString TestSoundServer::address() const {
    return QStringLiteral("unix:") + m_folder + QStringLiteral("/pulse/native");
}

bool TestSoundServer::startProcess(QProcess& process, const QString& program, const QStringList& arguments,
                                   const QString& log) {
    dieWithTheTest(process);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder);
    environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_folder + QStringLiteral("/pulse"));
    environment.insert(QStringLiteral("HOME"), m_folder);
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + m_folder + QStringLiteral("/bus"));
    environment.remove(QStringLiteral("PULSE_SERVER"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(m_folder + QLatin1Char('/') + log, QIODevice::Append);
    process.start(program, arguments);
    return process.waitForStarted(5000);
}

bool TestSoundServer::start(int suspendAfter) {
    if (m_kind == Kind::PulseAudio) {
        if (!startProcess(m_server, QStringLiteral("pulseaudio"),
                          {QStringLiteral("--daemonize=no"), QStringLiteral("-n"),
                           QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                           QStringLiteral("--disallow-exit"), QStringLiteral("-L"),
                           QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + m_folder +
                               QStringLiteral("/pulse/native"),
                           QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=testsink rate=48000"),
                           QStringLiteral("-L"), QStringLiteral("module-suspend-on-idle timeout=%1").arg(suspendAfter)},
                          QStringLiteral("server.log"))) {
            return false;
        }
        return waitFor([&] { return !pactl({QStringLiteral("info")}).isEmpty(); }, WaitMs);
    }
    // PipeWire, as a desktop session runs it: the daemon, its session manager, and its PulseAudio interface on the
    // usual socket; the session manager wants a session bus.
    if (m_bus.state() == QProcess::NotRunning &&
        (!startProcess(m_bus, QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"),
                        QStringLiteral("--address=unix:path=") + m_folder + QStringLiteral("/bus")},
                       QStringLiteral("bus.log")) ||
         !waitFor([&] { return QFileInfo::exists(m_folder + QStringLiteral("/bus")); }, WaitMs))) {
        return false;
    }
    // The session manager gives up at once when the daemon does not answer yet (as on a loaded machine), and
    // without it no stream is ever linked to a sink: wait until each one is really there.
    if (!startProcess(m_server, QStringLiteral("pipewire"), {}, QStringLiteral("pipewire.log")) ||
        !waitFor([&] { return accepts(m_folder + QStringLiteral("/pipewire-0")); }, WaitMs) ||
        !startProcess(m_sessionManager, QStringLiteral("wireplumber"), {}, QStringLiteral("wireplumber.log")) ||
        !waitFor([&] { return sessionManagerConnected(); }, WaitMs) ||
        !startProcess(m_pulseInterface, QStringLiteral("pipewire-pulse"), {}, QStringLiteral("pipewire-pulse.log")) ||
        !waitFor([&] { return !pactl({QStringLiteral("info")}).isEmpty(); }, WaitMs)) {
        return false;
    }
    pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=testsink")});
    pactl({QStringLiteral("set-default-sink"), QStringLiteral("testsink")});
    return waitFor([&] { return !sinkState().isEmpty(); }, WaitMs);
}

bool TestSoundServer::sessionManagerConnected() const {
    if (m_sessionManager.state() == QProcess::NotRunning) {
        return false;
    }
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder);
    environment.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), m_folder);
    client.setProcessEnvironment(environment);
    client.start(QStringLiteral("pw-cli"), {QStringLiteral("ls"), QStringLiteral("Client")});
    if (!client.waitForFinished(5000)) {
        client.kill();
        client.waitForFinished(2000);
        return false;
    }
    return client.readAllStandardOutput().contains("WirePlumber");
}

void TestSoundServer::kill() {
    for (QProcess* process : {&m_pulseInterface, &m_sessionManager, &m_server}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    // What a crashed server leaves behind; a new one must not be taken as ready because of it.
    for (const char* name :
         {"pipewire-0", "pipewire-0.lock", "pipewire-0-manager", "pipewire-0-manager.lock", "pulse/native"}) {
        QFile::remove(m_folder + QLatin1Char('/') + QLatin1String(name));
    }
}

void TestSoundServer::freeze() {
    for (QProcess* process : {&m_server, &m_pulseInterface}) {
        if (process->state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process->processId()), SIGSTOP);
        }
    }
}

void TestSoundServer::thaw() {
    for (QProcess* process : {&m_server, &m_pulseInterface}) {
        if (process->state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
        }
    }
}

void TestSoundServer::killSessionManager() {
    if (m_sessionManager.state() != QProcess::NotRunning) {
        m_sessionManager.kill();
        m_sessionManager.waitForFinished(5000);
    }
}

QString TestSoundServer::pactl(const QStringList& arguments) const {
    return runCommand(QStringLiteral("pactl"), QStringList{QStringLiteral("--server=") + address()} + arguments);
}

bool TestSoundServer::startRecorder() {
    stopRecorder();
    m_recording = m_folder + QStringLiteral("/recording%1.raw").arg(++m_recordings);
    m_recorder.setStandardOutputFile(m_recording);
    dieWithTheTest(m_recorder);
    m_recorder.start(QStringLiteral("parec"),
                     {QStringLiteral("--server=") + address(), QStringLiteral("-d"), QStringLiteral("testsink.monitor"),
                      QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(RecordRate),
                      QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=10"), QStringLiteral("--raw")});
    return m_recorder.waitForStarted(5000) &&
           waitFor([&] { return QFileInfo(m_recording).size() >= RecordRate / 5; }, WaitMs);
}

void TestSoundServer::stopRecorder() {
    if (m_recorder.state() != QProcess::NotRunning) {
        m_recorder.terminate();
        if (!m_recorder.waitForFinished(5000)) {
            m_recorder.kill();
            m_recorder.waitForFinished(5000);
        }
    }
}

std::vector<float> TestSoundServer::recording() const {
    const QByteArray raw = readBytes(m_recording);
    std::vector<float> samples(static_cast<size_t>(raw.size()) / 2);
    const auto* values = reinterpret_cast<const qint16*>(raw.constData());
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = values[i] / 32768.0f;
    }
    return samples;
}

bool TestSoundServer::heard(double frequency) const {
    const std::vector<float> samples = recording();
    if (peak(samples) < 0.2f) {
        return false;
    }
    size_t last = samples.size();
    while (last > 0 && std::fabs(samples[last - 1]) < 0.05f) {
        --last;
    }
    return samples.size() - last > RecordRate / 10 &&
           std::fabs(estimateFrequency(samples, RecordRate) - frequency) < 5.0;
}

int TestSoundServer::streamCount() const {
    return static_cast<int>(pactl({QStringLiteral("list"), QStringLiteral("sink-inputs"), QStringLiteral("short")})
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                .size());
}

bool TestSoundServer::hasClavoraStream() const {
    return pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")})
        .contains(QStringLiteral("application.name = \"Clavora\""));
}

QString TestSoundServer::sinkState() const {
    const QString sinks = pactl({QStringLiteral("list"), QStringLiteral("sinks"), QStringLiteral("short")});
    for (const QString& line : sinks.split(QLatin1Char('\n'))) {
        if (line.section(QLatin1Char('\t'), 1, 1) == QStringLiteral("testsink")) {
            return line.section(QLatin1Char('\t'), 4, 4).trimmed();
        }
    }
    return QString();
}

} // namespace clavora::test
