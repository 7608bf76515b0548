// Autostart on Linux: an XDG autostart desktop entry.
#pragma once

#include "platform/autostart.h"
#include "platform/filesystem.h"

#include <QByteArray>

#include <optional>

namespace clavora::platform {

// $XDG_CONFIG_HOME/autostart/<Name>.desktop; its presence with an Exec line, not disabled by the desktop (Hidden=true
// or X-GNOME-Autostart-enabled=false), is the option.
class LinuxAutostart : public IAutostart {
public:
    // Files: where the per-user folder is, and how the entry is read and written.
    explicit LinuxAutostart(IFileSystem& files) : m_files(files) {}

    QString readEntry(const QString& name) override;
    Status writeEntry(const QString& name, const QString& programPath, const QString& argument) override;
    Status removeEntry(const QString& name) override;

    QString entryPath(const QString& name) const;
    // The text of the entry; nothing when the program path cannot be written into one safely (a line break in it).
    static std::optional<QByteArray> entryText(const QString& name, const QString& programPath,
                                               const QString& argument);

private:
    IFileSystem& m_files;
};

} // namespace clavora::platform
