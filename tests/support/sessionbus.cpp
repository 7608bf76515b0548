// A private session bus for one test.
#include "tests/support/sessionbus.h"

#include <QFile>

namespace clavora::test {

SessionBus::SessionBus() = default;

SessionBus::~SessionBus() {
    stop();
}

bool SessionBus::start() {
    const QString socket = m_folder.file(QStringLiteral("bus"));
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                    QStringLiteral("--address=unix:path=") + socket, QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(10000)) {
        m_error = QStringLiteral("dbus-daemon did not start: ") + m_daemon.errorString();
        return false;
    }
    // It prints its address once it listens.
    QByteArray printed;
    waitFor(
        [&] {
            printed += m_daemon.readAllStandardOutput();
            return printed.contains('\n') || m_daemon.state() != QProcess::Running;
        },
        10000);
    if (!printed.contains('\n')) {
        m_error = QStringLiteral("dbus-daemon printed no address: ") +
                  QString::fromLocal8Bit(m_daemon.readAllStandardError());
        stop();
        return false;
    }
    m_address = QString::fromLocal8Bit(printed.left(printed.indexOf('\n'))).trimmed();
    return true;
}

void SessionBus::stop() {
    if (m_daemon.state() == QProcess::NotRunning) {
        return;
    }
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000)) {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

} // namespace clavora::test
