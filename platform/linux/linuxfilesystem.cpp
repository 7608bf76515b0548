// File and folder services on Linux.
#include "platform/linux/linuxfilesystem.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace clavora::platform {

namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

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

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) {
            ::close(FFd);
        }
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int get() const { return FFd; }
    int release() {
        int fd = FFd;
        FFd = -1;
        return fd;
    }

private:
    int FFd;
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

} // namespace

QString TLinuxFileSystem::programFilePath() {
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

QString TLinuxFileSystem::programFolder() { return QFileInfo(programFilePath()).absolutePath(); }

QString TLinuxFileSystem::userConfigFolder() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }

QString TLinuxFileSystem::userStateFolder() { return xdgFolder("XDG_STATE_HOME", ".local/state"); }

bool TLinuxFileSystem::createAndRemoveExclusive(const QString& path) {
    const QByteArray name = native(path);
    int fd = ::open(name.constData(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    ::unlink(name.constData());
    ::close(fd);
    return true;
}

bool TLinuxFileSystem::createFolder(const QString& path) { return ::mkdir(native(path).constData(), 0755) == 0; }

bool TLinuxFileSystem::fileExists(const QString& path) {
    struct stat st {};
    return ::stat(native(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool TLinuxFileSystem::copyFileNoOverwrite(const QString& source, const QString& target) {
    TFd in(::open(native(source).constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        return false;
    }
    const QByteArray targetName = native(target);
    TFd out(::open(targetName.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644));
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

TStatus TLinuxFileSystem::readFile(const QString& path, QByteArray& contents) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return TStatus::Failure(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    }
    contents = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return TStatus::Failure(QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
    }
    return TStatus::Ok();
}

TStatus TLinuxFileSystem::writeFileReplacing(const QString& path, const QByteArray& contents) {
    auto failure = [&path](int error) {
        return TStatus::Failure(QStringLiteral("Cannot create file \"%1\". %2").arg(path, systemReason(error)));
    };
    const QByteArray target = native(path);

    // Keep the promise of a read-only file: rename() would replace it, since only the folder's mode counts.
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(target.constData(), &st) == 0) {
        if (::access(target.constData(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            return failure(EACCES);
        }
        mode = st.st_mode & 07777;
    }

    QByteArray temp = target + ".XXXXXX";
    TFd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) {
        return failure(errno);
    }
    ::fchmod(fd.get(), mode);
    if (!writeAll(fd.get(), contents.constData(), contents.size()) || ::fsync(fd.get()) != 0) {
        int error = errno;
        ::unlink(temp.constData());
        return failure(error);
    }
    if (::close(fd.release()) != 0) {
        int error = errno;
        ::unlink(temp.constData());
        return failure(error);
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        int error = errno;
        ::unlink(temp.constData());
        return failure(error);
    }
    // Make the rename itself durable.
    QByteArray folder = native(QFileInfo(path).absolutePath());
    TFd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
    return TStatus::Ok();
}

bool TLinuxFileSystem::removeFile(const QString& path) { return ::unlink(native(path).constData()) == 0; }

template <> IFileSystem& DefaultService<IFileSystem>() {
    static TLinuxFileSystem service;
    return service;
}

} // namespace clavora::platform
