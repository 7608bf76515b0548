// File and folder services: where the program lives, where per-user data goes, and the few file operations whose
// exact failure behaviour the program depends on.
#pragma once

#include "platform/service.h"
#include "platform/status.h"

#include <QByteArray>
#include <QString>

namespace clavora::platform {

class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // Full path of the running program file, links resolved. Never empty.
    virtual QString programFilePath() = 0;

    // Folder of the program file, without a trailing separator.
    virtual QString programFolder() = 0;

    // The current user's roaming application-data folder, without a trailing separator; empty when it cannot be
    // determined (no home folder).
    virtual QString userConfigFolder() = 0;

    // The current user's folder for state kept between runs, without a trailing separator; empty when unknown.
    virtual QString userStateFolder() = 0;

    // Creates Path exclusively (fails when anything exists there) and removes it again at once. True only when the
    // file could be created; nothing is left behind. Reports no error.
    virtual bool createAndRemoveExclusive(const QString& path) = 0;

    // Creates one folder level. False when it could not be created, also when it already exists.
    virtual bool createFolder(const QString& path) = 0;

    // True when a regular file (or a link to one) exists at Path.
    virtual bool fileExists(const QString& path) = 0;

    // Copies Source to Target; fails, leaving Target alone, when Target already exists.
    virtual bool copyFileNoOverwrite(const QString& source, const QString& target) = 0;

    // Reads the whole file. On failure the message names the path and the system's reason.
    virtual TStatus readFile(const QString& path, QByteArray& contents) = 0;

    // Replaces the file with Contents: written to a temporary file in the same folder, flushed to disk, then renamed
    // over the old one, so the old bytes survive any failure. A read-only file is not replaced. On failure the
    // message names the path and the system's reason.
    virtual TStatus writeFileReplacing(const QString& path, const QByteArray& contents) = 0;

    // Deletes a file. False when it could not be deleted (a missing file included).
    virtual bool removeFile(const QString& path) = 0;
};

template <> IFileSystem& DefaultService<IFileSystem>();
inline IFileSystem& FileSystem() { return Service<IFileSystem>(); }

} // namespace clavora::platform
