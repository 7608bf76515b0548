// Hotkey mode: the key list played from the state of the keyboard, whatever window has the focus.
#pragma once

#include "platform/keyboard.h"

#include <QChar>
#include <QString>
#include <QStringList>

#include <functional>

namespace clavora::input {

// Plays one sound file; given the path part of a binding line exactly as stored.
using TPlaySound = std::function<void(const QString& path)>;

// Plays every binding of KeyList whose key name is exactly Name (letter case included), in list order; nothing when
// hotkey mode is off. The list's length is read again before each line, so a list that changes under a playing
// callback is walked without running past its end.
void KeystrokeEkle(const QString& name, const QStringList& keyList, bool hotkeyMode, const TPlaySound& play);

// The result of one poll, for callers that show or log it.
struct THotkeyPollResult {
    QString keyboardLocale;
    QStringList names;
};

// One poll of hotkey mode: reads the keyboard's layout locale and key state, names every key that is down and plays
// the bindings of each name in turn. DecimalSeparator is the locale's, captured once at start-up.
THotkeyPollResult HotkeyPoll(platform::IKeyboard& keyboard, QChar decimalSeparator, const QStringList& keyList,
                             bool hotkeyMode, const TPlaySound& play);

} // namespace clavora::input
