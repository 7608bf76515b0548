// The host of the maker's web server: fixed at build time, overridden at run time by CLAVORA_WEB_HOST (tests point
// it at a server on 127.0.0.1).
#pragma once

#include <QString>

namespace clavora::platform {

// Host name, optionally with ":port".
QString makerWebHost();

} // namespace clavora::platform
