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
// so a held modifier with a letter yields its name twice. Pure: no system access.
QStringList keyNames(const platform::KeyStateSnapshot& keys, const QString& keyboardLocale, QChar decimalSeparator);

// The names one key held down in Keys contributes to keyNames, in the same order: for a letter the held modifiers'
// names, then its own name.
QStringList keyNamesOf(int virtualKey, const platform::KeyStateSnapshot& keys, const QString& keyboardLocale,
                       QChar decimalSeparator);

// The names of the held modifiers that a letter carries before its own name (none for other keys).
QStringList carriedModifierNames(int virtualKey, const platform::KeyStateSnapshot& keys, const QString& keyboardLocale);

// The name one virtual key produces on its own, without the modifier names a letter carries; empty for keys that
// have none. Letters follow the Shift and Caps Lock state in Keys.
QString keyName(int virtualKey, const platform::KeyStateSnapshot& keys, const QString& keyboardLocale,
                QChar decimalSeparator);

} // namespace clavora::input
