// Keys going down and up on X11, from the XInput2 raw key events of the root window.
#pragma once

#include "platform/keywatch.h"
#include "platform/x11/linuxkeyboard.h"

#include <QByteArray>

#include <memory>

class QSocketNotifier;

namespace clavora::platform {

// Raw events reach every client that asks for them, whichever window has the focus and whatever grabs are active,
// and they come without a round trip: a QSocketNotifier on a connection of our own wakes the GUI thread as soon as
// the server writes one. Keycodes become virtual-key codes through a LinuxKeyboard of our own, so the codes are the
// ones the hotkey poll sees.
class LinuxKeyWatch : public IKeyWatch {
public:
    // Display name as for XOpenDisplay; empty means $DISPLAY. The display is opened at the first start().
    explicit LinuxKeyWatch(const QByteArray& displayName = QByteArray());
    ~LinuxKeyWatch() override;
    LinuxKeyWatch(const LinuxKeyWatch&) = delete;
    LinuxKeyWatch& operator=(const LinuxKeyWatch&) = delete;

    bool start(KeyHandler handler) override;
    void stop() override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace clavora::platform
