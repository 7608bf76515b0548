// Choice of the data folder.
#include "app/datafolder.h"

#include "platform/filesystem.h"

#include <QDir>

namespace clavora {

namespace {

QString withoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    return path;
}

} // namespace

bool canWriteToFolder(platform::IFileSystem& files, const QString& folder) {
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/'))) {
        path += QLatin1Char('/');
    }
    return files.createAndRemoveExclusive(path + QLatin1String("chk.tmp"));
}

bool isInstalledProgramFolder(platform::IFileSystem& files, const QString& programFolder) {
    return files.fileKind(withoutTrailingSlash(programFolder) + QLatin1Char('/') +
                          QLatin1String(InstalledMarkerFile)) == platform::FileKind::Regular;
}

QString chooseDataFolder(platform::IFileSystem& fs, const QString& programFolder, const QString& company,
                         const QString& product) {
    const QString programDir = withoutTrailingSlash(programFolder);
    // The marker is looked at first: the writability test would leave its trace in an installed folder otherwise.
    if (!isInstalledProgramFolder(fs, programDir) && canWriteToFolder(fs, programDir)) {
        return programDir + QLatin1Char('/');
    }

    // Without a configuration folder the levels go to the root of the file system, as the base is then empty.
    const QString base = withoutTrailingSlash(fs.userConfigFolder());
    // A new account may not have its configuration folder yet; the levels below it could not be made then.
    if (!base.isEmpty() && fs.fileKind(base) != platform::FileKind::Folder) {
        QString path;
        for (const QString& level : base.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            path += QLatin1Char('/') + level;
            if (fs.fileKind(path) != platform::FileKind::Folder) {
                fs.createFolder(path);
            }
        }
    }
    const QString companyDir = QDir::cleanPath(base + QLatin1Char('/') + company);
    fs.createFolder(companyDir);
    const QString productDir = QDir::cleanPath(companyDir + QLatin1Char('/') + product);
    fs.createFolder(productDir);
    return productDir.endsWith(QLatin1Char('/')) ? productDir : productDir + QLatin1Char('/');
}

} // namespace clavora
