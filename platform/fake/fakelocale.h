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

    QChar separator = QLatin1Char('.');
    QString dateFormat = QStringLiteral("M/d/yy");
    int codePage = 1252;
    quint16 languageId = 1033;
};

} // namespace clavora::platform
