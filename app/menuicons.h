// The program's small menu icons, drawn in code so they stay crisp at any scale, and its application icon.
#pragma once

#include <QIcon>
#include <QString>

namespace clavora {

// "exit", "help", "flag", "feedback" or "about"; a null icon for any other name.
QIcon menuIcon(const QString& name);

// The application's icon, as the desktop shows it: for the window, the notification area and the notices.
QIcon applicationIcon();

} // namespace clavora
