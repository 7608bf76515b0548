// Folder services: whether a folder exists and which of its entries match a file-name pattern, the way the
// program looks for its installed data files (the language files, for one).
#pragma once

#include "platform/status.h"

#include <QList>
#include <QString>
#include <QStringView>

namespace clavora::platform {

// One entry found in a folder.
struct FolderEntry {
    QString name;       // without the folder
    bool isDirectory{}; // a folder, or a link to one
};

class IFolderSearch {
public:
    virtual ~IFolderSearch() = default;

    // True when Path names an existing folder (or a link to one). Never blocks beyond one file-system query;
    // reports no error.
    virtual bool folderExists(const QString& path) = 0;

    // The entries of Folder whose names match Pattern (see matchesFileNamePattern), hidden ones included, "." and
    // ".." never. Entries come sorted by name with letter case ignored (ties in exact order), so every run sees the
    // same order whatever the file system returns. On failure (no such folder, no permission) Entries is left
    // empty and the message names the folder and the system's reason.
    virtual Status findEntries(const QString& folder, const QString& pattern, QList<FolderEntry>& entries) = 0;
};

// The file-name pattern rule of the program: "*" stands for any run of characters (none included), "?" for exactly
// one, every other character for itself with letter case ignored, so "*lang.txt" matches "German.LANG.TXT".
bool matchesFileNamePattern(QStringView name, QStringView pattern);

} // namespace clavora::platform
