// One shortcut as the desktop portal's GlobalShortcuts interface passes it, a(sa{sv}) on the bus: its id and its
// properties. The program sends these, and the tests' portal backend receives them.
#pragma once

#include <QDBusArgument>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace clavora::platform {

struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

} // namespace clavora::platform

Q_DECLARE_METATYPE(clavora::platform::PortalShortcut)
