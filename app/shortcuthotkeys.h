// Hotkey mode through shortcuts the desktop binds on our behalf (where no program may watch keys): one shortcut per
// key name of the key map, a name's bindings played when its shortcut is pressed and again at every tick while it is
// held, as the hotkey poll plays a held key.
#pragma once

#include "platform/globalshortcuts.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

namespace clavora {

class KeyMap;
class SoundBoard;

class ShortcutHotkeys : public QObject {
    Q_OBJECT
public:
    static constexpr int RepeatIntervalMs = 50;

    // The shortcuts, key map and sound board are borrowed and must outlive this.
    ShortcutHotkeys(platform::IGlobalShortcuts& shortcuts, const KeyMap& keyMap, SoundBoard& soundBoard,
                    QObject* parent = nullptr);
    ~ShortcutHotkeys() override;

    // Asks for the key map's shortcuts once control returns to the event loop, so a key map loaded in the same
    // breath (start-up) is the one bound.
    void start();
    // Gives them back; a held shortcut stops repeating.
    void stop();
    bool running() const { return m_running; }
    // The key map changed: its shortcuts are asked for again when its names did.
    void keyMapChanged();

    // The distinct key names of KeyMap, in file order.
    static QStringList namesOf(const KeyMap& keyMap);

private:
    void bindNow();
    void shortcut(const QString& name, bool down);
    void repeat();

    platform::IGlobalShortcuts& m_shortcuts;
    const KeyMap& m_keyMap;
    SoundBoard& m_soundBoard;
    bool m_running = false;
    bool m_bindQueued = false;
    QStringList m_bound;
    QStringList m_held;
    QTimer m_repeat;
};

} // namespace clavora
