// Support of the fuzz targets.
#include "tests/fuzz/fuzzsupport.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace clavora::fuzz {

void failCheck(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

void quietQtMessages() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

namespace {

QString parentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

bool MemoryFileSystem::createAndRemoveExclusive(const QString& path) {
    return fileKind(path) == platform::FileKind::Missing && folders.contains(parentOf(path));
}

bool MemoryFileSystem::createFolder(const QString& path) {
    if (fileKind(path) != platform::FileKind::Missing) {
        return false;
    }
    folders.insert(path);
    return true;
}

platform::FileKind MemoryFileSystem::fileKind(const QString& path) {
    if (files.contains(path)) {
        return platform::FileKind::Regular;
    }
    return folders.contains(path) ? platform::FileKind::Folder : platform::FileKind::Missing;
}

bool MemoryFileSystem::copyFileNoOverwrite(const QString& source, const QString& target) {
    if (!files.contains(source) || fileKind(target) != platform::FileKind::Missing) {
        return false;
    }
    files.insert(target, files.value(source));
    return true;
}

Status MemoryFileSystem::readFile(const QString& path, QByteArray& contents, qint64 maxBytes) {
    const auto found = files.constFind(path);
    if (found == files.constEnd()) {
        return Status::failure(QStringLiteral("Cannot open \"%1\". No such file.").arg(path));
    }
    if (found->size() > maxBytes) {
        return Status::failure(
            QStringLiteral("Cannot read \"%1\". It is larger than %2 bytes").arg(path).arg(maxBytes));
    }
    contents = *found;
    return Status::success();
}

Status MemoryFileSystem::writeFileReplacing(const QString& path, const QByteArray& contents) {
    if (folders.contains(path) || !folders.contains(parentOf(path))) {
        return Status::failure(QStringLiteral("Cannot create file \"%1\". No such folder.").arg(path));
    }
    files.insert(path, contents);
    return Status::success();
}

bool MemoryFileSystem::removeFile(const QString& path) {
    return files.remove(path);
}

void MemoryFileSystem::put(const QString& path, const QByteArray& contents) {
    for (QString folder = parentOf(path); !folders.contains(folder); folder = parentOf(folder)) {
        folders.insert(folder);
    }
    files.insert(path, contents);
}

bool MemoryFolderSearch::folderExists(const QString& path) {
    return m_files.folders.contains(path);
}

Status MemoryFolderSearch::findEntries(const QString& folder, const QString& pattern,
                                       QList<platform::FolderEntry>& entries) {
    entries.clear();
    if (!m_files.folders.contains(folder)) {
        return Status::failure(QStringLiteral("Cannot list \"%1\". No such folder.").arg(folder));
    }
    const QString prefix = folder + QLatin1Char('/');
    auto add = [&](const QString& path, bool isDirectory) {
        if (!path.startsWith(prefix) || path.indexOf(QLatin1Char('/'), prefix.size()) >= 0) {
            return;
        }
        const QString name = path.mid(prefix.size());
        if (platform::matchesFileNamePattern(name, pattern)) {
            entries.append({name, isDirectory});
        }
    };
    for (auto it = m_files.files.constBegin(); it != m_files.files.constEnd(); ++it) {
        add(it.key(), false);
    }
    for (const QString& path : m_files.folders) {
        add(path, true);
    }
    std::sort(entries.begin(), entries.end(), [](const platform::FolderEntry& a, const platform::FolderEntry& b) {
        const int folded = a.name.compare(b.name, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a.name < b.name;
    });
    return Status::success();
}

uint8_t FuzzInput::takeByte() {
    return m_taken < m_size ? m_data[m_taken++] : 0;
}

QByteArrayView FuzzInput::rest() const {
    return QByteArrayView(reinterpret_cast<const char*>(m_data) + m_taken, static_cast<qsizetype>(m_size - m_taken));
}

} // namespace clavora::fuzz
