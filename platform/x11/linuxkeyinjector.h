// Key injection on X11 through the XTest extension.
#pragma once

#include "platform/keyinjector.h"

#include <QByteArray>

#include <memory>

namespace clavora::platform {

// Sends fake key events over a connection of its own. The X keycode of a key is its evdev code plus 8, the keycode
// set of every current X server. Without a display or XTest every sendKey fails.
class LinuxKeyInjector : public IKeyInjector {
public:
    // Display name as for XOpenDisplay; empty means $DISPLAY.
    explicit LinuxKeyInjector(const QByteArray& displayName = QByteArray());
    ~LinuxKeyInjector() override;
    LinuxKeyInjector(const LinuxKeyInjector&) = delete;
    LinuxKeyInjector& operator=(const LinuxKeyInjector&) = delete;

    bool sendKey(PhysicalKey key, bool down, InjectOptions options = {}) override;

    // Whether the display and its XTest extension were reached.
    bool available() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace clavora::platform
