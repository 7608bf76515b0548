// File and folder services on Linux.
#include "platform/posix/linuxfilesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace clavora::platform {

namespace {

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// An XDG base directory: the variable when it holds an absolute path, else HOME + the fallback.
QString xdgFolder(const char* variable, const char* fallbackUnderHome) {
    const QByteArray value = qgetenv(variable);
    if (!value.isEmpty() && value.startsWith('/')) {
        return QDir::cleanPath(QFile::decodeName(value));
    }
    const QByteArray home = qgetenv("HOME");
    if (home.isEmpty()) {
        return QString();
    }
    return QDir::cleanPath(QFile::decodeName(home) + QLatin1Char('/') + QLatin1String(fallbackUnderHome));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Opens a regular file for reading and returns its descriptor, or -1 with Error set. Anything else is refused before
// it is opened, and again after (it may have been swapped in between): opening a pipe would wait for a writer
// forever, and opening a device may do things. ENODEV stands for "not a regular file".
int openRegularForReading(const QByteArray& name, int& error) {
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        error = errno;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        return -1;
    }
    FileDescriptor fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        error = errno;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        return -1;
    }
    return fd.release();
}

QString readReason(int error) {
    return error == ENODEV ? QStringLiteral("It is not a regular file") : systemReason(error);
}

// The file a chain of links ends at ("keys.db" -> "../shared/keys.db" -> ...), without requiring that it exists, so
// a replacement lands where the link points and the link itself stays. A path that is no link comes back as it is.
QByteArray followLinks(const QByteArray& path, int& error) {
    QByteArray current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(current.constData(), buffer, sizeof(buffer));
        if (n < 0 || n >= ssize_t(sizeof(buffer))) {
            error = n < 0 ? errno : ENAMETOOLONG;
            return QByteArray();
        }
        const QByteArray target(buffer, n);
        if (target.startsWith('/')) {
            current = target;
        } else {
            const qsizetype slash = current.lastIndexOf('/');
            current = (slash >= 0 ? current.left(slash + 1) : QByteArray()) + target;
        }
    }
    error = ELOOP;
    return QByteArray();
}

// Overwrites a regular file in place, for a folder that takes no temporary file. The room for the new bytes is
// claimed (without changing the file's size) before any old byte is touched, so a full disk fails with the file
// unchanged; only an I/O error in the middle of the write can leave it damaged. 0 or the system error.
int overwriteInPlace(const QByteArray& target, const QByteArray& contents) {
    FileDescriptor fd(::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        return errno;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return errno;
    }
    if (!S_ISREG(st.st_mode)) {
        return EACCES;
    }
    if (contents.size() > st.st_size && ::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, 0, off_t(contents.size())) != 0 &&
        errno != EOPNOTSUPP) {
        return errno;
    }
    if (!writeAll(fd.get(), contents.constData(), contents.size()) ||
        ::ftruncate(fd.get(), off_t(contents.size())) != 0 || ::fsync(fd.get()) != 0) {
        return errno;
    }
    if (::close(fd.release()) != 0) {
        return errno;
    }
    return 0;
}

} // namespace

QString LinuxFileSystem::programFilePath() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n > 0) {
        buffer[n] = '\0';
        QString path = QFile::decodeName(QByteArray(buffer, static_cast<qsizetype>(n)));
        QString resolved = QFileInfo(path).canonicalFilePath();
        return resolved.isEmpty() ? path : resolved;
    }
    return QStringLiteral("/proc/self/exe");
}

QString LinuxFileSystem::programFolder() {
    return QFileInfo(programFilePath()).absolutePath();
}

QString LinuxFileSystem::userConfigFolder() {
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

QString LinuxFileSystem::userStateFolder() {
    return xdgFolder("XDG_STATE_HOME", ".local/state");
}

bool LinuxFileSystem::createAndRemoveExclusive(const QString& path) {
    const QByteArray name = native(path);
    int fd = ::open(name.constData(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    ::unlink(name.constData());
    ::close(fd);
    return true;
}

bool LinuxFileSystem::createFolder(const QString& path) {
    return ::mkdir(native(path).constData(), 0755) == 0;
}

FileKind LinuxFileSystem::fileKind(const QString& path) {
    const QByteArray name = native(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        return (errno == ENOENT || errno == ENOTDIR) ? FileKind::Missing : FileKind::Other;
    }
    if (S_ISLNK(st.st_mode) && ::stat(name.constData(), &st) != 0) {
        return errno == ENOENT ? FileKind::DanglingLink : FileKind::Other;
    }
    if (S_ISREG(st.st_mode)) {
        return FileKind::Regular;
    }
    return S_ISDIR(st.st_mode) ? FileKind::Folder : FileKind::Other;
}

bool LinuxFileSystem::fileIdentity(const QString& path, FileIdentity& identity) {
    struct stat st {};
    if (::stat(native(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    identity.size = qint64(st.st_size);
    identity.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

bool LinuxFileSystem::copyFileNoOverwrite(const QString& source, const QString& target) {
    int error = 0;
    FileDescriptor in(openRegularForReading(native(source), error));
    if (in.get() < 0) {
        return false;
    }
    const QByteArray targetName = native(target);
    FileDescriptor out(::open(targetName.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644));
    if (out.get() < 0) {
        return false;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(in.get(), buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || !writeAll(out.get(), buffer, n)) {
            ::unlink(targetName.constData());
            return false;
        }
        if (n == 0) {
            break;
        }
    }
    if (::close(out.release()) != 0) {
        ::unlink(targetName.constData());
        return false;
    }
    return true;
}

Status LinuxFileSystem::readFile(const QString& path, QByteArray& contents, qint64 maxBytes) {
    return readRegularFile(path, contents, maxBytes);
}

Status readRegularFile(const QString& path, QByteArray& contents, qint64 maxBytes) {
    int error = 0;
    FileDescriptor fd(openRegularForReading(native(path), error));
    if (fd.get() < 0) {
        return Status::failure(QStringLiteral("Cannot open file \"%1\". %2").arg(path, readReason(error)));
    }
    const auto tooLarge = [&] {
        return Status::failure(
            QStringLiteral("Cannot read file \"%1\". It is larger than %2 bytes").arg(path).arg(maxBytes));
    };
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_size > maxBytes) {
        return tooLarge();
    }
    // The size is only a hint (the kernel's own files say 0, a file may grow while read): the bytes are counted too.
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Status::failure(QStringLiteral("Cannot read file \"%1\". %2").arg(path, systemReason(errno)));
        }
        if (n == 0) {
            break;
        }
        if (bytes.size() + n > maxBytes) {
            return tooLarge();
        }
        bytes.append(buffer, n);
    }
    contents = std::move(bytes);
    return Status::success();
}

Status LinuxFileSystem::writeFileReplacing(const QString& path, const QByteArray& contents) {
    auto failure = [&path](int error) {
        return Status::failure(QStringLiteral("Cannot create file \"%1\". %2").arg(path, systemReason(error)));
    };
    int linkError = 0;
    const QByteArray target = followLinks(native(path), linkError);
    if (target.isEmpty()) {
        return failure(linkError);
    }

    // Keep the promise of a read-only file: rename() would replace it, since only the folder's mode counts.
    struct stat st {};
    mode_t mode = 0644;
    bool existing = false;
    if (::stat(target.constData(), &st) == 0) {
        if (::access(target.constData(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            return failure(EACCES);
        }
        mode = st.st_mode & 07777;
        existing = S_ISREG(st.st_mode);
    } else if (errno != ENOENT) {
        return failure(errno);
    }

    QByteArray temp = target + ".XXXXXX";
    FileDescriptor fd(::mkstemp(temp.data()));
    if (fd.get() < 0) {
        const int error = errno;
        // A folder the user may not write to can still hold a file the user may write.
        if (existing && (error == EACCES || error == EPERM)) {
            const int inPlace = overwriteInPlace(target, contents);
            return inPlace == 0 ? Status::success() : failure(inPlace);
        }
        return failure(error);
    }
    auto abandon = [&temp, &failure](int error) {
        ::unlink(temp.constData());
        return failure(error);
    };
    ::fchmod(fd.get(), mode);
    if (!writeAll(fd.get(), contents.constData(), contents.size()) || ::fsync(fd.get()) != 0) {
        return abandon(errno);
    }
    if (::close(fd.release()) != 0) {
        return abandon(errno);
    }
    if (m_beforeRename) {
        if (const int error = m_beforeRename(QFile::decodeName(temp)); error != 0) {
            return abandon(error);
        }
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        return abandon(errno);
    }
    // Make the rename itself durable.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash > 0 ? target.left(slash) : (slash == 0 ? QByteArray("/") : QByteArray("."));
    FileDescriptor dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
    return Status::success();
}

namespace {

// A whole file mapped with mmap.
class PosixMappedFile : public MappedFile {
public:
    PosixMappedFile(void* data, size_t size) : m_data(data), m_size(size) {}
    ~PosixMappedFile() override {
        if (m_data != nullptr) {
            ::munmap(m_data, m_size);
        }
    }
    PosixMappedFile(const PosixMappedFile&) = delete;
    PosixMappedFile& operator=(const PosixMappedFile&) = delete;

    QByteArrayView bytes() const override {
        return m_data != nullptr ? QByteArrayView(static_cast<const char*>(m_data), qsizetype(m_size))
                                 : QByteArrayView();
    }

private:
    void* m_data;
    size_t m_size;
};

} // namespace

namespace {

// The descriptor stays non-blocking: a file on disk never makes a read wait, so one that would (a kernel log, a file
// of a driver) is no file to read, and the reader does not wait for it.
class DescriptorFile : public ReadableFile {
public:
    explicit DescriptorFile(int fd) : m_fd(fd) {}

    qint64 read(char* data, qint64 size) override {
        while (true) {
            const ssize_t got = ::read(m_fd.get(), data, static_cast<size_t>(size));
            if (got >= 0) {
                return qint64(got);
            }
            if (errno != EINTR) {
                return -(errno == EAGAIN ? EIO : errno);
            }
        }
    }

    qint64 seek(qint64 offset, From whence) override {
        const int how = whence == From::Start ? SEEK_SET : whence == From::Current ? SEEK_CUR : SEEK_END;
        const off_t position = ::lseek(m_fd.get(), off_t(offset), how);
        return position < 0 ? -qint64(errno) : qint64(position);
    }

    qint64 size() override {
        struct stat st {};
        return ::fstat(m_fd.get(), &st) == 0 ? qint64(st.st_size) : -qint64(errno);
    }

private:
    FileDescriptor m_fd;
};

} // namespace

OpenedFile LinuxFileSystem::openForReading(const QString& path) {
    int error = 0;
    const int fd = openRegularForReading(native(path), error);
    if (fd < 0) {
        return {nullptr, error == ENODEV ? FileMapping::NotRegularFile : error};
    }
    return {std::make_unique<DescriptorFile>(fd), 0};
}

FileMapping LinuxFileSystem::mapFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so that a FIFO given by mistake is refused instead of waiting for a writer forever.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return {nullptr, errno};
    }
    FileMapping mapping;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        mapping.error = errno;
    } else if (S_ISDIR(info.st_mode)) {
        mapping.error = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        mapping.error = FileMapping::NotRegularFile;
    } else if (info.st_size == 0) {
        mapping.file = std::make_unique<PosixMappedFile>(nullptr, 0);
    } else {
        const size_t size = size_t(info.st_size);
        void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED) {
            mapping.error = errno;
        } else {
            mapping.file = std::make_unique<PosixMappedFile>(data, size);
        }
    }
    ::close(fd);
    return mapping;
}

bool LinuxFileSystem::removeFile(const QString& path) {
    return ::unlink(native(path).constData()) == 0;
}

} // namespace clavora::platform
