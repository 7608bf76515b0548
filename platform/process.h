// Process-wide services: the named instance mutex.
#pragma once

#include "platform/service.h"

#include <QString>
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
};

template <> IProcess& defaultService<IProcess>();
inline IProcess& process() {
    return Service<IProcess>();
}

} // namespace clavora::platform
