// Hotkey mode: the key map played from the state of the keyboard, whatever window has the focus.
#pragma once

#include "input/bindingplayer.h"
#include "keymap/keymap.h"
#include "platform/keyboard.h"

#include <QChar>
#include <QString>
#include <QStringList>

namespace clavora::input {

// What one poll saw, for callers that show or log it.
struct HotkeyPollResult {
    QString keyboardLocale;
    // The names played, in order.
    QStringList names;
};

// One poll of hotkey mode (the hotkey timer runs it every 50 ms while hotkey mode is on): reads the keyboard's
// layout locale and key state, names every key that is down and plays the bindings of each name in turn.
// DecimalSeparator is the locale's, captured once at start-up. WindowHasFocus: the main window holds the keyboard
// focus, so the keys its own handlers play are left to them (see playedByFocusedWindow) and a key stroke there
// plays once; in the background every name plays.
HotkeyPollResult pollHotkeys(platform::IKeyboard& keyboard, QChar decimalSeparator, const KeyMap& keyMap,
                             bool windowHasFocus, const PlaySound& play);

} // namespace clavora::input
