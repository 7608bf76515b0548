// Folder services on Linux.
#include "platform/linux/linuxfoldersearch.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace clavora::platform {

namespace {

class TDirHandle {
public:
    explicit TDirHandle(DIR* dir) : FDir(dir) {}
    ~TDirHandle() {
        if (FDir) {
            ::closedir(FDir);
        }
    }
    TDirHandle(const TDirHandle&) = delete;
    TDirHandle& operator=(const TDirHandle&) = delete;
    DIR* get() const { return FDir; }

private:
    DIR* FDir;
};

QChar foldedAt(QStringView text, qsizetype i) {
    return text.at(i).toCaseFolded();
}

} // namespace

bool MatchesFileNamePattern(QStringView name, QStringView pattern) {
    // Iterative matcher with one backtrack point: the last "*" seen and where in Name it started to match, which is
    // enough for "*" patterns and keeps the work linear in practice.
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype starAt = -1;
    qsizetype starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern.at(p) == QLatin1Char('*')) {
            starAt = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern.at(p) == QLatin1Char('?') || foldedAt(pattern, p) == foldedAt(name, n))) {
            ++p;
            ++n;
        } else if (starAt >= 0) {
            p = starAt + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern.at(p) == QLatin1Char('*')) {
        ++p;
    }
    return p == pattern.size();
}

bool TLinuxFolderSearch::folderExists(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

TStatus TLinuxFolderSearch::findEntries(const QString& folder, const QString& pattern, QList<TFolderEntry>& entries) {
    entries.clear();
    TDirHandle dir(::opendir(QFile::encodeName(folder).constData()));
    if (!dir.get()) {
        const int error = errno;
        return TStatus::Failure(
            QStringLiteral("Cannot list folder \"%1\". %2").arg(folder, QString::fromLocal8Bit(std::strerror(error))));
    }
    const int dirFd = ::dirfd(dir.get());
    QList<TFolderEntry> found;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0) {
                const int error = errno;
                return TStatus::Failure(QStringLiteral("Cannot list folder \"%1\". %2")
                                            .arg(folder, QString::fromLocal8Bit(std::strerror(error))));
            }
            break;
        }
        const QString name = QFile::decodeName(entry->d_name);
        if (name == QLatin1String(".") || name == QLatin1String("..") || !MatchesFileNamePattern(name, pattern)) {
            continue;
        }
        // d_type is only a hint (DT_UNKNOWN on some file systems, DT_LNK for links): ask stat, which follows links
        // the way opening the entry later will.
        struct stat st {};
        const bool isDirectory = ::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        found.append(TFolderEntry{name, isDirectory});
    }
    std::sort(found.begin(), found.end(), [](const TFolderEntry& a, const TFolderEntry& b) {
        const int byFold = a.name.compare(b.name, Qt::CaseInsensitive);
        return byFold != 0 ? byFold < 0 : a.name < b.name;
    });
    entries = std::move(found);
    return TStatus::Ok();
}

template <> IFolderSearch& DefaultService<IFolderSearch>() {
    static TLinuxFolderSearch service;
    return service;
}

} // namespace clavora::platform
