// Desktop hand-over for tests: records what was opened and started.
#pragma once

#include "platform/shell.h"

namespace clavora::platform {

class FakeShell : public IShell {
public:
    bool openUrl(const QString& url) override {
        opened << url;
        return true;
    }
    bool startDetached(const QString& program, const QStringList& arguments) override {
        started << (QStringList{program} + arguments).join(QLatin1Char(' '));
        return true;
    }

    QStringList opened;
    QStringList started;
};

} // namespace clavora::platform
