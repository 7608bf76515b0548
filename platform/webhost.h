// The host of the maker's web server: fixed at build time, overridden at run time by CLAVORA_WEB_HOST (tests point
// it at a server on 127.0.0.1); and the authorities its HTTPS certificate is checked against.
#pragma once

#include <QString>

namespace clavora::platform {

// Host name, optionally with ":port".
QString makerWebHost();

// The certificate authorities of HTTPS, as a PEM file: $SSL_CERT_FILE when set (OpenSSL's own convention, which the
// HTTP library's built-in bundle path would otherwise override), else empty for the system's store.
QString trustedAuthoritiesFile();

} // namespace clavora::platform
