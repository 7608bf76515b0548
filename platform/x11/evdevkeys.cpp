// Scan codes to evdev key codes.
#include "platform/x11/evdevkeys.h"

#include <linux/input-event-codes.h>

namespace clavora::platform {

int evdevCodeOf(PhysicalKey key) {
    if (!key.isValid()) {
        return 0;
    }
    if (key.extended) {
        switch (key.scanCode) {
        case 0x1C:
            return KEY_KPENTER;
        case 0x1D:
            return KEY_RIGHTCTRL;
        case 0x35:
            return KEY_KPSLASH;
        case 0x37:
            return KEY_SYSRQ;
        case 0x38:
            return KEY_RIGHTALT;
        case 0x47:
            return KEY_HOME;
        case 0x48:
            return KEY_UP;
        case 0x49:
            return KEY_PAGEUP;
        case 0x4B:
            return KEY_LEFT;
        case 0x4D:
            return KEY_RIGHT;
        case 0x4F:
            return KEY_END;
        case 0x50:
            return KEY_DOWN;
        case 0x51:
            return KEY_PAGEDOWN;
        case 0x52:
            return KEY_INSERT;
        case 0x53:
            return KEY_DELETE;
        case 0x5B:
            return KEY_LEFTMETA;
        case 0x5C:
            return KEY_RIGHTMETA;
        case 0x5D:
            return KEY_COMPOSE;
        default:
            return 0;
        }
    }
    if (key.scanCode <= KEY_F12) {
        // Escape (1) to F12 (88), the keypad and the 102nd key (86) included, share their numbers with evdev.
        return key.scanCode == 0x54 || key.scanCode == 0x55 ? 0 : key.scanCode;
    }
    switch (key.scanCode) {
    case 0x70:
        return KEY_KATAKANAHIRAGANA;
    case 0x73:
        return KEY_RO;
    case 0x79:
        return KEY_HENKAN;
    case 0x7B:
        return KEY_MUHENKAN;
    case 0x7D:
        return KEY_YEN;
    default:
        return 0;
    }
}

} // namespace clavora::platform
