// Facts about the machine for tests: what the test sets, the same on every thread.
#pragma once

#include "platform/systeminfo.h"

#include <mutex>

namespace clavora::platform {

class FakeSystemInfo : public ISystemInfo {
public:
    QByteArray machineId() override {
        std::lock_guard lock(m_mutex);
        return id;
    }
    SystemFacts systemFacts() override {
        std::lock_guard lock(m_mutex);
        return facts;
    }
    ProcessorLoad processorLoad() override {
        std::lock_guard lock(m_mutex);
        return load;
    }

    // Set before the object under test asks (it may ask from another thread).
    QByteArray id = "5c1b2a3d4e5f60718293a4b5c6d7e8f9";
    SystemFacts facts{"PRETTY_NAME=\"Test Linux 1\"\nVERSION_ID=\"1\"\n", QStringLiteral("6.1.0-test"),
                      QStringLiteral("x86_64")};
    ProcessorLoad load;

private:
    std::mutex m_mutex;
};

} // namespace clavora::platform
