// The desktop portal for tests.
#include "tests/support/portalrig.h"

#include "tests/support/testsupport.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace clavora::test {

namespace {

const QString Frontend = QStringLiteral("/usr/libexec/xdg-desktop-portal");
const QString BackendName = QStringLiteral("org.freedesktop.impl.portal.desktop.clavoratest");
const QString DesktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString ImplInterface = QStringLiteral("org.freedesktop.impl.portal.GlobalShortcuts");
int s_connections = 0;

} // namespace

void ShortcutsBackend::press(const QString& id, bool down, int session) {
    QDBusMessage signal = QDBusMessage::createSignal(
        DesktopPath, ImplInterface, down ? QStringLiteral("Activated") : QStringLiteral("Deactivated"));
    const QString path = session < 0 ? sessions.back() : sessions.at(size_t(session));
    signal << QVariant::fromValue(QDBusObjectPath(path)) << id << qulonglong(0) << QVariantMap();
    m_bus.send(signal);
}

uint ShortcutsBackend::CreateSession(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&,
                                     const QVariantMap&, QVariantMap& results) {
    sessions.push_back(session.path());
    results.insert(QStringLiteral("session_handle"), session.path());
    return 0;
}

uint ShortcutsBackend::BindShortcuts(const QDBusObjectPath&, const QDBusObjectPath& session,
                                     const QList<PortalShortcut>& shortcuts, const QString&, const QVariantMap&,
                                     QVariantMap& results) {
    binds.emplace_back(session.path(), shortcuts);
    results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts));
    return 0;
}

uint ShortcutsBackend::ListShortcuts(const QDBusObjectPath&, const QDBusObjectPath&, QVariantMap& results) {
    results.insert(QStringLiteral("shortcuts"),
                   QVariant::fromValue(binds.empty() ? QList<PortalShortcut>() : binds.back().second));
    return 0;
}

PortalRig::~PortalRig() {
    stop();
}

bool PortalRig::available() {
    return QFileInfo(Frontend).isExecutable() &&
           !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty();
}

bool PortalRig::start(const QString& folder, bool otherUsers) {
    // By name too: the backend's slots are matched by their parameters' type names.
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    qRegisterMetaType<QList<PortalShortcut>>("QList<clavora::test::PortalShortcut>");

    // A bus that starts no services by itself: whatever answers there, the test started.
    const QString socket = folder + QStringLiteral("/bus");
    m_address = QStringLiteral("unix:path=") + socket;
    const QByteArray users = otherUsers ? "<allow user=\"*\"/>" : "";
    writeBytes(folder + QStringLiteral("/bus.conf"),
               "<busconfig><type>session</type><listen>" + m_address.toUtf8() +
                   "</listen><policy context=\"default\">" + users +
                   "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow "
                   "own=\"*\"/></policy></busconfig>");
    m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + folder + QStringLiteral("/bus.conf"),
                                                QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
    if (!m_bus.waitForStarted() || !waitFor([&] { return QFileInfo::exists(socket); }, 10000)) {
        m_error = QStringLiteral("the bus did not start");
        return false;
    }
    const int number = ++s_connections;
    m_backendBus = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(m_address, QStringLiteral("portal-backend-%1").arg(number)));
    m_client = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(m_address, QStringLiteral("portal-client-%1").arg(number)));
    if (!m_backendBus->isConnected() || !m_client->isConnected()) {
        m_error = QStringLiteral("no connection to the bus");
        return false;
    }
    // The backend is on the bus before the frontend looks for it.
    m_backend = std::make_unique<ShortcutsBackend>(*m_backendBus);
    if (!m_backendBus->registerObject(DesktopPath, m_backend.get(),
                                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
        !m_backendBus->registerService(BackendName)) {
        m_error = QStringLiteral("the backend could not register");
        return false;
    }
    // The frontend finds it by the desktop the session names.
    QDir().mkpath(folder + QStringLiteral("/portals"));
    writeBytes(folder + QStringLiteral("/portals/clavoratest.portal"),
               "[portal]\nDBusName=" + BackendName.toUtf8() +
                   "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;\nUseIn=clavoratest\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    environment.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"), folder + QStringLiteral("/portals"));
    environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("clavoratest"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_frontend.setProcessEnvironment(environment);
    m_frontend.setProcessChannelMode(QProcess::MergedChannels);
    m_frontend.start(Frontend, {QStringLiteral("--replace")});
    if (!m_frontend.waitForStarted() ||
        !waitFor(
            [&] {
                return m_client->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop"));
            },
            20000)) {
        m_error = QStringLiteral("the frontend did not come up: ") + QString::fromLocal8Bit(m_frontend.readAll());
        return false;
    }
    return true;
}

void PortalRig::stop() {
    for (QProcess* process : {&m_frontend, &m_bus}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }
    if (m_client) {
        QDBusConnection::disconnectFromBus(m_client->name());
        m_client.reset();
    }
    if (m_backendBus) {
        QDBusConnection::disconnectFromBus(m_backendBus->name());
        m_backendBus.reset();
    }
    m_backend.reset();
}

} // namespace clavora::test
