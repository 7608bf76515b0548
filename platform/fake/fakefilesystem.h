// A file system for tests: the real one underneath, with the program's location, the per-user folders and
// failures under the test's control, and a record of what the program asked for.
#pragma once

#include "platform/linux/linuxfilesystem.h"

#include <QSet>
#include <QStringList>

namespace clavora::platform {

class TFakeFileSystem : public TLinuxFileSystem {
public:
    QString programFilePath() override;
    QString programFolder() override;
    QString userConfigFolder() override;
    QString userStateFolder() override;
    bool createAndRemoveExclusive(const QString& path) override;
    bool createFolder(const QString& path) override;
    bool copyFileNoOverwrite(const QString& source, const QString& target) override;
    TStatus readFile(const QString& path, QByteArray& contents) override;
    TStatus writeFileReplacing(const QString& path, const QByteArray& contents) override;
    bool removeFile(const QString& path) override;

    // Where the program file is said to live. Empty: the real one.
    QString FProgramFile;
    // The per-user folders; used as set, even when empty.
    QString FUserConfigFolder;
    QString FUserStateFolder;
    // Folders in which nothing can be created (the write test and folder creation fail there).
    QSet<QString> FReadOnlyFolders;
    // Files whose replacement fails with a "disk full" error.
    QSet<QString> FFailingWrites;
    // Files that cannot be read, the way an unreadable or locked file cannot; deleting one clears the failure.
    QSet<QString> FUnreadable;

    // What was asked for, in order.
    QStringList FCreatedFolders;
    QStringList FCopies; // "source -> target"
    QStringList FWrites;
    QStringList FReads;
    QStringList FRemoved;

private:
    bool inReadOnlyFolder(const QString& path) const;
};

} // namespace clavora::platform
