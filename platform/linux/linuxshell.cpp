// Handing things to the desktop on Linux, through Qt's desktop services.
#include "platform/shell.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace clavora::platform {

namespace {

class TLinuxShell : public IShell {
public:
    bool openUrl(const QString& url) override { return QDesktopServices::openUrl(QUrl(url)); }

    bool startDetached(const QString& program, const QStringList& arguments) override {
        return QProcess::startDetached(program, arguments);
    }
};

} // namespace

bool OpenWebAddress(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        parsed.host().isEmpty()) {
        return false;
    }
    return Shell().openUrl(url);
}

template <> IShell& DefaultService<IShell>() {
    static TLinuxShell service;
    return service;
}

} // namespace clavora::platform
