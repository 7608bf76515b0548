// The program's identity and the start-up globals that the rest of the program reads.
#pragma once

#include <QChar>
#include <QString>

namespace clavora {

// From the program file's version information.
extern QString AppCompanyName;
extern QString AppProductName;
extern QString AppTitle;   // AppCompanyName + " - " + AppProductName
extern QString AppVersion; // "major.minor" of the fixed file version, "65535.65535" when unreadable

// Folder holding settings.ini and keys.db, always with a trailing "/".
extern QString DataFolder;

// The locale's formats captured at start-up; only the decimal separator is used.
struct TLocaleSettings {
    QChar DecimalSeparator = QLatin1Char('.');
    QString ShortDateFormat;
};
extern TLocaleSettings LocaleSettings;

// "major.minor" of a fixed file version, or "65535.65535" when it could not be read.
QString FormatAppVersion(bool readable, int major, int minor);

} // namespace clavora
