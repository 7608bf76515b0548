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
    PriorityResult raiseThread(qint64, const char*, int) override {
        ++requests;
        return {PriorityOutcome::Unchanged, QStringLiteral("fake")};
    }
    // No thread is known by name: the caller goes on without raising one.
    qint64 findThread(const QByteArray&) override { return 0; }

    std::atomic<int> requests{0};
};

} // namespace clavora::platform
