// Language files and string translation: once per run the program picks the language file that belongs to the
// user's interface language, and from then on Translate turns the program's English texts into that language.
#pragma once

#include "platform/status.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

namespace clavora {

Q_DECLARE_LOGGING_CATEGORY(lcI18n)

// The loaded language. LoadLanguage sets these once while the main window is created; afterwards they are only
// read, so they (and Translate) may be used from any thread without a lock. All are empty before LoadLanguage.

// The program folder + "/Languages", without a trailing separator.
const QString& LanguagesFolder();
// Names (without folder) of the language files found, in the order of the folder listing; empty when the folder
// is missing.
const QStringList& LanguageFiles();
// The loaded file's name up to its first ".lang.txt" (exact letter case), e.g. "German"; empty when no language is
// loaded, and also when the file name carries the suffix only in another letter case ("X.LANG.TXT").
const QString& CurrentLanguage();
// Full path of the loaded language file; empty when none is loaded, and then Translate returns its input.
const QString& CurrentLanguageFile();
// The lines of the loaded language file; empty when none was chosen or it could not be read.
const QStringList& TranslationLines();

// Lists the language files and loads one: FileName (a name inside LanguagesFolder, used as given) or, when it is
// blank, the file that LanguageCodes.csv names for the user's interface language. Call once on the GUI thread
// before any window that translates exists. Finding no folder, no table, no row or no file is no failure: the
// program then speaks English. Fails only when the chosen file exists but cannot be read or is not valid text; the
// language stays English then (CurrentLanguage and CurrentLanguageFile still name the file) and the failure has
// already been logged.
Status LoadLanguage(const QString& fileName);

// Appends to LanguageFiles the names of the files (not folders) in Folder that match "*lang.txt" with letter case
// ignored. A folder that cannot be listed adds nothing.
void ListLanguageFiles(const QString& folder);

// The loaded language's translation of the English source text Text, or Text itself when no language is loaded or
// the file has no (or an empty) translation for it. Source texts are matched with their exact letter case.
QString Translate(const QString& text);

// The same lookup in language-file lines the caller read itself; it does not care whether a language is loaded,
// and returns an empty translation as it stands. Text when Lines has no line for it.
QString TranslateFromList(const QString& text, const QStringList& lines);

// Helpers shared with the language dialog.

// The language name of a language file: FileName up to its first ".lang.txt" in exact letter case; empty when it
// has none.
QString LanguageNameOf(const QString& fileName);

// Reads a language file into lines as UTF-8 (a byte-order mark is skipped; a UTF-16 file with its byte-order mark
// is read too). On failure (unreadable, or not valid text in its encoding) Lines is empty and the message says why.
Status ReadLanguageLines(const QString& path, QStringList& lines);

// Decoding and lookup, without any I/O.

// Decodes the bytes of a language file into lines (see ReadLanguageLines). False, with Lines empty, when the bytes
// are not valid in their encoding.
bool DecodeLanguageText(const QByteArray& bytes, QStringList& lines);

// Decodes the bytes of LanguageCodes.csv into lines: a byte-order mark selects UTF-8 or UTF-16; without one, valid
// UTF-8 is read as such (plain ASCII included) and anything else in the Windows code page AnsiCodePage.
QStringList DecodeCodeTableText(const QByteArray& bytes, int ansiCodePage);

// The file name that the LanguageCodes.csv lines give for the decimal language identifier Code: the first line whose
// text before its first comma, trimmed, equals Code; its text after that comma, trimmed. Empty when no line does.
QString LanguageFileForCode(const QStringList& tableLines, const QString& code);

} // namespace clavora
