// Process services for tests: records the mutexes asked for.
#pragma once

#include "platform/process.h"

#include <QStringList>

namespace clavora::platform {

class FakeProcess : public IProcess {
public:
    std::unique_ptr<IHeld> createNamedMutex(const QString& name) override {
        mutexes << name;
        return std::make_unique<IHeld>();
    }

    std::unique_ptr<IHeld> catchEndRequests(std::function<void()> handler) override {
        endRequestHandler = std::move(handler);
        return std::make_unique<IHeld>();
    }

    QStringList mutexes;
    std::function<void()> endRequestHandler;
};

} // namespace clavora::platform
