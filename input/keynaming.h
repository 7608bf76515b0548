// Key names: the words the key map uses for keys, made from the state of the keyboard at one instant.
#pragma once

#include "platform/keyboard.h"

#include <QChar>
#include <QString>
#include <QStringList>

namespace clavora::input {

// "STRG" on German keyboard layouts, "CTRL" elsewhere.
QString ctrlKeyName(const QString& keyboardLocale);

// "ALT" on the US English layout only, "AltGr" everywhere else.
QString rightAltKeyName(const QString& keyboardLocale);

// Every name the keys held down in Keys produce, in the order a poll plays them: by rising virtual-key code, and for
// a letter the names of the held modifiers before the letter itself. KeyboardLocale is the active layout's locale
// name ("en-US", "xx"); DecimalSeparator names the keypad decimal key. A name comes once per key that produces it,
// so a held modifier with a letter yields its name twice. WindowHasFocus: the main window holds the keyboard focus,
// so the name of every key its own handlers play (playedByFocusedWindow) is left out; the modifier names a letter
// carries stay, as no handler plays them. Pure: no system access.
QStringList keyNames(const platform::KeyStateSnapshot& keys, const QString& keyboardLocale, QChar decimalSeparator,
                     bool windowHasFocus = false);

// The names one key held down in Keys contributes to keyNames, in the same order: for a letter the held modifiers
// names, then its own name (left out when WindowHasFocus and the window's handlers play it).
QStringList keyNamesOf(int virtualKey, const platform::KeyStateSnapshot& keys, const QString& keyboardLocale,
                       QChar decimalSeparator, bool windowHasFocus = false);

// The name one virtual key produces on its own, without the modifier names a letter carries; empty for keys that
// have none. Letters follow the Shift and Caps Lock state in Keys.
QString keyName(int virtualKey, const platform::KeyStateSnapshot& keys, const QString& keyboardLocale,
                QChar decimalSeparator);

} // namespace clavora::input
