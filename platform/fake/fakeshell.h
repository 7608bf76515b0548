// Desktop hand-over for tests: records what was opened and started.
#pragma once

#include "platform/shell.h"

namespace clavora::platform {

class TFakeShell : public IShell {
public:
    bool openUrl(const QString& url) override {
        FOpened << url;
        return true;
    }
    bool startDetached(const QString& program, const QStringList& arguments) override {
        FStarted << (QStringList{program} + arguments).join(QLatin1Char(' '));
        return true;
    }

    QStringList FOpened;
    QStringList FStarted;
};

} // namespace clavora::platform
