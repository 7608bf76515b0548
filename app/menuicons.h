// The program's small menu icons and its application icon, drawn in code so they stay crisp at any scale.
#pragma once

#include <QIcon>
#include <QString>

namespace clavora {

// "exit", "help", "flag", "feedback" or "about"; a null icon for any other name.
QIcon menuIcon(const QString& name);

// The application's icon: a key cap with a sound wave.
QIcon applicationIcon();

} // namespace clavora
