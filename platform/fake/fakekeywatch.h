// A key watch for tests: the test sends key events through it as the system would.
#pragma once

#include "platform/keywatch.h"

namespace clavora::platform {

class FakeKeyWatch : public IKeyWatch {
public:
    bool start(KeyHandler handler) override {
        ++starts;
        m_handler = std::move(handler);
        return available;
    }
    void stop() override { m_handler = nullptr; }

    bool running() const { return bool(m_handler); }
    // Tells the handler, if the watch runs, that VirtualKey went down or up.
    void send(int virtualKey, bool down) {
        if (m_handler) {
            m_handler(virtualKey, down);
        }
    }

    bool available = true;
    int starts = 0;

private:
    KeyHandler m_handler;
};

} // namespace clavora::platform
