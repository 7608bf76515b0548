// A locale for tests: every answer set by the test.
#pragma once

#include "platform/locale.h"

namespace clavora::platform {

class TFakeLocale : public ILocale {
public:
    QChar decimalSeparator() override { return FDecimalSeparator; }
    QString shortDateFormat() override { return FShortDateFormat; }
    int ansiCodePage() override { return FAnsiCodePage; }
    quint16 uiLanguageId() override { return FUiLanguageId; }

    QChar FDecimalSeparator = QLatin1Char('.');
    QString FShortDateFormat = QStringLiteral("M/d/yy");
    int FAnsiCodePage = 1252;
    quint16 FUiLanguageId = 1033;
};

} // namespace clavora::platform
