// The desktop portal for tests: a private session bus, the real xdg-desktop-portal frontend on it, and a
// GlobalShortcuts backend of the test's own that the frontend finds through a .portal file of the test's own portal
// folder (its UseIn= the desktop the frontend is told it runs on). Every process is stopped by its PID.
#pragma once

#include "platform/wayland/portalshortcut.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <utility>
#include <vector>

namespace clavora::test {

// One shortcut as the portal passes it: the program's own type, so both ends read the wire alike.
using PortalShortcut = platform::PortalShortcut;

// The desktop's side: binds whatever it is asked to and presses shortcuts when the test says so.
class ShortcutsBackend : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    explicit ShortcutsBackend(QDBusConnection bus) : m_bus(std::move(bus)) {}
    uint version() const { return 1; }

    // The sessions made, in order, and each BindShortcuts: its session and its shortcuts.
    std::vector<QString> sessions;
    std::vector<std::pair<QString, QList<PortalShortcut>>> binds;

    // Presses or releases shortcut Id of a session, the newest unless told.
    void press(const QString& id, bool down, int session = -1);

public slots:
    uint CreateSession(const QDBusObjectPath& handle, const QDBusObjectPath& session, const QString& appId,
                       const QVariantMap& options, QVariantMap& results);
    uint BindShortcuts(const QDBusObjectPath& handle, const QDBusObjectPath& session,
                       const QList<clavora::test::PortalShortcut>& shortcuts, const QString& parentWindow,
                       const QVariantMap& options, QVariantMap& results);
    uint ListShortcuts(const QDBusObjectPath& handle, const QDBusObjectPath& session, QVariantMap& results);

private:
    QDBusConnection m_bus;
};

class PortalRig {
public:
    PortalRig() = default;
    ~PortalRig();
    PortalRig(const PortalRig&) = delete;
    PortalRig& operator=(const PortalRig&) = delete;

    // True when xdg-desktop-portal and dbus-daemon are installed.
    static bool available();
    // Starts the bus with its socket in Folder (any user may connect when OtherUsers), the backend, then the
    // frontend, and waits until the frontend is on the bus. False on failure, with the reason in error().
    bool start(const QString& folder, bool otherUsers = false);
    void stop();

    QString address() const { return m_address; }
    // A connection of the test's own to the bus, as a client.
    QDBusConnection& client() { return *m_client; }
    ShortcutsBackend& backend() { return *m_backend; }
    QProcess& frontend() { return m_frontend; }
    QString error() const { return m_error; }

private:
    QString m_address;
    QString m_error;
    QProcess m_bus;
    QProcess m_frontend;
    std::unique_ptr<QDBusConnection> m_backendBus;
    std::unique_ptr<QDBusConnection> m_client;
    std::unique_ptr<ShortcutsBackend> m_backend;
};

} // namespace clavora::test
