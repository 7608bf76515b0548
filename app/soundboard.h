// Playing the key map: a key typed into the main window, a poll of hotkey mode, one sound file. The window hands its
// key events and the hotkey timer's ticks here; what plays is decided by the key map and the options.
#pragma once

#include "audio/playrequest.h"
#include "input/hotkeypoll.h"
#include "platform/keyboard.h"
#include "platform/status.h"

#include <QChar>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

namespace clavora {

class KeyMap;
class Options;
struct Binding;
namespace audio {
class SoundPlayer;
}

// A key map path that stops every sound instead of playing one. It ends in a folder separator, so it can never name
// a sound file, and is written by hand into keys.db ("Pause|<stop all>/").
inline const QString StopAllToken = QStringLiteral("<stop all>/");

// Where the loudness of the bound sounds is kept, in the user's state folder; empty without one.
QString loudnessCacheFile(const QString& stateFolder);

class SoundBoard {
public:
    // DecimalSeparator: the locale's, captured at start-up, for the name of the keypad's decimal key.
    // Keyboard: what the hotkeys are read from.
    SoundBoard(const KeyMap& keyMap, const Options& options, audio::SoundPlayer& player, platform::IKeyboard& keyboard,
               QChar decimalSeparator);

    // Plays one binding's sound, stopping the previous one first unless overlapping sounds are allowed. The
    // stop-all token (with either folder separator) as its path stops every sound instead. Returns the file and the
    // stream it started; none when the binding stopped every sound.
    audio::StartedSound playBinding(const Binding& binding);
    // Plays one sound file as a binding of it would. Returns the file found, or an empty string when there is none.
    QString playSoundFile(const QString& fileName);
    // Stops every sound playing, the system player's too where it can be stopped.
    void stopAll();
    // Plays the bindings of one key name of hotkey mode; nothing while hotkey mode is off.
    void playBindingsFor(const QString& keyName);
    // Plays the bindings of one key name, in their order in the key map, as a press of the key in the focused window
    // would, hotkey mode or not: for a caller outside the program. Fails when no binding has that name.
    Status playKey(const QString& keyName);
    // Called with the sound file each time a sound starts (or goes to the system's player), whatever started it.
    void setSoundStartedListener(std::function<void(const QString& file)> listener) {
        m_soundStarted = std::move(listener);
    }
    // Every path below plays key strokes. With Press Again to Stop on, a key whose sounds are still playing when it
    // goes down again stops them instead of playing, and a key held down plays once, not at every tick of the poll
    // or repeat of the keyboard.
    //
    // A key typed into the focused main window: F1 to F12 by their key code, every other key by the text it types.
    // AutoRepeat: the keyboard's repeat of a key held down. In hotkey mode the poll is told what was played, so it
    // plays the stroke's other names and not this one again.
    void playTypedKey(int qtKey, const QString& text, bool autoRepeat = false);
    // One tick of the hotkey timer; nothing while hotkey mode is off. Focus: where the keys go (see KeyFocus).
    void pollHotkeys(input::KeyFocus focus);
    // The system told of a key going down or up, whatever window has the focus: a key that went down plays its
    // bindings now (hotkey mode on), and the next tick of the poll leaves that stroke out. Focus as for pollHotkeys.
    void keyWentDown(int virtualKey, input::KeyFocus focus);
    void keyWentUp(int virtualKey);

    // The key map was loaded or changed: the starts of its sounds are decoded ahead (and measured, with even
    // loudness on).
    void keyMapChanged();
    // Even Out Loudness (see audio::SoundPlayer::setEvenLoudness()); CacheFile keeps the measurements.
    void setEvenLoudness(bool on, const QString& cacheFile);

    // Handle of the newest stream; 0 when there is none.
    quint32 channel() const;

private:
    // Runs Walk, which hands the bindings of some key strokes to the PlaySound it is given: played one by one, or,
    // with Press Again to Stop on, gathered per key name and played or stopped per key (see pressKeys()).
    void playStrokes(const std::function<void(const input::PlaySound&)>& walk);
    // Per key name among Bindings, in the order the names first come: stops what the key started when any of it
    // still plays, otherwise plays the key's bindings and remembers their streams.
    void pressKeys(const QList<Binding>& bindings);
    bool pressAgainToStop() const;

    const KeyMap& m_keyMap;
    const Options& m_options;
    audio::SoundPlayer& m_player;
    platform::IKeyboard& m_keyboard;
    QChar m_decimalSeparator;
    input::EarlyStrokes m_earlyStrokes;
    std::function<void(const QString&)> m_soundStarted;
    // The streams each key name started last, for Press Again to Stop.
    QHash<QString, QList<quint32>> m_keyStreams;
};

} // namespace clavora
