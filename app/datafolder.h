// Where the program keeps its files: beside the program when that folder is writable, else in the user's
// configuration folder under company and product.
#pragma once

#include <QString>

namespace clavora {

// True when a new file can be created in Folder: "chk.tmp" is created exclusively there and removed at once.
// A leftover "chk.tmp" counts as not writable. Reports nothing.
bool canWriteToFolder(const QString& folder);

// The data folder, with a trailing "/": ProgramFolder when it is writable; otherwise the user's configuration
// folder + Company + Product, both levels created here when missing (failures ignored: later file operations
// report them).
QString chooseDataFolder(const QString& programFolder, const QString& company, const QString& product);

} // namespace clavora
