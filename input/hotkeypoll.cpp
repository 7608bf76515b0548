// Hotkey mode.
#include "input/hotkeypoll.h"

#include "input/keynaming.h"

namespace clavora::input {

HotkeyPollResult pollHotkeys(platform::IKeyboard& keyboard, QChar decimalSeparator, const KeyMap& keyMap,
                             bool windowHasFocus, const PlaySound& play) {
    HotkeyPollResult result;
    result.keyboardLocale = keyboard.keyboardLocaleName();
    result.names = keyNames(keyboard.snapshot(), result.keyboardLocale, decimalSeparator, windowHasFocus);
    for (const QString& name : std::as_const(result.names)) {
        playBindingsFor(name, keyMap, play);
    }
    return result;
}

} // namespace clavora::input
