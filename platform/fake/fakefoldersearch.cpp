// Folder services for tests.
#include "platform/fake/fakefoldersearch.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace clavora::platform {

bool FakeFolderSearch::folderExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

Status FakeFolderSearch::findEntries(const QString& folder, const QString& pattern, QList<FolderEntry>& entries) {
    searches << folder + QLatin1Char('|') + pattern;
    entries.clear();
    const QDir dir(folder);
    if (unlistableFolders.contains(folder) || !dir.exists() || !dir.isReadable()) {
        return Status::failure(QStringLiteral("Cannot list folder \"%1\". Permission denied").arg(folder));
    }
    const QFileInfoList found =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& info : found) {
        if (matchesFileNamePattern(info.fileName(), pattern)) {
            entries.append(FolderEntry{info.fileName(), info.isDir()});
        }
    }
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        const int byFold = a.name.compare(b.name, Qt::CaseInsensitive);
        return byFold != 0 ? byFold < 0 : a.name < b.name;
    });
    return Status::success();
}

} // namespace clavora::platform
