// Global shortcuts through the desktop portal (org.freedesktop.portal.GlobalShortcuts on the session bus), which
// KDE Plasma, GNOME and Hyprland serve: the desktop binds the keys and tells us of their presses and releases.
#pragma once

#include "platform/globalshortcuts.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <functional>

namespace clavora::platform {

// True when the desktop portal on Bus offers global shortcuts; waits at most Timeout for it to answer (the first
// question may start it).
bool portalOffersGlobalShortcuts(const QDBusConnection& bus, std::chrono::milliseconds timeout);

// One portal session per bind; a bind with a session open binds its shortcuts anew in that session. The portal's
// requests are answered asynchronously, through the GUI thread's event loop: nothing here waits for the desktop,
// which may first ask the user which keys to use.
class PortalGlobalShortcuts : public QObject, public IGlobalShortcuts {
    Q_OBJECT
public:
    explicit PortalGlobalShortcuts(QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalGlobalShortcuts() override;

    bool bind(const QStringList& names, Handler handler) override;
    void unbind() override;

    // The session's object path once the portal made one; empty before.
    QString sessionPath() const { return m_session; }

private slots:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);
    void onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                       const QVariantMap& options);

private:
    // Calls Method of the portal with Arguments, Options getting a fresh handle token; OnResponse runs with the
    // request's results once it succeeded.
    void request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                 std::function<void(const QVariantMap&)> onResponse);
    void createSession();
    void bindShortcuts();
    void closeSession();

    QDBusConnection m_bus;
    QStringList m_names;
    Handler m_handler;
    QString m_session;
    bool m_creating = false;
    int m_tokens = 0;
    // Incremented by unbind(), so answers to requests made before it are dropped.
    int m_generation = 0;
};

} // namespace clavora::platform
