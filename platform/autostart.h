// The per-user entry that starts the program when the user logs in.
#pragma once

#include "platform/status.h"

#include <QString>

namespace clavora::platform {

class IAutostart {
public:
    virtual ~IAutostart() = default;

    // The command line of the entry named Name; empty when there is none.
    virtual QString readEntry(const QString& name) = 0;

    // Creates or replaces the entry Name so that it runs ProgramPath, quoted, with the argument Argument.
    // On failure the message names the file and the system's reason.
    virtual Status writeEntry(const QString& name, const QString& programPath, const QString& argument) = 0;

    // Removes the entry Name. A missing entry is no failure.
    virtual Status removeEntry(const QString& name) = 0;
};

} // namespace clavora::platform
