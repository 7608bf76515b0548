// A sound server of a test's own.
#include "tests/support/audio/soundserver.h"

#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <algorithm>
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

bool SoundServer::available(Kind kind) {
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

SoundServer::SoundServer(const QString& folder, Kind kind, const QString& sink)
    : m_folder(folder), m_kind(kind), m_sink(sink) {
    if (m_folder.isEmpty()) {
        m_ownFolder = std::make_unique<QTemporaryDir>();
        m_folder = m_ownFolder->filePath(QStringLiteral("runtime"));
    }
    QDir().mkpath(m_folder + QStringLiteral("/pulse"));
    QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

SoundServer::~SoundServer() {
    stopRecorder();
    kill();
    restoreAddress();
    if (m_bus.state() != QProcess::NotRunning) {
        m_bus.kill();
        m_bus.waitForFinished(5000);
    }
}

QString SoundServer::address() const {
    return QStringLiteral("unix:") + m_folder + QStringLiteral("/pulse/native");
}

void SoundServer::applyTo(QProcessEnvironment& environment) const {
    environment.insert(QStringLiteral("PULSE_SERVER"), address());
}

void SoundServer::useForThisProcess() {
    if (!m_previousAddress) {
        m_previousAddress = qEnvironmentVariableIsSet("PULSE_SERVER")
                                ? std::optional<QByteArray>(qgetenv("PULSE_SERVER"))
                                : std::optional<QByteArray>();
    }
    qputenv("PULSE_SERVER", address().toUtf8());
}

void SoundServer::restoreAddress() {
    if (!m_previousAddress) {
        return;
    }
    if (*m_previousAddress) {
        qputenv("PULSE_SERVER", **m_previousAddress);
    } else {
        qunsetenv("PULSE_SERVER");
    }
    m_previousAddress.reset();
}

bool SoundServer::startProcess(QProcess& process, const QString& program, const QStringList& arguments,
                               const QString& log) {
    dieWithTheTest(process);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder);
    environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_folder + QStringLiteral("/pulse"));
    environment.insert(QStringLiteral("HOME"), m_folder);
    environment.insert(QStringLiteral("PULSE_STATE_PATH"), m_folder + QStringLiteral("/state"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + m_folder + QStringLiteral("/bus"));
    environment.remove(QStringLiteral("PULSE_SERVER"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(m_folder + QLatin1Char('/') + log, QIODevice::Append);
    process.start(program, arguments);
    return process.waitForStarted(5000);
}

bool SoundServer::start(int suspendAfter) {
    if (m_kind == Kind::PulseAudio) {
        QStringList arguments{QStringLiteral("--daemonize=no"),
                              QStringLiteral("-n"),
                              QStringLiteral("--exit-idle-time=-1"),
                              QStringLiteral("--use-pid-file=no"),
                              QStringLiteral("--disallow-exit"),
                              QStringLiteral("-L"),
                              QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + m_folder +
                                  QStringLiteral("/pulse/native"),
                              QStringLiteral("-L"),
                              QStringLiteral("module-null-sink sink_name=%1 rate=48000").arg(m_sink)};
        if (suspendAfter != NeverSuspend) {
            arguments << QStringLiteral("-L") << QStringLiteral("module-suspend-on-idle timeout=%1").arg(suspendAfter);
        }
        if (!startProcess(m_server, QStringLiteral("pulseaudio"), arguments, QStringLiteral("server.log")) ||
            !waitFor([&] { return !pactl({QStringLiteral("info")}).isEmpty(); }, WaitMs)) {
            return false;
        }
        pactl({QStringLiteral("set-default-sink"), m_sink});
        return true;
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
    pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=") + m_sink});
    pactl({QStringLiteral("set-default-sink"), m_sink});
    return waitFor([&] { return !sinkState().isEmpty(); }, WaitMs);
}

bool SoundServer::sessionManagerConnected() const {
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

void SoundServer::stop() {
    endServer(false);
    restoreAddress();
}

void SoundServer::kill() {
    endServer(true);
}

void SoundServer::endServer(bool crash) {
    for (QProcess* process : {&m_pulseInterface, &m_sessionManager, &m_server}) {
        if (process->state() == QProcess::NotRunning) {
            continue;
        }
        if (!crash) {
            process->terminate();
            if (process->waitForFinished(5000)) {
                continue;
            }
        }
        process->kill();
        process->waitForFinished(5000);
    }
    // What a crashed server leaves behind; a new one must not be taken as ready because of it.
    for (const char* name :
         {"pipewire-0", "pipewire-0.lock", "pipewire-0-manager", "pipewire-0-manager.lock", "pulse/native"}) {
        QFile::remove(m_folder + QLatin1Char('/') + QLatin1String(name));
    }
}

void SoundServer::freeze() {
    for (QProcess* process : {&m_server, &m_pulseInterface}) {
        if (process->state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process->processId()), SIGSTOP);
        }
    }
}

void SoundServer::thaw() {
    for (QProcess* process : {&m_server, &m_pulseInterface}) {
        if (process->state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
        }
    }
}

void SoundServer::killSessionManager() {
    if (m_sessionManager.state() != QProcess::NotRunning) {
        m_sessionManager.kill();
        m_sessionManager.waitForFinished(5000);
    }
}

QString SoundServer::pactl(const QStringList& arguments) const {
    return runCommand(QStringLiteral("pactl"), QStringList{QStringLiteral("--server=") + address()} + arguments);
}

bool SoundServer::startRecorder() {
    stopRecorder();
    m_recorder =
        std::make_unique<SoundRecorder>(m_folder + QStringLiteral("/recording%1.raw").arg(++m_recordings), address());
    return m_recorder->start(m_sink + QStringLiteral(".monitor"));
}

void SoundServer::stopRecorder() {
    if (m_recorder) {
        m_recorder->stop();
    }
}

std::vector<float> SoundServer::recording() const {
    return m_recorder ? m_recorder->samples() : std::vector<float>();
}

bool SoundServer::heard(double frequency) const {
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

int SoundServer::streamCount() const {
    return static_cast<int>(pactl({QStringLiteral("list"), QStringLiteral("sink-inputs"), QStringLiteral("short")})
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                .size());
}

bool SoundServer::hasClavoraStream() const {
    return pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")})
        .contains(QStringLiteral("application.name = \"Clavora\""));
}

QString SoundServer::modules() const {
    return pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")});
}

QStringList SoundServer::sourceNames() const {
    QStringList names;
    const QString list = pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")});
    for (const QString& line : list.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        names << line.section(QLatin1Char('\t'), 1, 1);
    }
    return names;
}

bool SoundServer::addFakeMicrophone() {
    return !pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                   QStringLiteral("sink_name=micfeed"), QStringLiteral("rate=48000")})
                .isEmpty() &&
           !pactl({QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
                   QStringLiteral("source_name=fakemic"), QStringLiteral("master=micfeed.monitor")})
                .isEmpty() &&
           (pactl({QStringLiteral("set-default-source"), QStringLiteral("fakemic")}), true) &&
           pactl({QStringLiteral("get-default-source")}).trimmed() == QLatin1String("fakemic");
}

namespace {

QJsonArray jsonStreams(const SoundServer& server) {
    return QJsonDocument::fromJson(server
                                       .pactl({QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("list"),
                                               QStringLiteral("sink-inputs")})
                                       .toUtf8())
        .array();
}

} // namespace

int SoundServer::findStream(qint64 pid, const QString& name) const {
    int found = -1;
    for (const QJsonValue& stream : jsonStreams(*this)) {
        const QJsonObject properties = stream[QStringLiteral("properties")].toObject();
        if (properties[QStringLiteral("application.process.id")].toString() == QString::number(pid) &&
            properties[QStringLiteral("media.name")].toString() == name) {
            found = std::max(found, stream[QStringLiteral("index")].toInt());
        }
    }
    return found;
}

std::vector<quint32> SoundServer::streamVolume(int index) const {
    for (const QJsonValue& stream : jsonStreams(*this)) {
        if (stream[QStringLiteral("index")].toInt() == index) {
            const QJsonObject volume = stream[QStringLiteral("volume")].toObject();
            return {static_cast<quint32>(volume[QStringLiteral("front-left")][QStringLiteral("value")].toInt()),
                    static_cast<quint32>(volume[QStringLiteral("front-right")][QStringLiteral("value")].toInt())};
        }
    }
    return {};
}

void SoundServer::setStreamVolume(int index, quint32 left, quint32 right) const {
    pactl({QStringLiteral("set-sink-input-volume"), QString::number(index), QString::number(left),
           QString::number(right)});
}

QString SoundServer::sinkState() const {
    const QString sinks = pactl({QStringLiteral("list"), QStringLiteral("sinks"), QStringLiteral("short")});
    for (const QString& line : sinks.split(QLatin1Char('\n'))) {
        if (line.section(QLatin1Char('\t'), 1, 1) == m_sink) {
            return line.section(QLatin1Char('\t'), 4, 4).trimmed();
        }
    }
    return QString();
}

} // namespace clavora::test
