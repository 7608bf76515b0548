// A locale for tests: every answer set by the test.
#pragma once

#include "platform/locale.h"

namespace clavora::platform {

class FakeLocale : public ILocale {
public:
    QChar decimalSeparator() override { return separator; }
    QString shortDateFormat() override { return dateFormat; }
    int ansiCodePage() override { return codePage; }
    quint16 uiLanguageId() override { return languageId; }
    QString formatLocaleTag() override { return localeTag; }

    QChar separator = QLatin1Char('.');
    QString dateFormat = QStringLiteral("M/d/yy");
    int codePage = 1252;
    quint16 languageId = 1033;
    QString localeTag = QStringLiteral("en-US");
};

} // namespace clavora::platform
