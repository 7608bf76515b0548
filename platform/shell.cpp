// Opening web addresses: the check that keeps addresses from outside the program to the web.
#include "platform/shell.h"

#include <QUrl>

namespace clavora::platform {

bool IShell::openWebAddress(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        parsed.host().isEmpty()) {
        return false;
    }
    return openUrl(url);
}

} // namespace clavora::platform
