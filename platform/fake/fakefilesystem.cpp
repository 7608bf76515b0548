// A file system for tests.
#include "platform/fake/fakefilesystem.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

namespace clavora::platform {

bool FakeFileSystem::inReadOnlyFolder(const QString& path) const {
    return readOnlyFolders.contains(QDir::cleanPath(QFileInfo(path).absolutePath()));
}

QString FakeFileSystem::programFilePath() {
    return programFile.isEmpty() ? QCoreApplication::applicationFilePath() : programFile;
}

QString FakeFileSystem::programFolder() {
    return QFileInfo(programFilePath()).absolutePath();
}

bool FakeFileSystem::createAndRemoveExclusive(const QString& path) {
    if (inReadOnlyFolder(path)) {
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::NewOnly | QIODevice::ReadWrite)) {
        return false;
    }
    file.close();
    return file.remove();
}

bool FakeFileSystem::createFolder(const QString& path) {
    createdFolders << path;
    return !inReadOnlyFolder(QDir::cleanPath(path)) && QDir().mkdir(path);
}

FileKind FakeFileSystem::fileKind(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return info.isSymLink() ? FileKind::DanglingLink : FileKind::Missing;
    }
    if (info.isFile()) {
        return FileKind::Regular;
    }
    return info.isDir() ? FileKind::Folder : FileKind::Other;
}

bool FakeFileSystem::fileIdentity(const QString& path, FileIdentity& identity) {
    const QFileInfo info(path);
    if (!info.isFile()) {
        return false;
    }
    identity.size = info.size();
    identity.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    return true;
}

bool FakeFileSystem::copyFileNoOverwrite(const QString& source, const QString& target) {
    copies << source + QLatin1String(" -> ") + target;
    // QFile::copy refuses an existing target, as the interface asks.
    return !inReadOnlyFolder(target) && QFileInfo(source).isFile() && QFile::copy(source, target);
}

Status FakeFileSystem::readFile(const QString& path, QByteArray& contents, qint64 maxBytes) {
    reads << path;
    if (unreadable.contains(path)) {
        return Status::failure(QStringLiteral("Cannot open file \"%1\". Permission denied").arg(path));
    }
    QFile file(path);
    if (!QFileInfo(path).isFile()) {
        const QString reason = QFileInfo(path).isDir()   ? QStringLiteral("Is a directory")
                               : QFileInfo::exists(path) ? QStringLiteral("It is not a regular file")
                                                         : QStringLiteral("No such file or directory");
        return Status::failure(QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason));
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return Status::failure(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    }
    if (file.size() > maxBytes) {
        return Status::failure(
            QStringLiteral("Cannot read file \"%1\". It is larger than %2 bytes").arg(path).arg(maxBytes));
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return Status::failure(QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
    }
    contents = std::move(bytes);
    return Status::success();
}

Status FakeFileSystem::writeFileReplacing(const QString& path, const QByteArray& contents) {
    writes << path;
    if (failingWrites.contains(path)) {
        return Status::failure(QStringLiteral("Cannot create file \"%1\". No space left on device").arg(path));
    }
    if (inReadOnlyFolder(path)) {
        return Status::failure(QStringLiteral("Cannot create file \"%1\". Permission denied").arg(path));
    }
    // Read-only even for root, as on the real system.
    const QFileInfo info(path);
    const auto writeBits = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (info.exists() && (!info.isWritable() || !(info.permissions() & writeBits))) {
        return Status::failure(QStringLiteral("Cannot create file \"%1\". Permission denied").arg(path));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit()) {
        return Status::failure(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    }
    return Status::success();
}

namespace {

class QtMappedFile : public MappedFile {
public:
    explicit QtMappedFile(const QString& path) : m_file(path) {}
    bool open() {
        if (!m_file.open(QIODevice::ReadOnly)) {
            return false;
        }
        const qint64 size = m_file.size();
        if (size == 0) {
            return true;
        }
        m_data = m_file.map(0, size);
        m_size = size;
        return m_data != nullptr;
    }
    QByteArrayView bytes() const override {
        return m_data != nullptr ? QByteArrayView(reinterpret_cast<const char*>(m_data), m_size) : QByteArrayView();
    }

private:
    QFile m_file;
    uchar* m_data = nullptr;
    qint64 m_size = 0;
};

} // namespace

int FakeFileSystem::refusalToRead(const QString& path) const {
    const QFileInfo info(path);
    if (!info.exists()) {
        return ENOENT;
    }
    if (info.isDir()) {
        return EISDIR;
    }
    // A FIFO or a device is no file: refused before anything opens it, so nothing waits on one.
    if (!info.isFile()) {
        return FileMapping::NotRegularFile;
    }
    return unreadable.contains(path) ? EACCES : 0;
}

namespace {

class QtReadableFile : public ReadableFile {
public:
    explicit QtReadableFile(const QString& path) : m_file(path) {}
    bool open() { return m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered); }

    qint64 read(char* data, qint64 size) override {
        const qint64 got = m_file.read(data, size);
        return got < 0 ? -qint64(EIO) : got;
    }

    qint64 seek(qint64 offset, From whence) override {
        const qint64 base = whence == From::Start ? 0 : whence == From::Current ? m_file.pos() : m_file.size();
        if (base + offset < 0) {
            return -qint64(EINVAL);
        }
        return m_file.seek(base + offset) ? base + offset : -qint64(EIO);
    }

    qint64 size() override { return m_file.size(); }

private:
    QFile m_file;
};

} // namespace

// Any thread, as the engine's threads open their sounds: it records nothing.
OpenedFile FakeFileSystem::openForReading(const QString& path) {
    if (const int refused = refusalToRead(path); refused != 0) {
        return {nullptr, refused};
    }
    auto file = std::make_unique<QtReadableFile>(path);
    if (!file->open()) {
        return {nullptr, EACCES};
    }
    return {std::move(file), 0};
}

FileMapping FakeFileSystem::mapFile(const QString& path) {
    reads << path;
    if (const int refused = refusalToRead(path); refused != 0) {
        return {nullptr, refused};
    }
    auto mapped = std::make_unique<QtMappedFile>(path);
    if (!mapped->open()) {
        return {nullptr, EACCES};
    }
    return {std::move(mapped), 0};
}

bool FakeFileSystem::removeFile(const QString& path) {
    removed << path;
    unreadable.remove(path);
    return !QFileInfo(path).isDir() && QFile::remove(path);
}

} // namespace clavora::platform
