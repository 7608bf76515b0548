// Who the program is and where it runs: the values fixed once at start-up and read, never changed, by the rest of
// the program.
#pragma once

#include "platform/filesystem.h"

#include <QChar>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

namespace clavora {

Q_DECLARE_LOGGING_CATEGORY(lcApp)

// The names used when the program file's version information cannot be read, so that the per-user data folder
// still gets its company and product levels instead of being the configuration folder itself.
inline const QString BuiltInCompanyName = QStringLiteral("Zemtrak");
inline const QString BuiltInProductName = QStringLiteral("Clavora");

// The identity strings of the program file's version information.
struct Identity {
    QString companyName;
    QString productName;
    QString title;   // companyName + " - " + productName: window caption, autostart entry, tray hint
    QString version; // "major.minor" of the fixed file version, "65535.65535" when unreadable
};

// Reads the identity of ProgramFile. Company and product fall back to the built-in names when the version
// information or the entry is missing; the failure is logged under clavora.app.
Identity readIdentity(platform::IFileSystem& files, const QString& programFile);

// True when Name can stand as one folder level of its own: not empty, not "." or "..", no folder separator ("/" or
// "\\"), no control character, at most 255 bytes in UTF-8.
bool isPlainFolderName(const QString& name);

// The identity made of the given names and fixed version. A name that is not a plain folder name (empty, or such as
// "../..", which would put the data folder outside the configuration folder) falls back to the built-in one.
Identity makeIdentity(const QString& companyName, const QString& productName, bool versionKnown, int major, int minor);

// "major.minor" of a fixed file version, or "65535.65535" when it could not be read.
QString formatAppVersion(bool readable, int major, int minor);

// The locale's formats captured at start-up; only the decimal separator is used.
struct LocaleSettings {
    QChar decimalSeparator = QLatin1Char('.');
    QString shortDateFormat;
};

// Everything start-up settles before the window appears. Filled step by step by the start-up sequence, then handed
// on as a const reference.
struct AppContext {
    QStringList arguments; // the command line without the program name
    QString programFile;
    QString programFolder; // with a trailing "/"
    Identity identity;
    QString dataFolder; // holds settings.ini and keys.db; with a trailing "/"
    LocaleSettings locale;
};

// True when the first command-line argument asks for the minimized start ("/auto", any letter case).
bool isAutoStartArgument(const QStringList& arguments);

} // namespace clavora
