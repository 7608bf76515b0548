// Language files and string translation: once per run start-up picks the language file that belongs to the user's
// interface language, and from then on the Translator turns the program's English texts into that language.
#pragma once

#include "i18n/i18nlogging.h"
#include "platform/services.h"
#include "platform/status.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace clavora {

// The loaded language and its lookup. Start-up creates one, loads it once and hands it to the windows that
// translate; it is not changed afterwards (a language change takes a restart). Copies share the loaded text, so a
// worker thread gets a cheap copy of its own.
class Translator {
public:
    // No language: translate() returns its input, and none can be loaded.
    Translator() = default;
    // No language yet; one is loaded through Services (the program folder, its listing, the user's language).
    explicit Translator(const platform::Services& services) : m_services(&services) {}

    // Lists the language files in the program's "Languages" folder and loads one: FileName (a name inside that
    // folder, used as given) or, when it is blank, the file that LanguageCodes.csv names for the user's interface
    // language. Whatever this translator held before is dropped. Finding no folder, no table, no row or no file is
    // no failure: the translator then speaks English. Fails only when the chosen file exists but cannot be read or
    // is not valid text; the translator stays English then (currentLanguage() and currentLanguageFile() still name
    // the file) and the failure has already been logged.
    Status loadLanguage(const QString& fileName);

    // Start-up's load: the language the user confirmed in the language dialog (Stored, a language name kept in the
    // settings) when its file is installed; "English" keeps the program's own texts; otherwise, and when nothing is
    // stored, the automatic choice of loadLanguage. The folder is listed either way.
    Status loadPreferredLanguage(const QString& stored);

    // The program folder + "/Languages", without a trailing separator; empty before loadLanguage.
    const QString& languagesFolder() const { return m_languagesFolder; }
    // Names (without folder) of the language files found, in the order of the folder listing; empty when the folder
    // is missing.
    const QStringList& languageFiles() const { return m_languageFiles; }
    // The loaded file's name up to its first ".lang.txt" (exact letter case), e.g. "German"; empty when no language
    // is loaded, and also when the file name carries the suffix only in another letter case ("X.LANG.TXT").
    const QString& currentLanguage() const { return m_currentLanguage; }
    // Full path of the loaded language file; empty when none is loaded, and then translate() returns its input.
    const QString& currentLanguageFile() const { return m_currentLanguageFile; }
    // The lines of the loaded language file; empty when none was chosen or it could not be read.
    const QStringList& translationLines() const { return m_translationLines; }

    // The loaded language's translation of the English source text Text, or Text itself when no language is loaded
    // or the file has no (or an empty) translation for it. Source texts are matched with their exact letter case.
    QString translate(const QString& text) const;

private:
    QString chooseAutomatically() const;
    // loadLanguage, staying with English after the listing when English is set.
    Status load(const QString& fileName, bool english);

    const platform::Services* m_services = nullptr;
    QString m_languagesFolder;
    QStringList m_languageFiles;
    QString m_currentLanguage;
    QString m_currentLanguageFile;
    QStringList m_translationLines;
};

// The same lookup in language-file lines the caller read itself; it does not care whether a language is loaded, and
// returns an empty translation as it stands. Text when Lines has no line for it.
QString translateFromList(const QString& text, const QStringList& lines);

// Helpers shared with the language dialog.

// The names of the files (not folders) in Folder that match "*lang.txt" with letter case ignored, in the order of
// the listing. A folder that cannot be listed gives none.
QStringList listLanguageFiles(platform::IFolderSearch& folders, const QString& folder);

// The language name of a language file: FileName up to its first ".lang.txt" in exact letter case; empty when it has
// none.
QString languageNameOf(const QString& fileName);

// Reads a language file into lines: UTF-8, or UTF-16 with its byte-order mark. On failure (unreadable, or not valid
// text in its encoding) Lines is empty and the message says why.
Status readLanguageLines(platform::IFileSystem& files, const QString& path, QStringList& lines);

// The file name that the LanguageCodes.csv lines give for the decimal language identifier Code: the first line whose
// text before its first comma, trimmed, equals Code; its text after that comma, trimmed. Empty when no line does.
QString languageFileForCode(const QStringList& tableLines, const QString& code);

} // namespace clavora
