// Autostart on Linux: an XDG autostart desktop entry.
#pragma once

#include "platform/autostart.h"

namespace clavora::platform {

// $XDG_CONFIG_HOME/autostart/<Name>.desktop; its presence with an Exec line is the option.
class LinuxAutostart : public IAutostart {
public:
    QString readEntry(const QString& name) override;
    Status writeEntry(const QString& name, const QString& programPath, const QString& argument) override;
    Status removeEntry(const QString& name) override;

    static QString entryPath(const QString& name);
    // The text of the entry; the program path quoted for the Exec key as the desktop entry rules ask.
    static QByteArray entryText(const QString& name, const QString& programPath, const QString& argument);
};

} // namespace clavora::platform
