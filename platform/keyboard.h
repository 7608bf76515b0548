// The keyboard as the hotkey poll sees it: which keys are down, expressed in Windows virtual-key codes so that key
// names are the same on every system, and the locale of the active keyboard layout.
#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace clavora::platform {

// Well-known virtual-key codes the program and the system layer agree on.
namespace vk {
inline constexpr int Back = 8;
inline constexpr int Tab = 9;
inline constexpr int Clear = 12;
inline constexpr int Return = 13;
inline constexpr int Shift = 16;
inline constexpr int Control = 17;
inline constexpr int Menu = 18;
inline constexpr int Pause = 19;
inline constexpr int Capital = 20;
inline constexpr int Escape = 27;
inline constexpr int Space = 32;
inline constexpr int Prior = 33;
inline constexpr int Next = 34;
inline constexpr int End = 35;
inline constexpr int Home = 36;
inline constexpr int Left = 37;
inline constexpr int Up = 38;
inline constexpr int Right = 39;
inline constexpr int Down = 40;
inline constexpr int Snapshot = 44;
inline constexpr int Insert = 45;
inline constexpr int Delete = 46;
inline constexpr int Digit0 = 48;
inline constexpr int LetterA = 65;
inline constexpr int LetterZ = 90;
inline constexpr int LWin = 91;
inline constexpr int RWin = 92;
inline constexpr int Apps = 93;
inline constexpr int Sleep = 95;
inline constexpr int Numpad0 = 96;
inline constexpr int Multiply = 106;
inline constexpr int Add = 107;
inline constexpr int Subtract = 109;
inline constexpr int Decimal = 110;
inline constexpr int Divide = 111;
inline constexpr int F1 = 112;
inline constexpr int F12 = 123;
inline constexpr int NumLock = 144;
inline constexpr int Scroll = 145;
inline constexpr int LShift = 160;
inline constexpr int RShift = 161;
inline constexpr int LControl = 162;
inline constexpr int RControl = 163;
inline constexpr int LMenu = 164;
inline constexpr int RMenu = 165;
inline constexpr int Oem3 = 192;

// The side-neutral code that a side-specific modifier also sets (Shift for left and right Shift...); 0 for other keys.
constexpr int neutralModifierOf(int virtualKey) {
    switch (virtualKey) {
    case LShift:
    case RShift:
        return Shift;
    case LControl:
    case RControl:
        return Control;
    case LMenu:
    case RMenu:
        return Menu;
    default:
        return 0;
    }
}
} // namespace vk

// The state of the whole keyboard at one instant. Codes outside 0..255 are never down.
class KeyStateSnapshot {
public:
    bool isDown(int virtualKey) const {
        if (virtualKey < 0 || virtualKey > 255) {
            return false;
        }
        return (m_down[virtualKey >> 6] >> (virtualKey & 63)) & 1u;
    }
    void setDown(int virtualKey, bool down = true) {
        if (virtualKey < 0 || virtualKey > 255) {
            return;
        }
        const std::uint64_t bit = std::uint64_t(1) << (virtualKey & 63);
        m_down[virtualKey >> 6] = down ? (m_down[virtualKey >> 6] | bit) : (m_down[virtualKey >> 6] & ~bit);
    }
    // Caps Lock switched on (its light lit), whether or not the key is held right now.
    bool capsLockToggled() const { return m_capsLockToggled; }
    void setCapsLockToggled(bool on) { m_capsLockToggled = on; }

    bool operator==(const KeyStateSnapshot&) const = default;

private:
    std::array<std::uint64_t, 4> m_down{};
    bool m_capsLockToggled = false;
};

class IKeyboard {
public:
    virtual ~IKeyboard() = default;

    // Which virtual keys are down now, and the Caps Lock toggle. Each physical key is reported under the code Windows
    // gives it with the active layout; the side-neutral Shift, Control and Menu codes (16, 17, 18) are down when
    // either side is. GUI thread; costs one short request to the display server. Without a keyboard, all keys up.
    virtual KeyStateSnapshot snapshot() = 0;

    // Language-region name of the active keyboard layout ("en-US", "de-DE"), "xx" when its language is unknown or
    // there is no keyboard. GUI thread; cheap when the layout has not changed since the last call.
    virtual QString keyboardLocaleName() = 0;
};

} // namespace clavora::platform
