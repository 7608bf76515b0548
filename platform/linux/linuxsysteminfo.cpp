// Machine identifier and system facts on Linux: systemd's machine-id (D-Bus keeps an older copy), os-release and
// uname.
#include "platform/systeminfo.h"

#include <QFile>

#include <sys/utsname.h>

namespace clavora::platform {

namespace {

// These files are a few dozen bytes; anything much larger is not what we are looking for.
constexpr qint64 MaxFileBytes = 64 * 1024;

QByteArray readSmallFile(const char* path) {
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.read(MaxFileBytes);
}

} // namespace

QByteArray readMachineId() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        const QByteArray id = readSmallFile(path).trimmed();
        if (!id.isEmpty()) {
            return id;
        }
    }
    return {};
}

SystemFacts readSystemFacts() {
    SystemFacts facts;
    facts.osRelease = readSmallFile("/etc/os-release");
    if (facts.osRelease.isEmpty()) {
        facts.osRelease = readSmallFile("/usr/lib/os-release");
    }
    struct utsname names {};
    if (::uname(&names) == 0) {
        facts.kernelRelease = QString::fromLocal8Bit(names.release);
        facts.machine = QString::fromLocal8Bit(names.machine);
    }
    return facts;
}

} // namespace clavora::platform
