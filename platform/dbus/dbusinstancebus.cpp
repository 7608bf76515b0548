// One instance per desktop session on the session bus.
#include "platform/dbus/dbusinstancebus.h"

#include "platform/dbus/instanceobject.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QLoggingCategory>

namespace clavora::platform {

namespace {

Q_LOGGING_CATEGORY(lcInstance, "clavora.instance")

// A running instance answers at once; one that is busy starting answers once its start-up is done.
constexpr int CallTimeoutMs = 10000;

const QString NotRunning = QStringLiteral("Clavora is not running.");

// The instance holding the name, called by its name (so a call to an instance that has just ended says so).
class DBusRunningInstance final : public IRunningInstance {
public:
    explicit DBusRunningInstance(QDBusConnection connection) : m_connection(std::move(connection)) {}

    Status activate() override { return call(QStringLiteral("Activate"), {}); }
    Status playKey(const QString& keyName) override { return call(QStringLiteral("PlayKey"), {keyName}); }
    Status playFile(const QString& path) override { return call(QStringLiteral("PlayFile"), {path}); }
    Status stopAll() override { return call(QStringLiteral("StopAll"), {}); }
    Status setVolume(unsigned step) override { return call(QStringLiteral("SetVolume"), {uint(step)}); }

private:
    Status call(const QString& method, const QVariantList& arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(InstanceServiceName, InstanceObjectPath, InstanceInterface, method);
        message.setArguments(arguments);
        const QDBusMessage reply = m_connection.call(message, QDBus::Block, CallTimeoutMs);
        if (reply.type() != QDBusMessage::ErrorMessage) {
            return Status::success();
        }
        if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
            return Status::failure(NotRunning);
        }
        return Status::failure(reply.errorMessage());
    }

    QDBusConnection m_connection;
};

} // namespace

DBusInstanceBus::DBusInstanceBus() : m_connection(QDBusConnection::sessionBus()) {}

DBusInstanceBus::DBusInstanceBus(const QString& address)
    : m_connection(QDBusConnection::connectToBus(address, QStringLiteral("clavora-instance-%1").arg(quintptr(this)))),
      m_ownConnection(m_connection.name()) {}

DBusInstanceBus::~DBusInstanceBus() {
    release();
    if (!m_ownConnection.isEmpty()) {
        QDBusConnection::disconnectFromBus(m_ownConnection);
    }
}

bool DBusInstanceBus::connected() {
    if (m_connection.isConnected()) {
        return true;
    }
    const QDBusError error = m_connection.lastError();
    m_reason = error.isValid() ? error.message() : QStringLiteral("no session bus");
    return false;
}

IInstanceBus::Claim DBusInstanceBus::claim() {
    if (m_claimed) {
        return Claim::Claimed;
    }
    if (!connected()) {
        return Claim::Unavailable;
    }
    // The object first: a caller that finds the name finds the object behind it.
    m_object = std::make_unique<InstanceObject>(m_connection);
    if (!m_connection.registerObject(InstanceObjectPath, InstanceInterface, m_object.get(),
                                     QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals |
                                         QDBusConnection::ExportScriptableProperties)) {
        m_reason = QStringLiteral("the object %1 is taken on this connection").arg(InstanceObjectPath);
        m_object.reset();
        return Claim::Unavailable;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        m_connection.interface()->registerService(InstanceServiceName, QDBusConnectionInterface::DontQueueService,
                                                  QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_claimed = true;
        qCInfo(lcInstance) << "serving" << InstanceServiceName << "on the session bus";
        return Claim::Claimed;
    }
    m_connection.unregisterObject(InstanceObjectPath);
    m_object.reset();
    if (!reply.isValid()) {
        m_reason = reply.error().message();
        return Claim::Unavailable;
    }
    return Claim::Taken;
}

void DBusInstanceBus::serve(IInstanceCommands& commands) {
    if (m_object) {
        m_object->serve(&commands);
    }
}

void DBusInstanceBus::release() {
    if (!m_claimed) {
        return;
    }
    m_claimed = false;
    m_connection.interface()->unregisterService(InstanceServiceName);
    m_connection.unregisterObject(InstanceObjectPath);
    m_object.reset();
}

void DBusInstanceBus::soundStarted(const QString& path) {
    if (m_object) {
        emit m_object->SoundStarted(path);
    }
}

void DBusInstanceBus::volumeChanged(unsigned step) {
    if (m_object) {
        m_object->announceChange(QStringLiteral("Volume"), QVariant::fromValue(uint(step)));
    }
}

void DBusInstanceBus::hotkeyModeChanged(bool on) {
    if (m_object) {
        m_object->announceChange(QStringLiteral("HotkeyMode"), on);
    }
}

std::unique_ptr<IRunningInstance> DBusInstanceBus::findRunning(QString* failure) {
    const auto fail = [failure](const QString& why) {
        if (failure != nullptr) {
            *failure = why;
        }
        return nullptr;
    };
    if (!connected()) {
        return fail(QStringLiteral("Clavora cannot reach the session bus (%1).").arg(m_reason));
    }
    const QDBusReply<bool> owned = m_connection.interface()->isServiceRegistered(InstanceServiceName);
    if (!owned.isValid()) {
        return fail(QStringLiteral("Clavora cannot ask the session bus (%1).").arg(owned.error().message()));
    }
    if (!owned.value()) {
        return fail(NotRunning);
    }
    return std::make_unique<DBusRunningInstance>(m_connection);
}

} // namespace clavora::platform
