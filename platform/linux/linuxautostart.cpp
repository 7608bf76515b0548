// Autostart on Linux: an XDG autostart desktop entry.
#include "platform/linux/linuxautostart.h"

#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace clavora::platform {

namespace {

// Quoting of an Exec argument: inside double quotes, backslash, quote, backquote and dollar are escaped; in the
// desktop file's string syntax each backslash is then doubled again.
QString quoteExecArgument(const QString& argument) {
    QString quoted;
    for (QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
        }
        quoted += c;
    }
    quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    quoted.replace(QLatin1Char('%'), QLatin1String("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// File names cannot hold "/".
QString safeFileName(const QString& name) {
    QString file = name;
    file.replace(QLatin1Char('/'), QLatin1Char('_'));
    return file.isEmpty() ? QStringLiteral("clavora") : file;
}

} // namespace

QString LinuxAutostart::entryPath(const QString& name) {
    return fileSystem().userConfigFolder() + QLatin1String("/autostart/") + safeFileName(name) +
           QLatin1String(".desktop");
}

QByteArray LinuxAutostart::entryText(const QString& name, const QString& programPath, const QString& argument) {
    QString text;
    text += QLatin1String("[Desktop Entry]\n");
    text += QLatin1String("Type=Application\n");
    text += QLatin1String("Name=") + QString(name).replace(QLatin1Char('\n'), QLatin1Char(' ')) + QLatin1Char('\n');
    text += QLatin1String("Exec=") + quoteExecArgument(programPath) + QLatin1Char(' ') + argument + QLatin1Char('\n');
    text += QLatin1String("Terminal=false\n");
    text += QLatin1String("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

QString LinuxAutostart::readEntry(const QString& name) {
    QFile file(entryPath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("Exec="))) {
            return line.mid(5).trimmed();
        }
    }
    return QString();
}

Status LinuxAutostart::writeEntry(const QString& name, const QString& programPath, const QString& argument) {
    const QString path = entryPath(name);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return Status::failure(QStringLiteral("Cannot create folder \"%1\".").arg(QFileInfo(path).absolutePath()));
    }
    return fileSystem().writeFileReplacing(path, entryText(name, programPath, argument));
}

Status LinuxAutostart::removeEntry(const QString& name) {
    const QString path = entryPath(name);
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
        return Status::failure(
            QStringLiteral("Cannot delete file \"%1\". %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    return Status::success();
}

template <> IAutostart& defaultService<IAutostart>() {
    static LinuxAutostart service;
    return service;
}

} // namespace clavora::platform
