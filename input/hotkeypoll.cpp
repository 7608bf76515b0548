// Hotkey mode.
#include "input/hotkeypoll.h"

#include "input/keynaming.h"

namespace clavora::input {

namespace vk = platform::vk;

QStringList EarlyStrokes::keyWentDown(int virtualKey, platform::KeyStateSnapshot keys, const QString& keyboardLocale,
                                      QChar decimalSeparator, bool windowHasFocus) {
    if (m_held.isDown(virtualKey)) {
        return {};
    }
    m_held.setDown(virtualKey);
    m_playedEarly.setDown(virtualKey);
    keys.setDown(virtualKey);
    if (const int neutral = vk::neutralModifierOf(virtualKey)) {
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
