// Folder services on Linux (POSIX directory calls).
#pragma once

#include "platform/foldersearch.h"

namespace clavora::platform {

class TLinuxFolderSearch : public IFolderSearch {
public:
    bool folderExists(const QString& path) override;
    TStatus findEntries(const QString& folder, const QString& pattern, QList<TFolderEntry>& entries) override;
};

} // namespace clavora::platform
