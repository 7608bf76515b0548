// The sound server for tests: it answers what the test sets, and counts the questions.
#pragma once

#include "platform/soundserver.h"

#include <atomic>

namespace clavora::platform {

class FakeSoundServer : public ISoundServer {
public:
    SoundServerInfo query(std::chrono::milliseconds) override {
        ++queries;
        return info;
    }

    QList<SoundOutput> outputs(std::chrono::milliseconds) override { return listed; }

    SoundServerInfo info;
    QList<SoundOutput> listed;
    std::atomic<int> queries{0};
};

} // namespace clavora::platform
