// Machine identifier and system facts on Linux: systemd's machine-id (D-Bus keeps an older copy), os-release and
// uname; the processors' load from the kernel's run queue and pressure figures.
#include "platform/posix/linuxsysteminfo.h"

#include "platform/posix/linuxfilesystem.h"

#include <QList>

#include <algorithm>

#include <sys/utsname.h>
#include <unistd.h>

namespace clavora::platform {

namespace {

// These files are a few dozen bytes; anything much larger is not what we are looking for.
constexpr qint64 MaxFileBytes = 64 * 1024;

QByteArray readSmallFile(const char* path) {
    QByteArray bytes;
    if (!readRegularFile(QString::fromLatin1(path), bytes, MaxFileBytes)) {
        return {};
    }
    return bytes;
}

} // namespace

QByteArray LinuxSystemInfo::machineId() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        const QByteArray id = readSmallFile(path).trimmed();
        if (!id.isEmpty()) {
            return id;
        }
    }
    return {};
}

SystemFacts LinuxSystemInfo::systemFacts() {
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

ProcessorLoad LinuxSystemInfo::processorLoad() {
    ProcessorLoad load;
    load.processors = static_cast<int>(std::max(0L, ::sysconf(_SC_NPROCESSORS_ONLN)));
    // "0.52 0.58 0.59 3/412 12345": the fourth field is runnable/all scheduling entities at this moment.
    const QList<QByteArray> fields = readSmallFile("/proc/loadavg").split(' ');
    if (fields.size() >= 4) {
        load.runnable = std::max(0, fields[3].split('/').value(0).toInt());
    }
    // "some avg10=1.23 avg60=4.56 avg300=7.89 total=123456" (kernels with pressure stall information): percent of
    // the time some task waited, and the microseconds it did in all.
    for (const QByteArray& line : readSmallFile("/proc/pressure/cpu").split('\n')) {
        if (!line.startsWith("some ")) {
            continue;
        }
        for (const QByteArray& field : line.split(' ')) {
            bool ok = false;
            if (field.startsWith("avg10=")) {
                const double percent = field.mid(6).toDouble(&ok);
                if (ok && percent >= 0 && percent <= 100) {
                    load.waitingShare = percent / 100.0;
                }
            } else if (field.startsWith("total=")) {
                const qint64 total = field.mid(6).trimmed().toLongLong(&ok);
                if (ok && total >= 0) {
                    load.waitedUs = total;
                }
            }
        }
    }
    return load;
}

} // namespace clavora::platform
