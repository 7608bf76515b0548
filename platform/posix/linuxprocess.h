// Process-wide services on Linux.
#pragma once

#include "platform/process.h"

namespace clavora::platform {

class LinuxProcess : public IProcess {
public:
    // A shared lock on a file of that name in XDG_RUNTIME_DIR (the temporary folder when it is not set).
    std::unique_ptr<IHeld> createNamedMutex(const QString& name) override;
    // SIGTERM, SIGINT and SIGHUP, through a pipe the signal handler writes to and the event loop watches.
    std::unique_ptr<IHeld> catchEndRequests(std::function<void()> handler) override;
};

} // namespace clavora::platform
