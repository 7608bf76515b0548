// File and folder services on Linux (XDG base directories, POSIX file calls).
#pragma once

#include "platform/filesystem.h"

#include <functional>

namespace clavora::platform {

// The reader behind LinuxFileSystem::readFile, for the few files read below the service (the machine id, the
// system's release and load): only a regular file of at most MaxBytes.
Status readRegularFile(const QString& path, QByteArray& contents, qint64 maxBytes);

class LinuxFileSystem : public IFileSystem {
public:
    QString programFilePath() override;
    QString programFolder() override;
    QString userConfigFolder() override;
    QString userStateFolder() override;
    bool createAndRemoveExclusive(const QString& path) override;
    bool createFolder(const QString& path) override;
    FileKind fileKind(const QString& path) override;
    bool fileIdentity(const QString& path, FileIdentity& identity) override;
    bool copyFileNoOverwrite(const QString& source, const QString& target) override;
    Status readFile(const QString& path, QByteArray& contents, qint64 maxBytes = MaxReadBytes) override;
    Status writeFileReplacing(const QString& path, const QByteArray& contents) override;
    bool removeFile(const QString& path) override;
    FileMapping mapFile(const QString& path) override;
    OpenedFile openForReading(const QString& path) override;

    // Test seam: called once a replacement's temporary file holds the new bytes and is flushed, just before it is
    // renamed over the old file. A non-zero result is taken as the system error of that step (ENOSPC, EIO...), so a
    // test can fail a write at its last moment on a real disk.
    using BeforeRenameHook = std::function<int(const QString& temporaryPath)>;
    void setBeforeRenameHook(BeforeRenameHook hook) { m_beforeRename = std::move(hook); }

private:
    BeforeRenameHook m_beforeRename;
};

} // namespace clavora::platform
