// Hotkey mode through the desktop's shortcuts.
#include "app/shortcuthotkeys.h"

#include "app/soundboard.h"
#include "app/widgetnames.h"
#include "keymap/keymap.h"

#include <QSet>

namespace clavora {

ShortcutHotkeys::ShortcutHotkeys(platform::IGlobalShortcuts& shortcuts, const KeyMap& keyMap, SoundBoard& soundBoard,
                                 QObject* parent)
    : QObject(parent), m_shortcuts(shortcuts), m_keyMap(keyMap), m_soundBoard(soundBoard) {
    m_repeat.setObjectName(QLatin1String(widgetnames::ShortcutRepeatTimer));
    m_repeat.setParent(this);
    m_repeat.setInterval(RepeatIntervalMs);
    connect(&m_repeat, &QTimer::timeout, this, &ShortcutHotkeys::repeat);
}

ShortcutHotkeys::~ShortcutHotkeys() {
    stop();
}

QStringList ShortcutHotkeys::namesOf(const KeyMap& keyMap) {
    // In key-map order; a set keeps a key map of a hundred thousand names from taking quadratic time.
    QStringList names;
    QSet<QString> seen;
    for (const Binding& binding : keyMap.rows()) {
        if (!binding.key.isEmpty() && !seen.contains(binding.key)) {
            seen.insert(binding.key);
            names.append(binding.key);
        }
    }
    return names;
}

void ShortcutHotkeys::start() {
    if (m_running) {
        return;
    }
    m_running = true;
    if (!m_bindQueued) {
        m_bindQueued = true;
        QMetaObject::invokeMethod(this, &ShortcutHotkeys::bindNow, Qt::QueuedConnection);
    }
}

void ShortcutHotkeys::bindNow() {
    m_bindQueued = false;
    if (!m_running) {
        return;
    }
    m_bound = namesOf(m_keyMap);
    m_running = m_shortcuts.bind(m_bound, [this](const QString& name, bool down) { shortcut(name, down); });
}

void ShortcutHotkeys::stop() {
    m_repeat.stop();
    m_held.clear();
    if (m_running) {
        m_running = false;
        m_shortcuts.unbind();
    }
}

void ShortcutHotkeys::keyMapChanged() {
    if (!m_running || m_bindQueued) {
        return;
    }
    const QStringList names = namesOf(m_keyMap);
    if (names == m_bound) {
        return;
    }
    m_bound = names;
    // A held shortcut whose name is gone stops repeating.
    m_held.removeIf([&](const QString& name) { return !names.contains(name); });
    if (m_held.isEmpty()) {
        m_repeat.stop();
    }
    m_running = m_shortcuts.bind(m_bound, [this](const QString& name, bool down) { shortcut(name, down); });
}

void ShortcutHotkeys::shortcut(const QString& name, bool down) {
    if (!down) {
        m_held.removeAll(name);
        if (m_held.isEmpty()) {
            m_repeat.stop();
        }
        return;
    }
    // The desktop may repeat an Activated while the key is held: the tick repeats it already.
    if (m_held.contains(name)) {
        return;
    }
    m_held.append(name);
    m_soundBoard.playBindingsFor(name);
    if (!m_repeat.isActive()) {
        m_repeat.start();
    }
}

void ShortcutHotkeys::repeat() {
    for (const QString& name : QStringList(m_held)) {
        m_soundBoard.playBindingsFor(name);
    }
}

} // namespace clavora
