// Playing the key map.
#include "app/soundboard.h"

#include "app/options.h"
#include "audio/soundplayer.h"
#include "input/focusedkeys.h"
#include "input/hotkeypoll.h"
#include "keymap/keymap.h"
#include "platform/keyboard.h"

namespace clavora {

SoundBoard::SoundBoard(const KeyMap& keyMap, const Options& options, audio::SoundPlayer& player,
                       platform::IKeyboard& keyboard, QChar decimalSeparator)
    : m_keyMap(keyMap), m_options(options), m_player(player), m_keyboard(keyboard),
      m_decimalSeparator(decimalSeparator) {}

QString SoundBoard::playSoundFile(const QString& fileName) {
    return playBinding(Binding{QString(), fileName}).file;
}

audio::StartedSound SoundBoard::playBinding(const Binding& binding) {
    const QString& fileName = binding.path;
    if (fileName.size() == StopAllToken.size() &&
        QString(fileName).replace(QLatin1Char('\\'), QLatin1Char('/')) == StopAllToken) {
        stopAll();
        return {};
    }
    audio::StartedSound started =
        m_player.play(audio::PlayRequest{fileName, binding.gain}, m_options.isOn(Option::AllowOverlappingSounds));
    if (!started.file.isEmpty() && m_soundStarted) {
        m_soundStarted(started.file);
    }
    return started;
}

void SoundBoard::stopAll() {
    m_player.stopAll();
    m_keyStreams.clear();
}

bool SoundBoard::pressAgainToStop() const {
    return m_options.isOn(Option::PressAgainToStop);
}

void SoundBoard::playStrokes(const std::function<void(const input::PlaySound&)>& walk) {
    if (!pressAgainToStop()) {
        walk([this](const Binding& binding) { playBinding(binding); });
        return;
    }
    QList<Binding> pressed;
    walk([&pressed](const Binding& binding) { pressed << binding; });
    pressKeys(pressed);
}

void SoundBoard::pressKeys(const QList<Binding>& bindings) {
    QStringList keys;
    for (const Binding& binding : bindings) {
        if (!keys.contains(binding.key)) {
            keys << binding.key;
        }
    }
    for (const QString& key : std::as_const(keys)) {
        QList<quint32>& streams = m_keyStreams[key];
        bool stopped = false;
        for (const quint32 stream : std::as_const(streams)) {
            if (m_player.isPlaying(stream)) {
                m_player.stopSound(stream);
                stopped = true;
            }
        }
        streams.clear();
        if (stopped) {
            continue;
        }
        for (const Binding& binding : bindings) {
            if (binding.key != key) {
                continue;
            }
            // Looked up afresh each time: a stop-all binding empties the table.
            const quint32 stream = playBinding(binding).stream;
            if (stream != 0) {
                m_keyStreams[key] << stream;
            }
        }
    }
}

void SoundBoard::playBindingsFor(const QString& keyName) {
    if (!m_options.isOn(Option::HotkeyMode)) {
        return;
    }
    playStrokes([&](const input::PlaySound& play) { input::playBindingsFor(keyName, m_keyMap, play); });
}

Status SoundBoard::playKey(const QString& keyName) {
    const QList<Binding> bindings = m_keyMap.bindingsFor(keyName);
    if (bindings.isEmpty()) {
        return Status::failure(QStringLiteral("No sound is bound to the key \"%1\".").arg(keyName));
    }
    playStrokes([&bindings](const input::PlaySound& play) {
        for (const Binding& binding : bindings) {
            play(binding);
        }
    });
    return Status::success();
}

void SoundBoard::playTypedKey(int qtKey, const QString& text, bool autoRepeat) {
    if (autoRepeat && pressAgainToStop()) {
        // A key held down plays once.
        return;
    }
    playStrokes([&](const input::PlaySound& play) {
        QString played = text;
        if (const int functionKey = input::functionKeyCode(qtKey)) {
            input::playFunctionKeyBindings(functionKey, m_keyMap, play);
            played = QStringLiteral("F") + QString::number(functionKey - (platform::vk::F1 - 1));
        } else {
            input::playTypedBindings(text, m_keyMap, play);
        }
        if (autoRepeat || !m_options.isOn(Option::HotkeyMode)) {
            return;
        }
        for (const QString& name : m_earlyStrokes.windowPlayed(played)) {
            input::playBindingsFor(name, m_keyMap, play);
        }
    });
}

void SoundBoard::pollHotkeys(input::KeyFocus focus) {
    if (!m_options.isOn(Option::HotkeyMode)) {
        return;
    }
    const input::HeldKeys held = pressAgainToStop() ? input::HeldKeys::PlayOnce : input::HeldKeys::Repeat;
    playStrokes([&](const input::PlaySound& play) {
        input::pollHotkeys(m_keyboard, m_decimalSeparator, m_keyMap, focus, play, &m_earlyStrokes, held);
    });
}

void SoundBoard::keyWentDown(int virtualKey, input::KeyFocus focus) {
    if (!m_options.isOn(Option::HotkeyMode)) {
        return;
    }
    const QString locale = m_keyboard.keyboardLocaleName();
    const QStringList names =
        m_earlyStrokes.keyWentDown(virtualKey, m_keyboard.snapshot(), locale, m_decimalSeparator, focus);
    playStrokes([&](const input::PlaySound& play) {
        for (const QString& name : names) {
            input::playBindingsFor(name, m_keyMap, play);
        }
    });
}

void SoundBoard::keyWentUp(int virtualKey) {
    m_earlyStrokes.keyWentUp(virtualKey);
}

void SoundBoard::keyMapChanged() {
    QStringList paths;
    for (const Binding& binding : m_keyMap.rows()) {
        paths << binding.path;
    }
    m_player.setBoundSounds(paths);
}

void SoundBoard::setEvenLoudness(bool on, const QString& cacheFile) {
    m_player.setEvenLoudness(on, cacheFile);
}

QString loudnessCacheFile(const QString& stateFolder) {
    return stateFolder.isEmpty() ? QString() : stateFolder + QLatin1String("/Zemtrak/Clavora/loudness.cache");
}

quint32 SoundBoard::channel() const {
    return m_player.newestStream();
}

} // namespace clavora
