// The host of the maker's web server.
#include "platform/webhost.h"

namespace clavora::platform {

QString EnvironmentWebHost::makerWebHost() {
    const QString configured = qEnvironmentVariable("CLAVORA_WEB_HOST").trimmed();
    return configured.isEmpty() ? QStringLiteral(CLAVORA_DEFAULT_WEB_HOST) : configured;
}

QString EnvironmentWebHost::trustedAuthoritiesFile() {
    return qEnvironmentVariable("SSL_CERT_FILE");
}

} // namespace clavora::platform
