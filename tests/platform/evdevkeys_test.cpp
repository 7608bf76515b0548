// Scan codes to evdev and X keycodes: the keys the on-screen keyboard sends must land on the right X keys.
#include "platform/x11/evdevkeys.h"

#include <gtest/gtest.h>

namespace clavora::platform {
namespace {

TEST(EvdevKeys, ScanCodesMapToTheKeysTheyName) {
    struct Case {
        int scanCode;
        bool extended;
        int evdev;
        const char* name;
    };
    const Case cases[] = {
        {0x01, false, 1, "Escape"},
        {0x1E, false, 30, "A"},
        {0x56, false, 86, "the 102nd key"},
        {0x57, false, 87, "F11"},
        {0x58, false, 88, "F12"},
        {0x45, false, 69, "Num Lock"},
        {0x4C, false, 76, "keypad 5"},
        {0x53, false, 83, "keypad decimal point"},
        {0x53, true, 111, "Delete"},
        {0x1C, false, 28, "Enter"},
        {0x1C, true, 96, "keypad Enter"},
        {0x1D, true, 97, "right Ctrl"},
        {0x35, true, 98, "keypad divide"},
        {0x38, true, 100, "right Alt"},
        {0x48, true, 103, "Up"},
        {0x4B, true, 105, "Left"},
        {0x4D, true, 106, "Right"},
        {0x50, true, 108, "Down"},
        {0x70, false, 93, "Katakana/Hiragana"},
        {0x73, false, 89, "Ro"},
        {0x79, false, 92, "Henkan"},
        {0x7B, false, 94, "Muhenkan"},
        {0x7D, false, 124, "Yen"},
        {0x54, false, 0, "no key"},
        {0x1E, true, 0, "no extended A"},
        {0, false, 0, "nothing"},
        {-1, false, 0, "no code"},
        {200, false, 0, "beyond the table"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(evdevCodeOf(PhysicalKey{c.scanCode, c.extended}), c.evdev) << c.name;
        EXPECT_EQ(xKeycodeOf(PhysicalKey{c.scanCode, c.extended}), c.evdev == 0 ? 0 : c.evdev + 8) << c.name;
    }
}

} // namespace
} // namespace clavora::platform
