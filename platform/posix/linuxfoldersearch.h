// Folder services on Linux (POSIX directory calls).
#pragma once

#include "platform/foldersearch.h"

namespace clavora::platform {

class LinuxFolderSearch : public IFolderSearch {
public:
    bool folderExists(const QString& path) override;
    Status findEntries(const QString& folder, const QString& pattern, QList<FolderEntry>& entries) override;
};

} // namespace clavora::platform
