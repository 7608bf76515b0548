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
    QString formatLocaleTag() override;
};

// The locale name in force for a category, by the POSIX precedence: the first set of LC_ALL, the category's own
// variable and LANG decides. An empty result means the C locale: "C" or "POSIX" was set, or nothing was.
QString localeNameFor(const char* categoryVariable);

// The message locale: empty (untranslated) when LC_ALL, LC_MESSAGES and LANG give the C locale; otherwise the first
// entry of LANGUAGE, then that locale.
QString messageLocaleName();

// The locale numbers and dates follow: the first set of LC_ALL, LC_NUMERIC, LC_TIME and LANG; empty for C.
QString formatLocaleName();

// Windows code page of the legacy 8-bit encoding that belongs to a locale's language ("ru_RU" -> 1251).
// 1252 for unknown languages.
int ansiCodePageForLocale(const QString& localeName);

// Windows language identifier of a POSIX or ICU locale name through ICU; 0 when ICU knows none.
quint16 languageIdForLocale(const QString& localeName);

} // namespace clavora::platform
