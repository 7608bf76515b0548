// Where a key binding's sound file is looked for.
#include "audio/soundpath.h"

#include <QDir>

namespace clavora::audio {

QString resolveSoundPath(const QString& stored, const QString& currentFolder, const QString& programFolder,
                         const std::function<bool(const QString&)>& isFile) {
    if (stored.isEmpty()) {
        return QString();
    }
    QString path = stored;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isAbsolutePath(path)) {
        return isFile(path) ? path : QString();
    }
    for (const QString& base : {currentFolder, programFolder}) {
        if (base.isEmpty()) {
            continue;
        }
        const QString candidate = QDir(base).filePath(path);
        if (isFile(candidate)) {
            return candidate;
        }
    }
    return QString();
}

} // namespace clavora::audio
