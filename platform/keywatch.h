// Keys going down and up anywhere on the desktop, told the moment the system sees them, whichever window has the
// focus. Hotkey mode plays a key's first sound from here instead of waiting for its next poll.
#pragma once

#include <functional>

namespace clavora::platform {

class IKeyWatch {
public:
    // VirtualKey: the key's Windows virtual-key code with the active layout, as IKeyboard reports it (side-specific
    // for Shift, Control and Alt); 0 for a key that has none. Down: pressed, or released.
    using KeyHandler = std::function<void(int virtualKey, bool down)>;

    virtual ~IKeyWatch() = default;

    // Starts calling Handler on the GUI thread for every key that goes down or up; a repeat of a held key may come
    // as another "down". Starting again replaces the handler. False when the system cannot watch the keyboard (no
    // display, no raw key events): the caller then has its poll alone. GUI thread.
    virtual bool start(KeyHandler handler) = 0;
    // Stops the calls; nothing after this returns. GUI thread.
    virtual void stop() = 0;
};

} // namespace clavora::platform
