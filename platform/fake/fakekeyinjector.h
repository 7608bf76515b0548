// A key injector for tests: records every event it was asked to send; can be made to refuse them.
#pragma once

#include "platform/keyinjector.h"

#include <vector>

namespace clavora::platform {

class FakeKeyInjector : public IKeyInjector {
public:
    struct Event {
        PhysicalKey key;
        bool down = false;
        InjectOptions options;
        bool operator==(const Event&) const = default;
    };

    bool sendKey(PhysicalKey key, bool down, InjectOptions options = {}) override {
        if (!m_available) {
            return false;
        }
        m_events.push_back({key, down, options});
        return true;
    }

    const std::vector<Event>& events() const { return m_events; }
    void clear() { m_events.clear(); }
    void setAvailable(bool available) { m_available = available; }

private:
    std::vector<Event> m_events;
    bool m_available = true;
};

} // namespace clavora::platform
