// The user's locale as the program needs it: number and date formats, the legacy code page for old text files,
// and the language the user interface should speak.
#pragma once

#include <QChar>
#include <QString>

namespace clavora::platform {

class ILocale {
public:
    virtual ~ILocale() = default;

    // Decimal separator of the user's number format ("." or "," and so on).
    virtual QChar decimalSeparator() = 0;

    // Short date format of the user's locale, in Qt's date format notation.
    virtual QString shortDateFormat() = 0;

    // Windows code page number of the legacy 8-bit encoding that belongs to the user's language (1252 for English,
    // 1251 for Russian, 1254 for Turkish...); 1252 when the language is unknown.
    virtual int ansiCodePage() = 0;

    // Windows language identifier (LANGID) of the user's interface language; 1033 when none can be found, and for
    // the C locale.
    virtual quint16 uiLanguageId() = 0;

    // Language tag ("de-DE") of the locale the user's numbers and dates follow; "en-US" for the C locale or when
    // no locale is set.
    virtual QString formatLocaleTag() = 0;
};

} // namespace clavora::platform
