// Scan codes to the key codes of the Linux input layer (evdev), which the X server's usual keycode set takes plus 8.
#pragma once

#include "platform/physicalkey.h"

namespace clavora::platform {

// The evdev code of `key`, 0 when there is none. Plain set-1 codes up to 88 are the evdev codes themselves; the E0
// keys and the Japanese keys live elsewhere.
int evdevCodeOf(PhysicalKey key);

// The X keycode of `key` under the evdev keycode set, 0 when there is none.
inline int xKeycodeOf(PhysicalKey key) {
    const int code = evdevCodeOf(key);
    return code > 0 ? code + 8 : 0;
}

} // namespace clavora::platform
