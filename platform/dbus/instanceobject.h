// The object a running instance serves on the session bus: the methods, properties and signal of the program's
// interface (com.zemtrak.Clavora1.xml beside this file describes them), each handed to the program's commands.
#pragma once

#include "platform/instancebus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

namespace clavora::platform {

inline const QString InstanceServiceName = QStringLiteral("com.zemtrak.Clavora");
inline const QString InstanceObjectPath = QStringLiteral("/com/zemtrak/Clavora");
inline const QString InstanceInterface = QStringLiteral("com.zemtrak.Clavora1");
// The error of a command that could not be done (no sound bound to the key, no such file...).
inline const QString InstanceFailedError = QStringLiteral("com.zemtrak.Clavora1.Error.Failed");

class InstanceObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.zemtrak.Clavora1")
    Q_PROPERTY(uint Volume READ volume WRITE setVolumeProperty SCRIPTABLE true)
    Q_PROPERTY(bool HotkeyMode READ hotkeyMode WRITE setHotkeyModeProperty SCRIPTABLE true)
public:
    explicit InstanceObject(QDBusConnection connection);

    // Calls go to Commands from now on; those that waited are answered first, in order. Null: calls wait again.
    void serve(IInstanceCommands* commands);

    uint volume() const;
    void setVolumeProperty(uint step);
    bool hotkeyMode() const;
    void setHotkeyModeProperty(bool on);

    // org.freedesktop.DBus.Properties.PropertiesChanged for one property of the interface.
    void announceChange(const QString& property, const QVariant& value);

public slots:
    Q_SCRIPTABLE void Activate();
    Q_SCRIPTABLE void PlayKey(const QString& name);
    Q_SCRIPTABLE void PlayFile(const QString& path);
    Q_SCRIPTABLE void StopAll();
    Q_SCRIPTABLE void SetVolume(uint step);

signals:
    Q_SCRIPTABLE void SoundStarted(const QString& path);

private:
    using Command = std::function<Status(IInstanceCommands&)>;
    struct Waiting {
        QDBusMessage call;
        Command command;
    };
    // Runs Command now, or keeps the call to answer once there are commands to run it.
    void handle(Command command);
    void answer(const QDBusMessage& call, const Status& status);
    // An InvalidArgs error for the caller of this call.
    void refuse(const QString& text);

    QDBusConnection m_connection;
    IInstanceCommands* m_commands = nullptr;
    std::vector<Waiting> m_waiting;
};

} // namespace clavora::platform
