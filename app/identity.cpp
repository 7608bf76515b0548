// The program's identity and the start-up globals.
#include "app/identity.h"

namespace clavora {

QString AppCompanyName;
QString AppProductName;
QString AppTitle;
QString AppVersion;
QString DataFolder;
TLocaleSettings LocaleSettings;

QString FormatAppVersion(bool readable, int major, int minor) {
    if (!readable) {
        major = 65535;
        minor = 65535;
    }
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}

} // namespace clavora
