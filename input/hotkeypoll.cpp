// Hotkey mode.
#include "input/hotkeypoll.h"

#include "input/keynaming.h"

namespace clavora::input {

namespace vk = platform::vk;

namespace {

// The side-neutral code a side-specific modifier also sets; 0 for other keys.
int neutralModifierOf(int virtualKey) {
    switch (virtualKey) {
    case vk::LShift:
    case vk::RShift:
        return vk::Shift;
    case vk::LControl:
    case vk::RControl:
        return vk::Control;
    case vk::LMenu:
    case vk::RMenu:
        return vk::Menu;
    default:
        return 0;
    }
}

} // namespace

QStringList EarlyStrokes::keyWentDown(int virtualKey, platform::KeyStateSnapshot keys, const QString& keyboardLocale,
                                      QChar decimalSeparator, bool windowHasFocus) {
    if (m_held.isDown(virtualKey)) {
        return {};
    }
    m_held.setDown(virtualKey);
    m_playedEarly.setDown(virtualKey);
    keys.setDown(virtualKey);
    if (const int neutral = neutralModifierOf(virtualKey)) {
        keys.setDown(neutral);
    }
    return keyNamesOf(virtualKey, keys, keyboardLocale, decimalSeparator, windowHasFocus);
}

void EarlyStrokes::keyWentUp(int virtualKey) {
    m_held.setDown(virtualKey, false);
}

platform::KeyStateSnapshot EarlyStrokes::takePollTick(const platform::KeyStateSnapshot& keys) {
    platform::KeyStateSnapshot remaining = keys;
    for (int virtualKey = 0; virtualKey <= 255; ++virtualKey) {
        const bool down = keys.isDown(virtualKey);
        if (down && m_playedEarly.isDown(virtualKey)) {
            // Its own code only: a side-neutral modifier it also set still counts for the names of other keys.
            remaining.setDown(virtualKey, false);
        } else if (down) {
            m_held.setDown(virtualKey);
        } else {
            m_held.setDown(virtualKey, false);
        }
    }
    m_playedEarly = platform::KeyStateSnapshot();
    return remaining;
}

HotkeyPollResult pollHotkeys(platform::IKeyboard& keyboard, QChar decimalSeparator, const KeyMap& keyMap,
                             bool windowHasFocus, const PlaySound& play, EarlyStrokes* strokes) {
    HotkeyPollResult result;
    result.keyboardLocale = keyboard.keyboardLocaleName();
    platform::KeyStateSnapshot keys = keyboard.snapshot();
    if (strokes) {
        keys = strokes->takePollTick(keys);
    }
    result.names = keyNames(keys, result.keyboardLocale, decimalSeparator, windowHasFocus);
    for (const QString& name : std::as_const(result.names)) {
        playBindingsFor(name, keyMap, play);
    }
    return result;
}

} // namespace clavora::input
