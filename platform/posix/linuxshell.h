// Handing things to the desktop on Linux, through Qt's desktop services.
#pragma once

#include "platform/shell.h"

namespace clavora::platform {

class LinuxShell : public IShell {
public:
    bool openUrl(const QString& url) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
};

} // namespace clavora::platform
