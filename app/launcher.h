// The command that starts this program from a desktop entry (the autostart entry among them).
#pragma once

#include <QString>

namespace clavora {

// The link the Debian package puts on the PATH; it leads to /opt/clavora/clavora.
inline constexpr char PackageLauncherLink[] = "/usr/bin/clavora";

// Link when it leads to ProgramFile (both with every symbolic link resolved), else ProgramFile. An entry that names
// the link keeps working when an upgrade moves the program folder; a copy run from anywhere else (the build tree, a
// folder of the user's own) is named by its own path, since the link, if any, leads to another copy.
QString launcherPath(const QString& programFile, const QString& link = QLatin1String(PackageLauncherLink));

} // namespace clavora
