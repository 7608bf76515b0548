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
    return playBinding(Binding{QString(), fileName});
}

QString SoundBoard::playBinding(const Binding& binding) {
    const QString& fileName = binding.path;
    if (fileName.size() == StopAllToken.size() &&
        QString(fileName).replace(QLatin1Char('\\'), QLatin1Char('/')) == StopAllToken) {
        stopAll();
        return {};
    }
    const QString started =
        m_player.play(audio::PlayRequest{fileName, binding.gain}, m_options.isOn(Option::AllowOverlappingSounds));
    if (!started.isEmpty() && m_soundStarted) {
        m_soundStarted(started);
    }
    return started;
}

void SoundBoard::stopAll() {
    m_player.stopAll();
}

void SoundBoard::playBindingsFor(const QString& keyName) {
    if (!m_options.isOn(Option::HotkeyMode)) {
        return;
    }
    input::playBindingsFor(keyName, m_keyMap, [this](const Binding& binding) { playBinding(binding); });
}

Status SoundBoard::playKey(const QString& keyName) {
    const QList<Binding> bindings = m_keyMap.bindingsFor(keyName);
    if (bindings.isEmpty()) {
        return Status::failure(QStringLiteral("No sound is bound to the key \"%1\".").arg(keyName));
    }
    for (const Binding& binding : bindings) {
        playBinding(binding);
    }
    return Status::success();
}

void SoundBoard::playTypedKey(int qtKey, const QString& text, bool autoRepeat) {
    const auto play = [this](const Binding& binding) { playBinding(binding); };
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
}

void SoundBoard::pollHotkeys(input::KeyFocus focus) {
    if (!m_options.isOn(Option::HotkeyMode)) {
        return;
    }
    input::pollHotkeys(
        m_keyboard, m_decimalSeparator, m_keyMap, focus, [this](const Binding& binding) { playBinding(binding); },
        &m_earlyStrokes);
}

void SoundBoard::keyWentDown(int virtualKey, input::KeyFocus focus) {
    if (!m_options.isOn(Option::HotkeyMode)) {
        return;
    }
    const QString locale = m_keyboard.keyboardLocaleName();
    const QStringList names =
        m_earlyStrokes.keyWentDown(virtualKey, m_keyboard.snapshot(), locale, m_decimalSeparator, focus);
    for (const QString& name : names) {
        input::playBindingsFor(name, m_keyMap, [this](const Binding& binding) { playBinding(binding); });
    }
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

quint32 SoundBoard::channel() const {
    return m_player.newestStream();
}

} // namespace clavora
