// The user's locale on Linux.
#include "platform/posix/linuxlocale.h"

#include <QLocale>
#include <QStringList>

#include <initializer_list>

#include <unicode/uloc.h>

namespace clavora::platform {

namespace {

// "de_DE.UTF-8@euro" -> "de_DE"; "C", "POSIX" and empty -> empty.
QString stripLocaleName(const QString& raw) {
    QString name = raw;
    int cut = name.indexOf(QLatin1Char('.'));
    if (cut >= 0) {
        name.truncate(cut);
    }
    cut = name.indexOf(QLatin1Char('@'));
    if (cut >= 0) {
        name.truncate(cut);
    }
    if (name == QLatin1String("C") || name == QLatin1String("POSIX")) {
        return QString();
    }
    return name;
}

// The raw value of the first of the variables that is set and not empty, as setlocale() takes it.
QString firstSetVariable(std::initializer_list<const char*> variables) {
    for (const char* variable : variables) {
        const QString value = QString::fromLocal8Bit(qgetenv(variable));
        if (!value.isEmpty()) {
            return value;
        }
    }
    return QString();
}

QLocale localeFor(const char* categoryVariable) {
    const QString name = localeNameFor(categoryVariable);
    return name.isEmpty() ? QLocale::c() : QLocale(name);
}

} // namespace

QString localeNameFor(const char* categoryVariable) {
    // The first variable set decides, "C" included: LC_ALL=C with LANG=de_DE is the C locale, not German.
    return stripLocaleName(firstSetVariable({"LC_ALL", categoryVariable, "LANG"}));
}

QString messageLocaleName() {
    // As gettext: LANGUAGE only picks among translations when the message locale itself is not C.
    const QString messages = localeNameFor("LC_MESSAGES");
    if (messages.isEmpty()) {
        return QString();
    }
    const QString language = QString::fromLocal8Bit(qgetenv("LANGUAGE"));
    for (const QString& entry : language.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString name = stripLocaleName(entry);
        if (!name.isEmpty()) {
            return name;
        }
    }
    return messages;
}

QString formatLocaleName() {
    return stripLocaleName(firstSetVariable({"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG"}));
}

int ansiCodePageForLocale(const QString& localeName) {
    const QString lower = localeName.toLower().replace(QLatin1Char('-'), QLatin1Char('_'));
    const QString language = lower.section(QLatin1Char('_'), 0, 0);
    const QString region = lower.section(QLatin1Char('_'), 1, 1);

    if (language == QLatin1String("zh")) {
        return (region == QLatin1String("tw") || region == QLatin1String("hk") || region == QLatin1String("mo")) ? 950
                                                                                                                 : 936;
    }
    if (language == QLatin1String("sr")) {
        // Serbian in Latin letters (sr_RS@latin, sr_Latn) uses the Central European page.
        return localeName.contains(QLatin1String("atin")) ? 1250 : 1251;
    }
    static const struct {
        const char* languages;
        int codePage;
    } table[] = {
        {"ru uk be bg mk kk ky tt mn tg uz ba sah", 1251},
        {"pl cs sk hu ro hr sl sq bs hsb dsb tk", 1250},
        {"tr az", 1254},
        {"el", 1253},
        {"he yi", 1255},
        {"ar fa ur ps sd ug ku", 1256},
        {"et lv lt", 1257},
        {"vi", 1258},
        {"th", 874},
        {"ja", 932},
        {"ko", 949},
    };
    for (const auto& row : table) {
        if (QString::fromLatin1(row.languages).split(QLatin1Char(' ')).contains(language)) {
            return row.codePage;
        }
    }
    return 1252;
}

quint16 languageIdForLocale(const QString& localeName) {
    if (localeName.isEmpty()) {
        return 0;
    }
    const QByteArray name = localeName.toLatin1();
    char canonical[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_canonicalize(name.constData(), canonical, sizeof(canonical), &status);
    if (U_FAILURE(status)) {
        return 0;
    }
    return static_cast<quint16>(uloc_getLCID(canonical) & 0xFFFF);
}

QChar LinuxLocale::decimalSeparator() {
    const QString separator = localeFor("LC_NUMERIC").decimalPoint();
    return separator.isEmpty() ? QLatin1Char('.') : separator.at(0);
}

QString LinuxLocale::shortDateFormat() {
    return localeFor("LC_TIME").dateFormat(QLocale::ShortFormat);
}

int LinuxLocale::ansiCodePage() {
    return ansiCodePageForLocale(localeNameFor("LC_CTYPE"));
}

QString LinuxLocale::formatLocaleTag() {
    const QString name = formatLocaleName();
    const QLocale locale = name.isEmpty() ? QLocale::c() : QLocale(name);
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage) {
        return QStringLiteral("en-US");
    }
    return locale.name().replace(QLatin1Char('_'), QLatin1Char('-'));
}

quint16 LinuxLocale::uiLanguageId() {
    const quint16 id = languageIdForLocale(messageLocaleName());
    return id != 0 ? id : 1033;
}

} // namespace clavora::platform
