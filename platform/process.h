// Process-wide services: the named instance mutex and the system's request to end.
#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace clavora::platform {

// Something held until it is destroyed.
class IHeld {
public:
    virtual ~IHeld() = default;
};

class IProcess {
public:
    virtual ~IProcess() = default;

    // Creates (or opens) the named mutex Name and holds it until the returned object is destroyed. Several
    // processes may hold it at once; it is never tested. Returns null when it could not be created.
    virtual std::unique_ptr<IHeld> createNamedMutex(const QString& name) = 0;

    // While the returned object lives, a request from the system to end the process (a log-out, `kill`, Ctrl+C
    // in a terminal) calls Handler on the GUI thread's event loop instead of ending the process at once, so it can
    // close down as from its Exit command. Null when the requests cannot be caught.
    virtual std::unique_ptr<IHeld> catchEndRequests(std::function<void()> handler) = 0;
};

} // namespace clavora::platform
