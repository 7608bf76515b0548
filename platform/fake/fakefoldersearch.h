// Folder services for tests: the real ones underneath, with listing failures under the test's control and a
// record of the searches asked for.
#pragma once

#include "platform/linux/linuxfoldersearch.h"

#include <QSet>
#include <QStringList>

namespace clavora::platform {

class TFakeFolderSearch : public TLinuxFolderSearch {
public:
    TStatus findEntries(const QString& folder, const QString& pattern, QList<TFolderEntry>& entries) override {
        FSearches << folder + QLatin1Char('|') + pattern;
        if (FUnlistableFolders.contains(folder)) {
            entries.clear();
            return TStatus::Failure(QStringLiteral("Cannot list folder \"%1\". Permission denied").arg(folder));
        }
        return TLinuxFolderSearch::findEntries(folder, pattern, entries);
    }

    // Folders whose listing fails although they exist.
    QSet<QString> FUnlistableFolders;
    // "folder|pattern" of every search, in order.
    QStringList FSearches;
};

} // namespace clavora::platform
