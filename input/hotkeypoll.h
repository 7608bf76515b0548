// Hotkey mode: the key map played from the state of the keyboard, whatever window has the focus.
#pragma once

#include "input/bindingplayer.h"
#include "keymap/keymap.h"
#include "platform/keyboard.h"

#include <QChar>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

namespace clavora::input {

// Where the keys go while hotkey mode plays them.
enum class KeyFocus {
    // Another program's window, or none of ours: every name of every key down plays.
    Elsewhere,
    // The main window: its own key handler plays the text a key types (and F2 to F12); what that handler played
    // from a stroke is not played again, every other name plays as in the background.
    MainWindow,
    // A text field of ours or the Add/Edit Key window: the user is typing there, and nothing plays.
    TextEntry,
};

// What the poll does with a key it saw down at the tick before.
enum class HeldKeys {
    // Plays it again at every tick.
    Repeat,
    // Leaves it alone: a key plays once per stroke, however long it is held.
    PlayOnce,
};

// What one poll saw, for callers that show or log it.
struct HotkeyPollResult {
    QString keyboardLocale;
    // The names played, in order.
    QStringList names;
};

// The strokes hotkey mode has heard of, between the system's key notifications, the main window's key handler and
// the ticks of the poll.
//
// A key is played the moment the system tells of it going down, ahead of the poll. The poll stays the rule for what
// a held key does (it plays it again at every tick); it only leaves out, at the first tick that sees such a key down,
// the play that the stroke has had already, so a stroke is heard as often as before, only sooner. A key that goes
// down and up between two ticks, which the poll never sees, is heard once.
//
// With the main window focused, a stroke whose own name that window's handler may play (a key that types a
// character, a function key) waits for the handler: the handler tells what it played (windowPlayed), and the stroke's
// name is left out only when it is that very text ("q" typed with the Q key). Otherwise (Shift+1 typing "!", a
// layout whose digit key types "&", a handler that never got the key) the name plays as it would in the background,
// at the latest at the second tick after the stroke.
class EarlyStrokes {
public:
    // A key went down, per the system's notification. Keys: the keyboard read just now, the key itself down in it
    // (a quick stroke may be over by the time it is read). Returns the names to play now: none for a repeat of a
    // key already down (held since the notification before, or seen by the poll, which played it).
    QStringList keyWentDown(int virtualKey, platform::KeyStateSnapshot keys, const QString& keyboardLocale,
                            QChar decimalSeparator, KeyFocus focus);
    // A key went up, per the system's notification.
    void keyWentUp(int virtualKey);
    // The focused main window's key handler played the bindings of Name for a key stroke it was given: the text the
    // key typed, or "F5" for a function key. Returns the names to play now: the name of a waiting stroke that the
    // handler did not play.
    QStringList windowPlayed(const QString& name);
    // One tick of the poll, which read Keys: the names to play, and the bookkeeping of the tick (strokes that ended
    // are forgotten, a stroke the window did not claim in time plays).
    // Held: what a key held since the tick before does.
    QStringList pollTick(const platform::KeyStateSnapshot& keys, const QString& keyboardLocale, QChar decimalSeparator,
                         KeyFocus focus, HeldKeys held = HeldKeys::Repeat);

private:
    // A stroke in the focused window whose own name waits for the window's handler.
    struct Waiting {
        int virtualKey;
        QString name;
        int ticks;
    };
    // What the window's handler played before the stroke it came from was heard of.
    struct WindowPlay {
        QString name;
        int ticks;
    };
    bool takeWindowPlay(const QString& name);

    platform::KeyStateSnapshot m_held;        // down since a notification or a poll, until a release
    platform::KeyStateSnapshot m_playedEarly; // played by a notification, not yet seen by a poll
    std::vector<Waiting> m_waiting;
    std::vector<WindowPlay> m_windowPlays;
    // Per key held down: the name the window's handler played from its stroke.
    std::array<QString, 256> m_leftToWindow;
};

// One poll of hotkey mode (the hotkey timer runs it every 50 ms while hotkey mode is on): reads the keyboard's
// layout locale and key state, names every key that is down and plays the bindings of each name in turn.
// DecimalSeparator is the locale's, captured once at start-up. Focus: where the keys go. Strokes: what was heard of
// the keys between polls; without it every name of every key down plays, except under TextEntry, where nothing does
// (and MainWindow counts as Elsewhere, as nothing tells what the window played). Held: what a key held since the
// tick before does; only with Strokes, which remember the keys from one tick to the next.
HotkeyPollResult pollHotkeys(platform::IKeyboard& keyboard, QChar decimalSeparator, const KeyMap& keyMap,
                             KeyFocus focus, const PlaySound& play, EarlyStrokes* strokes = nullptr,
                             HeldKeys held = HeldKeys::Repeat);

} // namespace clavora::input
