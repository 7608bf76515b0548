// What the keys of the system's active keyboard layout type, for labelling an on-screen keyboard.
#pragma once

#include "platform/physicalkey.h"

#include <QString>

#include <functional>

namespace clavora::platform {

// The modifiers a caption is looked up with.
struct KeyLevel {
    bool shift = false;
    bool altGr = false;
    bool capsLock = false;

    bool operator==(const KeyLevel&) const = default;
};

class IKeyCaptions {
public:
    virtual ~IKeyCaptions() = default;

    // The text `key` types in the active layout group with `level`: a character (or a few), the spacing form of a
    // dead key ("^" for a dead circumflex), empty when it types nothing visible (control keys, modifiers, keys the
    // layout leaves empty) or there is no keyboard. Keypad keys answer as with Num Lock on. GUI thread. The first call
    // after a change of the keyboard reads the keymap from the display server (a round trip and a compile, a few
    // milliseconds); the others are local look-ups.
    virtual QString keyText(PhysicalKey key, KeyLevel level) = 0;

    // `handler` runs on the GUI thread, from the event loop, after the keymap, the active layout group, the layout
    // names or the Caps Lock state changed; one change may bring several calls. A new handler replaces the previous
    // one; an empty one stops the calls. Never called from inside keyText.
    virtual void setChangeHandler(std::function<void()> handler) = 0;
};

} // namespace clavora::platform
