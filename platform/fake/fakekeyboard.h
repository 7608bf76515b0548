// A keyboard for tests: the test presses and releases keys, toggles Caps Lock and picks the layout's locale; the
// fake counts how often it was read.
#pragma once

#include "platform/keyboard.h"

namespace clavora::platform {

class FakeKeyboard : public IKeyboard {
public:
    KeyStateSnapshot snapshot() override {
        ++snapshots;
        return state;
    }
    QString keyboardLocaleName() override {
        ++localeQueries;
        return localeName;
    }

    // Presses a side-specific modifier the way the system reports it: its own code and the side-neutral one.
    void press(int virtualKey) {
        state.setDown(virtualKey);
        if (const int neutral = vk::neutralModifierOf(virtualKey)) {
            state.setDown(neutral);
        }
    }
    void release(int virtualKey) {
        state.setDown(virtualKey, false);
        if (const int neutral = vk::neutralModifierOf(virtualKey)) {
            const int other = virtualKey ^ 1; // 160/161, 162/163, 164/165 are pairs
            state.setDown(neutral, state.isDown(other));
        }
    }
    void releaseAll() { state = KeyStateSnapshot(); }
    void setCapsLockToggled(bool on) { state.setCapsLockToggled(on); }

    KeyStateSnapshot state;
    QString localeName = QStringLiteral("en-US");
    int snapshots = 0;
    int localeQueries = 0;
};

} // namespace clavora::platform
