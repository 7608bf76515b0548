// Thread priority for tests: nothing is raised, every request is counted.
#pragma once

#include "platform/threadpriority.h"

#include <atomic>

namespace clavora::platform {

class FakeThreadPriority : public IThreadPriority {
public:
    PriorityResult raiseCurrentThread(const char*, int) override {
        ++requests;
        return {PriorityOutcome::Unchanged, QStringLiteral("fake")};
    }

    std::atomic<int> requests{0};
};

} // namespace clavora::platform
