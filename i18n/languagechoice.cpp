// The decisions behind the language dialog and the stored language choice.
#include "i18n/languagechoice.h"

#include "i18n/textcodec.h"
#include "i18n/translator.h"

#include <QFile>
#include <QHash>

#include <algorithm>

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

QStringList languageItems(const QStringList& languageFiles) {
    QStringList names;
    for (const QString& file : languageFiles) {
        names.append(languageNameOf(file));
    }
    std::stable_sort(names.begin(), names.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    names.prepend(EnglishLanguage);
    return names;
}

QString languageCredit(const QString& language, const QString& languagesFolder) {
    if (language == EnglishLanguage) {
        return MakerName;
    }
    QStringList lines;
    if (const Status read =
            readLanguageLines(languagesFolder + QLatin1Char('/') + language + QLatin1String(".lang.txt"), lines);
        !read) {
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
