// The program's small menu icons, drawn in code so they stay crisp at any scale, and its application icon.
#pragma once

#include <QIcon>
#include <QString>

namespace clavora {

// "exit", "help", "flag", "feedback" or "about"; a null icon for any other name.
QIcon menuIcon(const QString& name);

// The application's icon, as the desktop shows it: for the window and the notices.
QIcon applicationIcon();

// The program's mark in the notification area, drawn for 16 and 22 px.
QIcon trayIcon();

} // namespace clavora
