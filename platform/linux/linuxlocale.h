// The user's locale on Linux, from the POSIX locale variables, through ICU and QLocale.
#pragma once

#include "platform/locale.h"

namespace clavora::platform {

class LinuxLocale : public ILocale {
public:
    QChar decimalSeparator() override;
    QString shortDateFormat() override;
    int ansiCodePage() override;
    quint16 uiLanguageId() override;
};

// The locale name in force for a category, by the POSIX precedence: LC_ALL, then the category's own variable,
// then LANG. "C" and "POSIX" count as no locale; an empty result means none was set.
QString localeNameFor(const char* categoryVariable);

// The message locale: the first entry of LANGUAGE, then LC_ALL, LC_MESSAGES, LANG.
QString messageLocaleName();

// Windows code page of the legacy 8-bit encoding that belongs to a locale's language ("ru_RU" -> 1251).
// 1252 for unknown languages.
int ansiCodePageForLocale(const QString& localeName);

// Windows language identifier of a POSIX or ICU locale name through ICU; 0 when ICU knows none.
quint16 languageIdForLocale(const QString& localeName);

} // namespace clavora::platform
