// Handing things to the desktop on Linux, through Qt's desktop services.
#include "platform/shell.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace clavora::platform {

namespace {

class LinuxShell : public IShell {
public:
    bool openUrl(const QString& url) override { return QDesktopServices::openUrl(QUrl(url)); }

    bool startDetached(const QString& program, const QStringList& arguments) override {
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
};

} // namespace

template <> IShell& defaultService<IShell>() {
    static LinuxShell service;
    return service;
}

} // namespace clavora::platform
