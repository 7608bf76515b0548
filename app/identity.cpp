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

bool isPlainFolderName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.toUtf8().size() > 255) {
        return false;
    }
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return false;
        }
    }
    return true;
}

Identity makeIdentity(const QString& companyName, const QString& productName, bool versionKnown, int major, int minor) {
    Identity identity;
    // The names become folder levels of the per-user data and state folders.
    identity.companyName = isPlainFolderName(companyName) ? companyName : BuiltInCompanyName;
    identity.productName = isPlainFolderName(productName) ? productName : BuiltInProductName;
    identity.title = identity.companyName + QLatin1String(" - ") + identity.productName;
    identity.version = formatAppVersion(versionKnown, major, minor);
    return identity;
}

Identity readIdentity(platform::IFileSystem& files, const QString& programFile) {
    VersionStrings strings;
    const Status read = readVersionStrings(files, programFile, strings);
    if (!read) {
        qCWarning(lcApp).noquote() << "version information unreadable, using the built-in names:" << read.message();
    }
    int major = 0;
    int minor = 0;
    const bool versionKnown = readFixedFileVersion(files, programFile, major, minor);
    return makeIdentity(strings.companyName, strings.productName, versionKnown, major, minor);
}

bool isAutoStartArgument(const QStringList& arguments) {
    return !arguments.isEmpty() && arguments.first().toLower() == QLatin1String("/auto");
}

} // namespace clavora
