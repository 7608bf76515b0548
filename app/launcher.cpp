// The command that starts this program from a desktop entry.
#include "app/launcher.h"

#include <QFileInfo>

namespace clavora {

QString launcherPath(const QString& programFile, const QString& link) {
    const QString target = QFileInfo(link).canonicalFilePath();
    if (!target.isEmpty() && target == QFileInfo(programFile).canonicalFilePath()) {
        return link;
    }
    return programFile;
}

} // namespace clavora
