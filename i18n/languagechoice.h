// The decisions behind the language dialog and the stored language choice: the list of languages, the translators
// of each, the flag that belongs to a language, its own name, and the script that starts the program again after a
// change. Qt Core and ICU.
#pragma once

#include "platform/filesystem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace clavora {

// The built-in language: the program's own texts.
inline const QString EnglishLanguage = QStringLiteral("English");
// Who wrote the program's own (English) texts.
inline const QString MakerName = QStringLiteral("Zemtrak");
// The restart script's name in the data folder.
inline const QString RestartScriptName = QStringLiteral("start.sh");

// What start-up loads for a stored language name.
struct PreferredLanguage {
    enum class Kind {
        Automatic, // nothing (usable) stored: the language that belongs to the user's locale
        English,   // the program's own texts, whatever language files are installed
        File,      // FileName, one of the installed language files
    };
    Kind kind = Kind::Automatic;
    QString fileName;
};
// Stored "English" keeps English; a name whose file Name + ".lang.txt" (exact letter case) is among LanguageFiles
// loads that file; anything else, blank included, the automatic choice.
PreferredLanguage preferredLanguage(const QString& stored, const QStringList& languageFiles);

// The dialog's list: "English" first, then the language name of every file (empty for a file without ".lang.txt"
// in exact letter case), sorted with letter case ignored.
QStringList languageItems(const QStringList& languageFiles);

// One entry of the dialog's list.
struct LanguageItem {
    QString name;     // what is kept as the choice: "English", or the language name of the file (may be empty)
    QString fileName; // the language file; empty for English
};
// The entries behind languageItems, in its order.
QList<LanguageItem> languageList(const QStringList& languageFiles);

// The language's name in itself, as ICU has it ("Deutsch", "中文（简体）", "Português (Brasil)"), for a language name
// that is the English name of a language, with its script or country, without blanks ("German", "ChineseSimplified",
// "PortugueseBrazil"); empty for a name ICU does not know.
QString nativeLanguageName(const QString& language);

// What the dialog shows for Language: its name, and beside it its own name where that differs ("German — Deutsch").
QString languageDisplayText(const QString& language);

// The translators of Language as the language file's "INFO:Translated By" line gives them: the maker for
// "English"; empty when the file cannot be read; the key itself when the file has no such line.
QString languageCredit(platform::IFileSystem& files, const QString& language, const QString& languagesFolder);
// The same from the language file at Path (whatever its name).
QString languageFileCredit(platform::IFileSystem& files, const QString& path);

// The credit split at every comma, empty pieces kept, each trimmed of characters of code 32 and below.
QStringList creditLines(const QString& credit);

// The picture name (a country code) of a language's flag; "xx", the neutral picture, for any other name.
QString flagCodeFor(const QString& language);

// Text quoted for a POSIX shell: in single quotes, each single quote written as '\''.
QString shellQuoted(const QString& text);

// The restart script: a POSIX shell script that says what it is, waits one second for the running program to
// end, then starts ProgramFile. LF line ends, UTF-8 (the file name encoding of the system).
QByteArray restartScript(const QString& programFile);

// The translation page on the maker's host.
QString translationPageUrl(const QString& webHost);

} // namespace clavora
