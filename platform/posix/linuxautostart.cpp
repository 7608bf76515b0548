// Autostart on Linux: an XDG autostart desktop entry.
#include "platform/posix/linuxautostart.h"

#include "platform/filesystem.h"
#include "platform/posix/desktopentry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace clavora::platform {

namespace {

// An entry is a dozen short lines; one far longer is not ours.
constexpr qint64 MaxEntryBytes = 64 * 1024;

// File names cannot hold "/".
QString safeFileName(const QString& name) {
    QString file = name;
    file.replace(QLatin1Char('/'), QLatin1Char('_'));
    return file.isEmpty() ? QStringLiteral("clavora") : file;
}

// Text with each character a command line of a desktop entry cannot hold replaced by By.
QString withUnfitReplaced(QString text, QChar by) {
    for (QChar& c : text) {
        if (!fitsDesktopEntryCommand(QString(c))) {
            c = by;
        }
    }
    return text;
}

} // namespace

QString LinuxAutostart::entryPath(const QString& name) const {
    return m_files.userConfigFolder() + QLatin1String("/autostart/") + safeFileName(name) + QLatin1String(".desktop");
}

std::optional<QByteArray> LinuxAutostart::entryText(const QString& name, const QString& programPath,
                                                    const QString& argument) {
    DesktopEntryWriter entry;
    entry.setString(QStringLiteral("Type"), QStringLiteral("Application"));
    entry.setString(QStringLiteral("Name"), withUnfitReplaced(name, QLatin1Char(' ')));
    // The desktop skips the entry once the program is gone (the package removed), instead of failing at each login.
    if (!entry.setString(QStringLiteral("TryExec"), programPath) ||
        !entry.setCommand(QStringLiteral("Exec"), {programPath, argument})) {
        return std::nullopt;
    }
    entry.setString(QStringLiteral("Icon"), QLatin1String(DesktopApplicationId));
    entry.setBoolean(QStringLiteral("Terminal"), false);
    entry.setBoolean(QStringLiteral("X-GNOME-Autostart-enabled"), true);
    return entry.text();
}

QString LinuxAutostart::readEntry(const QString& name) {
    // Whatever stands in the entry's place (a pipe, a device, a huge file) reads as no entry.
    QByteArray text;
    if (!m_files.readFile(entryPath(name), text, MaxEntryBytes)) {
        return QString();
    }
    const QHash<QString, QString> keys = readDesktopEntryGroup(text);
    // An entry the desktop's session settings turned off is there but does not run: the option is off.
    if (desktopEntryBoolean(keys.value(QStringLiteral("Hidden")), false) ||
        !desktopEntryBoolean(keys.value(QStringLiteral("X-GNOME-Autostart-enabled")), true)) {
        return QString();
    }
    return keys.value(QStringLiteral("Exec")).trimmed();
}

Status LinuxAutostart::writeEntry(const QString& name, const QString& programPath, const QString& argument) {
    const std::optional<QByteArray> text = entryText(name, programPath, argument);
    if (!text) {
        return Status::failure(
            QStringLiteral("Cannot start the program at login from \"%1\": its path holds a line break or another "
                           "character an autostart entry cannot hold. Move the program to a folder whose path has "
                           "none and try again.")
                .arg(withUnfitReplaced(programPath, QChar::ReplacementCharacter)));
    }
    const QString path = entryPath(name);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return Status::failure(QStringLiteral("Cannot create folder \"%1\".").arg(QFileInfo(path).absolutePath()));
    }
    return m_files.writeFileReplacing(path, *text);
}

Status LinuxAutostart::removeEntry(const QString& name) {
    const QString path = entryPath(name);
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
        return Status::failure(
            QStringLiteral("Cannot delete file \"%1\". %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    return Status::success();
}

} // namespace clavora::platform
