// The host of the maker's web server, and the authorities its HTTPS certificate is checked against.
#pragma once

#include <QString>

namespace clavora::platform {

class IWebHost {
public:
    virtual ~IWebHost() = default;

    // Host name, optionally with ":port".
    virtual QString makerWebHost() = 0;

    // The certificate authorities of HTTPS, as a PEM file; empty for the system's store.
    virtual QString trustedAuthoritiesFile() = 0;
};

// Fixed at build time, overridden at run time by CLAVORA_WEB_HOST (tests point it at a server on 127.0.0.1); the
// authorities are $SSL_CERT_FILE when set (OpenSSL's own convention, which the HTTP library's built-in bundle path
// would otherwise override). The same on every system.
class EnvironmentWebHost : public IWebHost {
public:
    QString makerWebHost() override;
    QString trustedAuthoritiesFile() override;
};

} // namespace clavora::platform
