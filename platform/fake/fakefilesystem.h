// A file system for tests: real files on disk (a test's temporary folder) through Qt's portable file classes, with
// the program's location, the per-user folders and failures under the test's control, and a record of what the
// program asked for.
#pragma once

#include "platform/filesystem.h"

#include <QSet>
#include <QStringList>

namespace clavora::platform {

class FakeFileSystem : public IFileSystem {
public:
    QString programFilePath() override;
    QString programFolder() override;
    QString userConfigFolder() override { return configFolder; }
    QString userStateFolder() override { return stateFolder; }
    bool createAndRemoveExclusive(const QString& path) override;
    bool createFolder(const QString& path) override;
    FileKind fileKind(const QString& path) override;
    bool fileIdentity(const QString& path, FileIdentity& identity) override;
    bool copyFileNoOverwrite(const QString& source, const QString& target) override;
    Status readFile(const QString& path, QByteArray& contents, qint64 maxBytes = MaxReadBytes) override;
    Status writeFileReplacing(const QString& path, const QByteArray& contents) override;
    bool removeFile(const QString& path) override;
    // Through Qt's own mapping of the file.
    FileMapping mapFile(const QString& path) override;
    // Real files, read through Qt; a path in `unreadable` is refused as the system refuses one it may not read.
    // Thread-safe: it records nothing.
    OpenedFile openForReading(const QString& path) override;

    // Where the program file is said to live. Empty: the test executable.
    QString programFile;
    // The per-user folders; used as set, even when empty.
    QString configFolder;
    QString stateFolder;
    // Folders in which nothing can be created (the write test and folder creation fail there).
    QSet<QString> readOnlyFolders;
    // Files whose replacement fails with a "disk full" error before anything is written.
    QSet<QString> failingWrites;
    // Files that cannot be read, the way an unreadable or locked file cannot; deleting one clears the failure.
    QSet<QString> unreadable;

    // What was asked for, in order.
    QStringList createdFolders;
    QStringList copies; // "source -> target"
    QStringList writes;
    QStringList reads;
    QStringList removed;

private:
    bool inReadOnlyFolder(const QString& path) const;
    // Why Path cannot be read (ENOENT, EISDIR, EACCES for a path in `unreadable`, FileMapping::NotRegularFile), or 0.
    int refusalToRead(const QString& path) const;
};

} // namespace clavora::platform
