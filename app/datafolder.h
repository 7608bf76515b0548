// Where the program keeps its files: beside the program when that folder is writable and not an installed one, else
// in the user's configuration folder under company and product.
#pragma once

#include "platform/filesystem.h"

#include <QString>

namespace clavora {

// True when a new file can be created in Folder: "chk.tmp" is created exclusively there and removed at once.
// A leftover "chk.tmp" counts as not writable. Reports nothing.
bool canWriteToFolder(platform::IFileSystem& files, const QString& folder);

// The file a package puts in the program folder it installs. Such a folder belongs to the package manager: even a
// user who could write there (root) keeps their data in their own folder, so the seed key map stays as shipped and
// removing the package leaves nothing behind.
inline constexpr char InstalledMarkerFile[] = "installed-by-package";

// True when ProgramFolder holds the marker as a regular file.
bool isInstalledProgramFolder(platform::IFileSystem& files, const QString& programFolder);

// The data folder, with a trailing "/": ProgramFolder when it is writable and not installed; otherwise the user's
// configuration folder + Company + Product, both levels created here when missing (failures ignored: later file
// operations report them).
QString chooseDataFolder(platform::IFileSystem& files, const QString& programFolder, const QString& company,
                         const QString& product);

} // namespace clavora
