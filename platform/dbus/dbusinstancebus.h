// One instance per desktop session on the session bus: the well-known name com.zemtrak.Clavora, taken by the first
// start, and the object it serves (platform/dbus/instanceobject.h).
#pragma once

#include "platform/instancebus.h"

#include <QDBusConnection>
#include <QString>

#include <memory>

namespace clavora::platform {

class InstanceObject;

class DBusInstanceBus final : public IInstanceBus {
public:
    // The session bus of $DBUS_SESSION_BUS_ADDRESS (or the system's default for it).
    DBusInstanceBus();
    // The bus at Address, for a test's private bus.
    explicit DBusInstanceBus(const QString& address);
    ~DBusInstanceBus() override;
    DBusInstanceBus(const DBusInstanceBus&) = delete;
    DBusInstanceBus& operator=(const DBusInstanceBus&) = delete;

    Claim claim() override;
    QString unavailableReason() const override { return m_reason; }
    void serve(IInstanceCommands& commands) override;
    void release() override;
    void soundStarted(const QString& path) override;
    void volumeChanged(unsigned step) override;
    void hotkeyModeChanged(bool on) override;
    std::unique_ptr<IRunningInstance> findRunning(QString* failure = nullptr) override;

private:
    // False, with the reason kept, when the bus is not there.
    bool connected();

    QDBusConnection m_connection;
    QString m_ownConnection; // the name of a connection this object opened itself, closed with it
    std::unique_ptr<InstanceObject> m_object;
    bool m_claimed = false;
    QString m_reason;
};

} // namespace clavora::platform
