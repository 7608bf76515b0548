// Handing things to the desktop on Linux, through Qt's desktop services.
#include "platform/posix/linuxshell.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace clavora::platform {

bool LinuxShell::openUrl(const QString& url) {
    return QDesktopServices::openUrl(QUrl(url));
}

bool LinuxShell::startDetached(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    // The started program outlives this one, so it must not share this one's standard streams: they may be a
    // pipe that closes when this process ends, and the next write there would end the started program too.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

} // namespace clavora::platform
