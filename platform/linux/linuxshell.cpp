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
        return QProcess::startDetached(program, arguments);
    }
};

} // namespace

template <> IShell& defaultService<IShell>() {
    static LinuxShell service;
    return service;
}

} // namespace clavora::platform
