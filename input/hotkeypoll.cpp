// Hotkey mode.
#include "input/hotkeypoll.h"

#include "input/focusedkeys.h"
#include "input/keynaming.h"

#include <algorithm>

namespace clavora::input {

namespace vk = platform::vk;

namespace {

// A stroke in the focused window waits this many ticks for the window's handler, and the handler's report waits as
// long for its stroke: the two come over different connections, in either order, within the same turn of the event
// loop or the next one.
constexpr int WaitTicks = 2;

} // namespace

bool EarlyStrokes::takeWindowPlay(const QString& name) {
    const auto play = std::find_if(m_windowPlays.begin(), m_windowPlays.end(),
                                   [&](const WindowPlay& candidate) { return candidate.name == name; });
    if (play == m_windowPlays.end()) {
        return false;
    }
    m_windowPlays.erase(play);
    return true;
}

QStringList EarlyStrokes::keyWentDown(int virtualKey, platform::KeyStateSnapshot keys, const QString& keyboardLocale,
                                      QChar decimalSeparator, KeyFocus focus) {
    if (m_held.isDown(virtualKey)) {
        return {};
    }
    m_held.setDown(virtualKey);
    m_playedEarly.setDown(virtualKey);
    if (focus == KeyFocus::TextEntry) {
        return {};
    }
    keys.setDown(virtualKey);
    if (const int neutral = vk::neutralModifierOf(virtualKey)) {
        keys.setDown(neutral);
    }
    QStringList names = carriedModifierNames(virtualKey, keys, keyboardLocale);
    QString own = keyName(virtualKey, keys, keyboardLocale, decimalSeparator);
    if (own.isEmpty()) {
        return names;
    }
    if (focus == KeyFocus::MainWindow && mayBePlayedByFocusedWindow(virtualKey, keys)) {
        if (takeWindowPlay(own)) {
            m_leftToWindow[size_t(virtualKey)] = own;
        } else {
            m_waiting.push_back(Waiting{virtualKey, std::move(own), 0});
        }
        return names;
    }
    names << std::move(own);
    return names;
}

void EarlyStrokes::keyWentUp(int virtualKey) {
    m_held.setDown(virtualKey, false);
}

QStringList EarlyStrokes::windowPlayed(const QString& name) {
    if (name.isEmpty()) {
        // A dead key, a modifier: nothing was played, and nothing tells which stroke it came from.
        return {};
    }
    const auto same =
        std::find_if(m_waiting.begin(), m_waiting.end(), [&](const Waiting& waiting) { return waiting.name == name; });
    if (same != m_waiting.end()) {
        m_leftToWindow[size_t(same->virtualKey)] = name;
        m_waiting.erase(same);
        return {};
    }
    for (int virtualKey = 0; virtualKey <= 255; ++virtualKey) {
        if (m_held.isDown(virtualKey) && m_leftToWindow[size_t(virtualKey)] == name) {
            return {}; // the keyboard's auto-repeat of a key the window plays
        }
    }
    if (!m_waiting.empty()) {
        // The handler played something else from the oldest stroke that waits (strokes reach it in order): that
        // stroke's name plays now, as in the background, and the next tick leaves the stroke out as played.
        Waiting stroke = std::move(m_waiting.front());
        m_waiting.erase(m_waiting.begin());
        m_playedEarly.setDown(stroke.virtualKey);
        return {stroke.name};
    }
    m_windowPlays.push_back(WindowPlay{name, 0});
    return {};
}

QStringList EarlyStrokes::pollTick(const platform::KeyStateSnapshot& keys, const QString& keyboardLocale,
                                   QChar decimalSeparator, KeyFocus focus, HeldKeys held) {
    QStringList names;
    platform::KeyStateSnapshot skip = m_playedEarly;
    // Strokes the window's handler did not claim in time play as in the background.
    for (auto stroke = m_waiting.begin(); stroke != m_waiting.end();) {
        skip.setDown(stroke->virtualKey);
        if (++stroke->ticks < WaitTicks) {
            ++stroke;
            continue;
        }
        if (focus != KeyFocus::TextEntry) {
            names << stroke->name;
        }
        stroke = m_waiting.erase(stroke);
    }
    for (int virtualKey = 8; virtualKey <= 255; ++virtualKey) {
        if (!keys.isDown(virtualKey)) {
            m_held.setDown(virtualKey, false);
            m_leftToWindow[size_t(virtualKey)].clear();
            continue;
        }
        const bool seen = m_held.isDown(virtualKey);
        m_held.setDown(virtualKey);
        // Played by its notification (its own code only: a side-neutral modifier it also set still counts for the
        // names of other keys), or waiting for the window.
        if (skip.isDown(virtualKey) || focus == KeyFocus::TextEntry || (seen && held == HeldKeys::PlayOnce)) {
            continue;
        }
        names << carriedModifierNames(virtualKey, keys, keyboardLocale);
        QString own = keyName(virtualKey, keys, keyboardLocale, decimalSeparator);
        if (own.isEmpty()) {
            continue;
        }
        if (focus == KeyFocus::MainWindow) {
            QString& leftToWindow = m_leftToWindow[size_t(virtualKey)];
            if (leftToWindow == own) {
                continue;
            }
            if (takeWindowPlay(own)) {
                leftToWindow = own;
                continue;
            }
            if (!seen && mayBePlayedByFocusedWindow(virtualKey, keys)) {
                // A stroke no notification told of: the window's handler may not have had it yet.
                m_waiting.push_back(Waiting{virtualKey, std::move(own), 1});
                continue;
            }
        }
        names << std::move(own);
    }
    m_playedEarly = platform::KeyStateSnapshot();
    for (auto play = m_windowPlays.begin(); play != m_windowPlays.end();) {
        play = ++play->ticks >= WaitTicks ? m_windowPlays.erase(play) : play + 1;
    }
    return names;
}

HotkeyPollResult pollHotkeys(platform::IKeyboard& keyboard, QChar decimalSeparator, const KeyMap& keyMap,
                             KeyFocus focus, const PlaySound& play, EarlyStrokes* strokes, HeldKeys held) {
    HotkeyPollResult result;
    result.keyboardLocale = keyboard.keyboardLocaleName();
    const platform::KeyStateSnapshot keys = keyboard.snapshot();
    if (strokes) {
        result.names = strokes->pollTick(keys, result.keyboardLocale, decimalSeparator, focus, held);
    } else if (focus != KeyFocus::TextEntry) {
        result.names = keyNames(keys, result.keyboardLocale, decimalSeparator);
    }
    for (const QString& name : std::as_const(result.names)) {
        playBindingsFor(name, keyMap, play);
    }
    return result;
}

} // namespace clavora::input
