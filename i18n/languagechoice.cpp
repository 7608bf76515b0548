// The decisions behind the language dialog and the stored language choice.
#include "i18n/languagechoice.h"

#include "i18n/textcodec.h"
#include "i18n/translator.h"

#include <QFile>
#include <QHash>

#include <algorithm>

#include <unicode/uloc.h>

namespace clavora {

PreferredLanguage preferredLanguage(const QString& stored, const QStringList& languageFiles) {
    const QString name = text::trimBlanksAndControls(stored);
    if (name.isEmpty()) {
        return {};
    }
    if (name == EnglishLanguage) {
        return {PreferredLanguage::Kind::English, QString()};
    }
    const QString fileName = name + QLatin1String(".lang.txt");
    if (languageFiles.contains(fileName)) {
        return {PreferredLanguage::Kind::File, fileName};
    }
    return {};
}

QList<LanguageItem> languageList(const QStringList& languageFiles) {
    QList<LanguageItem> items;
    for (const QString& file : languageFiles) {
        items.append({languageNameOf(file), file});
    }
    std::stable_sort(items.begin(), items.end(), [](const LanguageItem& a, const LanguageItem& b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    items.prepend({EnglishLanguage, QString()});
    return items;
}

QStringList languageItems(const QStringList& languageFiles) {
    QStringList names;
    for (const LanguageItem& item : languageList(languageFiles)) {
        names.append(item.name);
    }
    return names;
}

namespace {

QString fromIcu(const UChar* text, int32_t length) {
    return QString(reinterpret_cast<const QChar*>(text), length);
}

// Letters and digits only, in lower case: "Chinese (Simplified)" and "ChineseSimplified" are both
// "chinesesimplified".
QString squeezed(const QString& text) {
    QString key;
    for (QChar c : text) {
        if (c.isLetterOrNumber()) {
            key += c.toLower();
        }
    }
    return key;
}

QString displayName(const char* locale, const char* inLocale) {
    UChar name[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uloc_getDisplayName(locale, inLocale, name, 256, &status);
    return U_SUCCESS(status) && status != U_STRING_NOT_TERMINATED_WARNING ? fromIcu(name, length) : QString();
}

// Every locale ICU has, and the language and the language with its script of each, by their squeezed English
// names; the first of a name counts.
const QHash<QString, QByteArray>& localesByEnglishName() {
    static const QHash<QString, QByteArray> table = [] {
        QHash<QString, QByteArray> byName;
        const auto add = [&byName](const QByteArray& locale) {
            const QString key = squeezed(displayName(locale.constData(), "en"));
            if (!key.isEmpty() && !byName.contains(key)) {
                byName.insert(key, locale);
            }
        };
        const int32_t count = uloc_countAvailable();
        for (int32_t i = 0; i < count; ++i) {
            const char* locale = uloc_getAvailable(i);
            char language[32];
            char script[32];
            UErrorCode status = U_ZERO_ERROR;
            uloc_getLanguage(locale, language, sizeof language, &status);
            uloc_getScript(locale, script, sizeof script, &status);
            if (U_FAILURE(status)) {
                continue;
            }
            add(QByteArray(language));
            if (script[0] != '\0') {
                add(QByteArray(language) + '_' + script);
            }
            add(QByteArray(locale));
        }
        return byName;
    }();
    return table;
}

} // namespace

QString nativeLanguageName(const QString& language) {
    const QByteArray locale = localesByEnglishName().value(squeezed(language));
    if (locale.isEmpty()) {
        return QString();
    }
    QString name = displayName(locale.constData(), locale.constData());
    // ICU writes many languages' names in lower case, as they stand inside a sentence; in a list they begin with a
    // capital, as the languages' own menus have them.
    if (!name.isEmpty()) {
        name[0] = name.at(0).toUpper();
    }
    return name;
}

QString languageDisplayText(const QString& language) {
    const QString native = nativeLanguageName(language);
    if (native.isEmpty() || native.compare(language, Qt::CaseInsensitive) == 0) {
        return language;
    }
    return language + QStringLiteral(" \u2014 ") + native;
}

QString languageCredit(platform::IFileSystem& files, const QString& language, const QString& languagesFolder) {
    if (language == EnglishLanguage) {
        return MakerName;
    }
    return languageFileCredit(files, languagesFolder + QLatin1Char('/') + language + QLatin1String(".lang.txt"));
}

QString languageFileCredit(platform::IFileSystem& files, const QString& path) {
    QStringList lines;
    if (const Status read = readLanguageLines(files, path, lines); !read) {
        qCInfo(lcI18n).noquote() << read.message();
        return QString();
    }
    return translateFromList(QStringLiteral("INFO:Translated By"), lines);
}

QStringList creditLines(const QString& credit) {
    QStringList lines;
    if (credit.isEmpty()) {
        return lines;
    }
    for (const QString& piece : credit.split(QLatin1Char(','), Qt::KeepEmptyParts)) {
        lines.append(text::trimBlanksAndControls(piece));
    }
    return lines;
}

QString flagCodeFor(const QString& language) {
    static const QHash<QString, QString> codes{
        {QStringLiteral("English"), QStringLiteral("english")},
        {QStringLiteral("German"), QStringLiteral("de")},
        {QStringLiteral("French"), QStringLiteral("fr")},
        {QStringLiteral("Turkish"), QStringLiteral("tr")},
        {QStringLiteral("Albanian"), QStringLiteral("al")},
        {QStringLiteral("Arabic"), QStringLiteral("sa")},
        {QStringLiteral("Bulgarian"), QStringLiteral("bg")},
        {QStringLiteral("ChineseSimplified"), QStringLiteral("cn")},
        {QStringLiteral("ChineseTraditional"), QStringLiteral("tw")},
        {QStringLiteral("Czech"), QStringLiteral("cz")},
        {QStringLiteral("Dutch"), QStringLiteral("nl")},
        {QStringLiteral("Finnish"), QStringLiteral("fi")},
        {QStringLiteral("Greek"), QStringLiteral("gr")},
        {QStringLiteral("Hebrew"), QStringLiteral("il")},
        {QStringLiteral("Hungarian"), QStringLiteral("hu")},
        {QStringLiteral("Abkhazian"), QStringLiteral("ab")},
        {QStringLiteral("Catalan"), QStringLiteral("ca")},
        {QStringLiteral("Italian"), QStringLiteral("it")},
        {QStringLiteral("Japanese"), QStringLiteral("jp")},
        {QStringLiteral("Korean"), QStringLiteral("kr")},
        {QStringLiteral("Persian"), QStringLiteral("ir")},
        {QStringLiteral("Polish"), QStringLiteral("pl")},
        {QStringLiteral("PortugueseBrazil"), QStringLiteral("br")},
        {QStringLiteral("PortuguesePortugal"), QStringLiteral("pt")},
        {QStringLiteral("Romanian"), QStringLiteral("ro")},
        {QStringLiteral("Russian"), QStringLiteral("ru")},
        {QStringLiteral("Slovenian"), QStringLiteral("si")},
        {QStringLiteral("Spanish"), QStringLiteral("es")},
        {QStringLiteral("Swedish"), QStringLiteral("se")},
        {QStringLiteral("Ukrainian"), QStringLiteral("ua")},
        {QStringLiteral("Vietnamese"), QStringLiteral("vi")},
        {QStringLiteral("Slovak"), QStringLiteral("sk")},
        {QStringLiteral("Norwegian"), QStringLiteral("no")},
        {QStringLiteral("Hindi"), QStringLiteral("in")},
    };
    return codes.value(language, QStringLiteral("xx"));
}

QString shellQuoted(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QByteArray restartScript(const QString& programFile) {
    QByteArray script;
    script += "#!/bin/sh\n";
    script += "echo \"This file was created automatically to restart the program.\"\n";
    script += "echo \"It is safe to delete this file.\"\n";
    // Gives the program that wrote this script the time to end.
    script += "sleep 1\n";
    script += QFile::encodeName(shellQuoted(programFile)) + "\n";
    return script;
}

QString translationPageUrl(const QString& webHost) {
    return QLatin1String("https://") + webHost + QLatin1String("/translation/");
}

} // namespace clavora
