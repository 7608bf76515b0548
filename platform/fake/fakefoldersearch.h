// Folder services for tests: real folders listed through Qt, with listing failures under the test's control and a
// record of the searches asked for.
#pragma once

#include "platform/foldersearch.h"

#include <QSet>
#include <QStringList>

namespace clavora::platform {

class FakeFolderSearch : public IFolderSearch {
public:
    bool folderExists(const QString& path) override;
    Status findEntries(const QString& folder, const QString& pattern, QList<FolderEntry>& entries) override;

    // Folders whose listing fails although they exist.
    QSet<QString> unlistableFolders;
    // "folder|pattern" of every search, in order.
    QStringList searches;
};

} // namespace clavora::platform
