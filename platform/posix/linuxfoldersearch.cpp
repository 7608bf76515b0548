// Folder services on Linux.
#include "platform/posix/linuxfoldersearch.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace clavora::platform {

namespace {

class DirHandle {
public:
    explicit DirHandle(DIR* dir) : m_dir(dir) {}
    ~DirHandle() {
        if (m_dir) {
            ::closedir(m_dir);
        }
    }
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    DIR* get() const { return m_dir; }

private:
    DIR* m_dir;
};

} // namespace

bool LinuxFolderSearch::folderExists(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

Status LinuxFolderSearch::findEntries(const QString& folder, const QString& pattern, QList<FolderEntry>& entries) {
    entries.clear();
    DirHandle dir(::opendir(QFile::encodeName(folder).constData()));
    if (!dir.get()) {
        const int error = errno;
        return Status::failure(
            QStringLiteral("Cannot list folder \"%1\". %2").arg(folder, QString::fromLocal8Bit(std::strerror(error))));
    }
    const int dirFd = ::dirfd(dir.get());
    QList<FolderEntry> found;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0) {
                const int error = errno;
                return Status::failure(QStringLiteral("Cannot list folder \"%1\". %2")
                                           .arg(folder, QString::fromLocal8Bit(std::strerror(error))));
            }
            break;
        }
        const QString name = QFile::decodeName(entry->d_name);
        if (name == QLatin1String(".") || name == QLatin1String("..") || !matchesFileNamePattern(name, pattern)) {
            continue;
        }
        // d_type is only a hint (DT_UNKNOWN on some file systems, DT_LNK for links): ask stat, which follows links
        // the way opening the entry later will.
        struct stat st {};
        const bool isDirectory = ::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        found.append(FolderEntry{name, isDirectory});
    }
    std::sort(found.begin(), found.end(), [](const FolderEntry& a, const FolderEntry& b) {
        const int byFold = a.name.compare(b.name, Qt::CaseInsensitive);
        return byFold != 0 ? byFold < 0 : a.name < b.name;
    });
    entries = std::move(found);
    return Status::success();
}

} // namespace clavora::platform
