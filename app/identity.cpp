// The program's identity and the start-up context.
#include "app/identity.h"

#include "app/versioninfo.h"

#include <QLoggingCategory>

namespace clavora {

Q_LOGGING_CATEGORY(lcApp, "clavora.app")

QString formatAppVersion(bool readable, int major, int minor) {
    if (!readable) {
        major = 65535;
        minor = 65535;
    }
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}

Identity makeIdentity(const QString& companyName, const QString& productName, bool versionKnown, int major, int minor) {
    Identity identity;
    identity.companyName = companyName.isEmpty() ? BuiltInCompanyName : companyName;
    identity.productName = productName.isEmpty() ? BuiltInProductName : productName;
    identity.title = identity.companyName + QLatin1String(" - ") + identity.productName;
    identity.version = formatAppVersion(versionKnown, major, minor);
    return identity;
}

Identity readIdentity(const QString& programFile) {
    VersionStrings strings;
    const Status read = readVersionStrings(programFile, strings);
    if (!read) {
        qCWarning(lcApp).noquote() << "version information unreadable, using the built-in names:" << read.message();
    }
    int major = 0;
    int minor = 0;
    const bool versionKnown = readFixedFileVersion(programFile, major, minor);
    return makeIdentity(strings.companyName, strings.productName, versionKnown, major, minor);
}

bool isAutoStartArgument(const QStringList& arguments) {
    return !arguments.isEmpty() && arguments.first().toLower() == QLatin1String("/auto");
}

} // namespace clavora
