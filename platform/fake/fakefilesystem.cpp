// A file system for tests.
#include "platform/fake/fakefilesystem.h"

#include <QDir>
#include <QFileInfo>

namespace clavora::platform {

bool TFakeFileSystem::inReadOnlyFolder(const QString& path) const {
    return FReadOnlyFolders.contains(QDir::cleanPath(QFileInfo(path).absolutePath()));
}

QString TFakeFileSystem::programFilePath() {
    return FProgramFile.isEmpty() ? TLinuxFileSystem::programFilePath() : FProgramFile;
}

QString TFakeFileSystem::programFolder() { return QFileInfo(programFilePath()).absolutePath(); }

QString TFakeFileSystem::userConfigFolder() { return FUserConfigFolder; }

QString TFakeFileSystem::userStateFolder() { return FUserStateFolder; }

bool TFakeFileSystem::createAndRemoveExclusive(const QString& path) {
    return !inReadOnlyFolder(path) && TLinuxFileSystem::createAndRemoveExclusive(path);
}

bool TFakeFileSystem::createFolder(const QString& path) {
    FCreatedFolders << path;
    return !inReadOnlyFolder(QDir::cleanPath(path)) && TLinuxFileSystem::createFolder(path);
}

bool TFakeFileSystem::copyFileNoOverwrite(const QString& source, const QString& target) {
    FCopies << source + QLatin1String(" -> ") + target;
    return !inReadOnlyFolder(target) && TLinuxFileSystem::copyFileNoOverwrite(source, target);
}

TStatus TFakeFileSystem::readFile(const QString& path, QByteArray& contents) {
    FReads << path;
    if (FUnreadable.contains(path)) {
        return TStatus::Failure(QStringLiteral("Cannot open file \"%1\". Permission denied").arg(path));
    }
    return TLinuxFileSystem::readFile(path, contents);
}

bool TFakeFileSystem::removeFile(const QString& path) {
    FRemoved << path;
    FUnreadable.remove(path);
    return TLinuxFileSystem::removeFile(path);
}

TStatus TFakeFileSystem::writeFileReplacing(const QString& path, const QByteArray& contents) {
    FWrites << path;
    if (FFailingWrites.contains(path)) {
        return TStatus::Failure(QStringLiteral("Cannot create file \"%1\". No space left on device").arg(path));
    }
    if (inReadOnlyFolder(path)) {
        return TStatus::Failure(QStringLiteral("Cannot create file \"%1\". Permission denied").arg(path));
    }
    return TLinuxFileSystem::writeFileReplacing(path, contents);
}

} // namespace clavora::platform
