// Installation identifier, system description and locale name of requests to the maker's server.
#include "online/clientidentity.h"

#include "platform/locale.h"

#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QUuid>

namespace clavora::online {

namespace {

// Fixed for good: a new key would give every machine a new identifier.
constexpr unsigned char InstallationKey[] = {
    0x0b, 0xe3, 0x40, 0x06, 0xdc, 0x54, 0xb8, 0xeb, 0xf4, 0x41, 0x74, 0xab, 0x0d, 0x04, 0xc4, 0x61,
    0xa9, 0x79, 0x15, 0x65, 0x61, 0x89, 0x07, 0x0e, 0xc4, 0x0b, 0xd2, 0x96, 0xf1, 0xa0, 0x66, 0xe8,
};

bool isMachineId(const QByteArray& id) {
    static const QRegularExpression hex32(QStringLiteral("^[0-9a-fA-F]{32}$"));
    return hex32.match(QString::fromLatin1(id)).hasMatch();
}

// A value of an os-release line: shell-style, optionally in single or double quotes, backslash escapes in the latter.
QString osReleaseValue(const QByteArray& raw) {
    const QString text = QString::fromUtf8(raw).trimmed();
    if (text.size() >= 2 && text.front() == QLatin1Char('\'') && text.back() == QLatin1Char('\'')) {
        return text.mid(1, text.size() - 2);
    }
    if (text.size() >= 2 && text.front() == QLatin1Char('"') && text.back() == QLatin1Char('"')) {
        QString value;
        for (qsizetype i = 1; i < text.size() - 1; ++i) {
            if (text[i] == QLatin1Char('\\') && i + 1 < text.size() - 1) {
                ++i;
            }
            value.append(text[i]);
        }
        return value;
    }
    return text;
}

QString osReleaseField(const QByteArray& osRelease, const QByteArray& key) {
    for (const QByteArray& line : osRelease.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith(key) && trimmed.size() > key.size() && trimmed[key.size()] == '=') {
            return osReleaseValue(trimmed.mid(key.size() + 1));
        }
    }
    return QString();
}

// The description is one line of a form field: no control characters in it.
QString oneLine(QString text) {
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control) {
            c = QLatin1Char(' ');
        }
    }
    return text.simplified();
}

} // namespace

QString installationIdFromMachineId(const QByteArray& machineId) {
    if (machineId.isEmpty()) {
        return QString();
    }
    const QByteArray key(reinterpret_cast<const char*>(InstallationKey), sizeof InstallationKey);
    const QByteArray mac = QMessageAuthenticationCode::hash(machineId, key, QCryptographicHash::Sha256);
    return QUuid::fromRfc4122(mac.left(16)).toString(QUuid::WithoutBraces);
}

InstallationId readInstallationId(platform::ISystemInfo& system) {
    const QByteArray machineId = system.machineId();
    if (machineId.isEmpty()) {
        return {};
    }
    if (!isMachineId(machineId)) {
        return InstallationId{QString(), true};
    }
    return InstallationId{installationIdFromMachineId(machineId.toLower()), false};
}

QString formatOsDescription(const platform::SystemFacts& facts) {
    QString name = osReleaseField(facts.osRelease, "PRETTY_NAME");
    if (name.isEmpty()) {
        name = osReleaseField(facts.osRelease, "NAME");
    }
    if (name.isEmpty()) {
        name = QStringLiteral("Linux"); // what os-release itself says an absent name means
    }
    QString version = osReleaseField(facts.osRelease, "VERSION_ID");
    if (version.isEmpty()) {
        version = osReleaseField(facts.osRelease, "VERSION");
    }
    if (version.isEmpty()) {
        version = QStringLiteral("unknown");
    }
    const QString build = facts.kernelRelease.isEmpty() ? QStringLiteral("unknown") : facts.kernelRelease;
    const bool wide = facts.machine.contains(QLatin1String("64")) || facts.machine == QLatin1String("s390x");
    return oneLine(
        QStringLiteral("%1 (Version %2, Build %3, %4)")
            .arg(name, version, build, wide ? QStringLiteral("64-bit Edition") : QStringLiteral("32-bit Edition")));
}

QString osDescription(platform::ISystemInfo& system) {
    return formatOsDescription(system.systemFacts());
}

QString localeTag(const QLocale& locale) {
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage) {
        return QStringLiteral("xx");
    }
    QString tag = locale.name(); // "en_US"
    tag.replace(QLatin1Char('_'), QLatin1Char('-'));
    return tag.isEmpty() ? QStringLiteral("xx") : tag;
}

QString userLocaleName(platform::ILocale& locale) {
    return locale.formatLocaleTag();
}

} // namespace clavora::online
