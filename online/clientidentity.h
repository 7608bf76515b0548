// The values that tell the maker's server which client is asking: the installation identifier, the operating
// system and the user's locale. All may be computed on any thread.
#pragma once

#include "platform/locale.h"
#include "platform/systeminfo.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

namespace clavora::online {

struct InstallationId {
    QString id;             // empty when there is none
    bool malformed = false; // the machine has an identifier file, but what it holds is not a machine identifier
};

// The per-machine identifier sent to the server: an HMAC-SHA256 of the machine's own identifier under the
// program's fixed key, its first 128 bits written as a lower-case GUID without braces. The machine's identifier
// cannot be recovered from it, yet it stays the same across runs and program versions. Empty for an empty id.
QString installationIdFromMachineId(const QByteArray& machineId);

// The above for this machine. A systemd machine id is 32 hexadecimal digits; anything else (such as the
// "uninitialized" of an early boot, which every such machine shares) gives no identifier and counts as malformed.
InstallationId readInstallationId(platform::ISystemInfo& system);

// One line: the system's name, then in parentheses its version, the kernel release as build, and "64-bit Edition"
// or "32-bit Edition", e.g. "Debian GNU/Linux 12 (bookworm) (Version 12, Build 6.1.0-18-amd64, 64-bit Edition)".
QString formatOsDescription(const platform::SystemFacts& facts);
QString osDescription(platform::ISystemInfo& system);

// Language tag of a locale, such as "en-US" (language and country joined by "-"); "xx" for the C locale or one
// without a language.
QString localeTag(const QLocale& locale);
// The tag of the locale the user's numbers and dates follow (the one the stored check date is written in), "en-US"
// when none is set; taken once at start-up by the caller.
QString userLocaleName(platform::ILocale& locale);

} // namespace clavora::online
