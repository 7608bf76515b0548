// File and folder services: where the program lives, where per-user data goes, and the few file operations whose
// exact failure behaviour the program depends on.
#pragma once

#include "platform/status.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

namespace clavora::platform {

// The most any file the program reads may hold unless the caller sets a bound of its own. Its key maps, options and
// languages are text; even a key map of a million bindings stays well below this, while a link to an endless device
// or a file of gigabytes is refused before it fills the memory.
inline constexpr qint64 MaxReadBytes = 128 * 1024 * 1024;

// What a path names, as far as the program cares.
enum class FileKind {
    Missing,      // nothing at all, not even a dangling link
    Regular,      // a regular file, or a link to one
    Folder,       // a folder, or a link to one
    DanglingLink, // a link (or chain of links) whose target does not exist: writing the path creates the target
    Other,        // anything else: a device, a pipe, a socket, a link loop, or something that cannot be examined
};

// A regular file as it is now.
struct FileIdentity {
    qint64 size = 0;
    qint64 modifiedNs = 0; // since the epoch

    bool operator==(const FileIdentity&) const = default;
};

// A file's bytes mapped read-only into memory; they stay valid for as long as the object lives.
class MappedFile {
public:
    virtual ~MappedFile() = default;
    // Empty for an empty file.
    virtual QByteArrayView bytes() const = 0;
};

// A mapping, or why there is none.
struct FileMapping {
    std::unique_ptr<MappedFile> file; // null on failure
    // On failure: the system's error code (ENOENT, EACCES, EISDIR for a folder...), or NotRegularFile.
    int error = 0;
    static constexpr int NotRegularFile = -1; // a device, a pipe, a socket: never opened for reading
};

// A regular file opened for reading, with a position of its own. One thread at a time.
class ReadableFile {
public:
    enum class From { Start, Current, End };

    virtual ~ReadableFile() = default;
    // Reads up to Size bytes at the position: the count read, 0 at the end, or minus the system's error code. Never
    // waits: a file whose read would (a driver's) fails with EIO.
    virtual qint64 read(char* data, qint64 size) = 0;
    // Moves the position to Offset from Whence: the new position, or minus the system's error code.
    virtual qint64 seek(qint64 offset, From whence) = 0;
    // The file's size now, or minus the system's error code.
    virtual qint64 size() = 0;
};

// A file opened for reading, or why it is not.
struct OpenedFile {
    std::unique_ptr<ReadableFile> file; // null on failure
    // On failure: the system's error code (ENOENT, EACCES, EISDIR for a folder...), or FileMapping::NotRegularFile.
    int error = 0;
};

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

    // What is at Path. One query, never blocks on the file's contents (a pipe is not opened); reports no error.
    // Thread-safe: the audio engine's threads ask it.
    virtual FileKind fileKind(const QString& path) = 0;

    // The size and the last modification of the regular file (or the file a link leads to) at Path, by which a
    // file read before is known to be unchanged. False when no regular file is there. One query; thread-safe.
    virtual bool fileIdentity(const QString& path, FileIdentity& identity) = 0;

    // True when a regular file (or a link to one) exists at Path.
    bool fileExists(const QString& path) { return fileKind(path) == FileKind::Regular; }

    // Copies Source to Target; fails, leaving Target alone, when Target already exists.
    virtual bool copyFileNoOverwrite(const QString& source, const QString& target) = 0;

    // Reads the whole file: every file the program reads goes through here. Only a regular file (or a link to one)
    // can be read: a device or a pipe fails at once instead of waiting for a writer or filling memory, and so does a
    // file of more than MaxBytes. On failure the message names the path and the reason.
    virtual Status readFile(const QString& path, QByteArray& contents, qint64 maxBytes = MaxReadBytes) = 0;

    // Replaces the file with Contents: written to a temporary file in the same folder, flushed to disk, then renamed
    // over the old one, so the old bytes survive any failure. A link is followed: its target is replaced and the
    // link stays. A read-only file is not replaced. A writable file in a folder where no temporary file can be made
    // is overwritten in place, with the room for the new bytes claimed first, so that a full disk still leaves the
    // old bytes. On failure the message names the path and the system's reason.
    virtual Status writeFileReplacing(const QString& path, const QByteArray& contents) = 0;

    // Deletes a file. False when it could not be deleted (a missing file included).
    virtual bool removeFile(const QString& path) = 0;

    // Maps the whole regular file (or link to one) at Path read-only instead of reading it: for large files of which
    // only a few pages are looked at. A pipe is refused at once rather than waited on. Any thread.
    virtual FileMapping mapFile(const QString& path) = 0;

    // Opens the regular file (or link to one) at Path for reading, as a decoder reads a sound: a FIFO or a device is
    // refused at once, never waited on. Any thread.
    virtual OpenedFile openForReading(const QString& path) = 0;
};

} // namespace clavora::platform
