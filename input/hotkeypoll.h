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

// The keys whose stroke was played the moment the system told of it going down, ahead of the poll. The poll stays
// the rule for what a held key does (it plays it again at every tick); it only leaves out, at the first tick that
// sees such a key down, the play that the stroke has had already, so a stroke is heard as often as before, only
// sooner. A key that goes down and up between two ticks, which the poll never sees, is heard once.
class EarlyStrokes {
public:
    // A key went down, per the system's notification. Keys: the keyboard read just now, the key itself down in it
    // (a quick stroke may be over by the time it is read). Returns the names to play now: none for a repeat of a
    // key already down (held since the notification before, or seen by the poll, which played it).
    QStringList keyWentDown(int virtualKey, platform::KeyStateSnapshot keys, const QString& keyboardLocale,
                            QChar decimalSeparator, bool windowHasFocus);
    // A key went up, per the system's notification.
    void keyWentUp(int virtualKey);
    // For a poll that read Keys: the same keys without those whose stroke has played already, and the bookkeeping of
    // the tick (the poll is now what plays the remaining ones, and strokes that ended are forgotten).
    platform::KeyStateSnapshot takePollTick(const platform::KeyStateSnapshot& keys);

private:
    platform::KeyStateSnapshot m_held;        // down since a notification or a poll, until a release
    platform::KeyStateSnapshot m_playedEarly; // played by a notification, not yet seen by a poll
};

// One poll of hotkey mode (the hotkey timer runs it every 50 ms while hotkey mode is on): reads the keyboard's
// layout locale and key state, names every key that is down and plays the bindings of each name in turn.
// DecimalSeparator is the locale's, captured once at start-up. WindowHasFocus: the main window holds the keyboard
// focus, so the keys its own handlers play are left to them (see playedByFocusedWindow) and a key stroke there
// plays once; in the background every name plays. Strokes: the keys played ahead of the poll, left out once; null
// when there are none.
HotkeyPollResult pollHotkeys(platform::IKeyboard& keyboard, QChar decimalSeparator, const KeyMap& keyMap,
                             bool windowHasFocus, const PlaySound& play, EarlyStrokes* strokes = nullptr);

} // namespace clavora::input
