// Keys typed into the main window while it has the focus: function keys by their key code, every other key by the
// character it types.
#pragma once

#include "input/bindingplayer.h"
#include "keymap/keymap.h"
#include "platform/keyboard.h"

#include <QString>

namespace clavora::input {

// The virtual-key code (112 to 123) of a Qt key code from Qt::Key_F1 to Qt::Key_F12; 0 for every other key.
int functionKeyCode(int qtKey);

// Key-down in the focused window: for F1 to F12 (virtual-key codes 112 to 123) plays every binding named exactly
// "F1" to "F12"; every other code plays nothing. Modifiers play no part.
void playFunctionKeyBindings(int virtualKey, const KeyMap& keyMap, const PlaySound& play);

// A character typed in the focused window (the key event's text: one UTF-16 unit, or a surrogate pair): plays every
// binding whose key name is exactly that character, letter case included, so "F" never plays "F1" and "S" never
// plays "SHIFT". Empty text plays nothing.
void playTypedBindings(const QString& typed, const KeyMap& keyMap, const PlaySound& play);

// Whether the focused window's own handlers may play the key VirtualKey while the keys in Keys are down: whether a
// stroke of it in the focused window is to wait for what the handler tells it played (see EarlyStrokes).
// - F2 to F12: always (the key-down handler, whatever the modifiers).
// - F1: only with Shift, Ctrl, Alt or a Windows key held; F1 alone is the Online Help shortcut and never reaches the
//   handler.
// - Keys whose name is a character they may type (letters, digits, the keypad's digits and operators and decimal
//   key, the space bar, the grave-accent key): yes, except a letter or the space bar held with Ctrl, which types a
//   control character that no binding names.
// - Every other key (ENTER, TAB, the modifiers themselves, the arrows...) never reaches a handler that plays it.
bool mayBePlayedByFocusedWindow(int virtualKey, const platform::KeyStateSnapshot& keys);

} // namespace clavora::input
