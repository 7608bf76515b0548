// The object a running instance serves on the session bus.
#include "platform/dbus/instanceobject.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDir>
#include <QVariantMap>

#include <algorithm>

namespace clavora::platform {

namespace {

QString outOfRange(uint step) {
    return QStringLiteral("The volume step %1 is out of range: it runs from 0 to %2.").arg(step).arg(MaxRemoteVolume);
}

} // namespace

InstanceObject::InstanceObject(QDBusConnection connection) : m_connection(std::move(connection)) {}

void InstanceObject::serve(IInstanceCommands* commands) {
    m_commands = commands;
    if (m_commands == nullptr) {
        return;
    }
    std::vector<Waiting> waiting;
    waiting.swap(m_waiting);
    for (Waiting& call : waiting) {
        answer(call.call, call.command(*m_commands));
    }
}

void InstanceObject::handle(Command command) {
    if (m_commands != nullptr) {
        const Status status = command(*m_commands);
        if (!status && calledFromDBus()) {
            sendErrorReply(InstanceFailedError, status.message());
        }
        return;
    }
    if (!calledFromDBus()) {
        return;
    }
    setDelayedReply(true);
    m_waiting.push_back({message(), std::move(command)});
}

void InstanceObject::refuse(const QString& text) {
    if (calledFromDBus()) {
        sendErrorReply(QDBusError::InvalidArgs, text);
    }
}

void InstanceObject::answer(const QDBusMessage& call, const Status& status) {
    if (call.isReplyRequired()) {
        m_connection.send(status ? call.createReply() : call.createErrorReply(InstanceFailedError, status.message()));
    }
}

void InstanceObject::Activate() {
    handle([](IInstanceCommands& commands) {
        commands.activate();
        return Status::success();
    });
}

void InstanceObject::PlayKey(const QString& name) {
    if (name.isEmpty()) {
        refuse(QStringLiteral("No key name was given."));
        return;
    }
    handle([name](IInstanceCommands& commands) { return commands.playKey(name); });
}

void InstanceObject::PlayFile(const QString& path) {
    // The caller's working folder is not this process's: a relative path would name another file here.
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) {
        refuse(QStringLiteral("The sound file must be given by its absolute path, not \"%1\".").arg(path));
        return;
    }
    handle([path](IInstanceCommands& commands) { return commands.playFile(path); });
}

void InstanceObject::StopAll() {
    handle([](IInstanceCommands& commands) {
        commands.stopAll();
        return Status::success();
    });
}

void InstanceObject::SetVolume(uint step) {
    if (step > MaxRemoteVolume) {
        refuse(outOfRange(step));
        return;
    }
    handle([step](IInstanceCommands& commands) {
        commands.setVolume(step);
        return Status::success();
    });
}

uint InstanceObject::volume() const {
    return m_commands != nullptr ? m_commands->volume() : 0;
}

void InstanceObject::setVolumeProperty(uint step) {
    // A property's write has no answer of its own to refuse it with: past the top is the top.
    const uint clamped = std::min(step, uint(MaxRemoteVolume));
    handle([clamped](IInstanceCommands& commands) {
        commands.setVolume(clamped);
        return Status::success();
    });
}

bool InstanceObject::hotkeyMode() const {
    return m_commands != nullptr && m_commands->hotkeyMode();
}

void InstanceObject::setHotkeyModeProperty(bool on) {
    handle([on](IInstanceCommands& commands) { return commands.setHotkeyMode(on); });
}

void InstanceObject::announceChange(const QString& property, const QVariant& value) {
    QDBusMessage signal = QDBusMessage::createSignal(
        InstanceObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << InstanceInterface << QVariantMap{{property, value}} << QStringList();
    m_connection.send(signal);
}

} // namespace clavora::platform
