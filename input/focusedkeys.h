// Keys typed into the main window while it has the focus: function keys by their key code, every other key by the
// character it types.
#pragma once

#include <QChar>
#include <QStringList>

#include "input/hotkeys.h"

namespace clavora::input {

// The virtual-key code (112 to 123) of a Qt key code from Qt::Key_F1 to Qt::Key_F12; 0 for every other key.
int FunctionKeyCode(int qtKey);

// Key-down in the focused window: for F1 to F12 (virtual-key codes 112 to 123) plays every binding named exactly
// "F1" to "F12"; every other code plays nothing. Modifiers play no part.
void PlayFunctionKeyBindings(int virtualKey, const QStringList& keyList, const TPlaySound& play);

// A character typed in the focused window: plays every binding whose key name starts with that UTF-16 code unit
// (letter case included); bindings with an empty key name never play.
void PlayCharacterBindings(QChar character, const QStringList& keyList, const TPlaySound& play);

} // namespace clavora::input
