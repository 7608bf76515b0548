// A key named by its place on the keyboard rather than by what it types: the PC keyboard's set-1 scan code and whether
// the keyboard sends it behind the E0 prefix (the right-hand Ctrl and Alt, the arrows and the navigation block, the
// keypad's divide and Enter). Layout-independent, so "the key right of Tab" is the same key on every layout.
#pragma once

#include <QString>

namespace clavora::platform {

struct PhysicalKey {
    int scanCode = -1;
    bool extended = false;

    bool isValid() const { return scanCode > 0 && scanCode < 128; }
    bool operator==(const PhysicalKey&) const = default;
};

// Well-known keys by scan code.
namespace scan {
inline constexpr int Escape = 1;
inline constexpr int Digit1 = 2;
inline constexpr int Backspace = 14;
inline constexpr int Tab = 15;
inline constexpr int Enter = 28;
inline constexpr int Control = 29;
inline constexpr int LeftShift = 42;
inline constexpr int RightShift = 54;
inline constexpr int Alt = 56;
inline constexpr int Space = 57;
inline constexpr int CapsLock = 58;
inline constexpr int F1 = 59;
inline constexpr int F10 = 68;
inline constexpr int NumLock = 69;
inline constexpr int F11 = 87;
inline constexpr int F12 = 88;
inline constexpr int IsoExtra = 86; // the key between left Shift and Z on 102-key keyboards
} // namespace scan

} // namespace clavora::platform
