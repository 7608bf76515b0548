// A private PulseAudio server.
#include "tests/support/soundserver.h"

#include <QElapsedTimer>
#include <QThread>

namespace clavora::test {

PrivateSoundServer::~PrivateSoundServer() {
    stop();
}

bool PrivateSoundServer::start() {
    if (!m_folder.isValid()) {
        return false;
    }
    const QString runtime = m_folder.filePath(QStringLiteral("runtime"));
    const QString socket = runtime + QStringLiteral("/native");
    m_address = QStringLiteral("unix:") + socket;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_folder.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime);
    environment.insert(QStringLiteral("PULSE_STATE_PATH"), m_folder.filePath(QStringLiteral("state")));
    environment.remove(QStringLiteral("PULSE_SERVER"));
    m_server.setProcessEnvironment(environment);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.setStandardOutputFile(QProcess::nullDevice());
    m_server.start(QStringLiteral("pulseaudio"),
                   {QStringLiteral("--daemonize=no"), QStringLiteral("-n"), QStringLiteral("--exit-idle-time=-1"),
                    QStringLiteral("--use-pid-file=no"), QStringLiteral("--disallow-exit"),
                    QStringLiteral("--log-level=error"), QStringLiteral("-L"),
                    QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket,
                    QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=speakers rate=48000")});
    if (!m_server.waitForStarted(5000)) {
        return false;
    }
    m_hadPreviousAddress = qEnvironmentVariableIsSet("PULSE_SERVER");
    m_previousAddress = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", m_address.toUtf8());
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (!pactl({QStringLiteral("info")}).isEmpty()) {
            pactl({QStringLiteral("set-default-sink"), QStringLiteral("speakers")});
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

void PrivateSoundServer::stop() {
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
        if (m_hadPreviousAddress) {
            qputenv("PULSE_SERVER", m_previousAddress);
        } else {
            qunsetenv("PULSE_SERVER");
        }
    }
}

void PrivateSoundServer::applyTo(QProcessEnvironment& environment) const {
    environment.insert(QStringLiteral("PULSE_SERVER"), m_address);
}

QString PrivateSoundServer::pactl(const QStringList& arguments) const {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    applyTo(environment);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
        return QString();
    }
    return process.exitCode() == 0 ? QString::fromLocal8Bit(process.readAllStandardOutput()) : QString();
}

QStringList PrivateSoundServer::sourceNames() const {
    QStringList names;
    const QString list = pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")});
    for (const QString& line : list.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        names << line.section(QLatin1Char('\t'), 1, 1);
    }
    return names;
}

bool PrivateSoundServer::addFakeMicrophone() {
    return !pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                   QStringLiteral("sink_name=micfeed"), QStringLiteral("rate=48000")})
                .isEmpty() &&
           !pactl({QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
                   QStringLiteral("source_name=fakemic"), QStringLiteral("master=micfeed.monitor")})
                .isEmpty() &&
           (pactl({QStringLiteral("set-default-source"), QStringLiteral("fakemic")}), true) &&
           pactl({QStringLiteral("get-default-source")}).trimmed() == QLatin1String("fakemic");
}

} // namespace clavora::test
