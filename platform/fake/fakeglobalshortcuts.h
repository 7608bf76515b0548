// Global shortcuts for tests: the test presses and releases them as the desktop would, and sees what was bound.
#pragma once

#include "platform/globalshortcuts.h"

namespace clavora::platform {

class FakeGlobalShortcuts : public IGlobalShortcuts {
public:
    bool bind(const QStringList& names, Handler handler) override {
        ++binds;
        bound = names;
        m_handler = std::move(handler);
        return available;
    }
    void unbind() override {
        bound.clear();
        m_handler = nullptr;
    }

    // Tells the handler, while shortcuts are bound, that the shortcut Name went down or up.
    void send(const QString& name, bool down) {
        if (m_handler) {
            m_handler(name, down);
        }
    }

    bool available = true;
    int binds = 0;
    QStringList bound;

private:
    Handler m_handler;
};

} // namespace clavora::platform
