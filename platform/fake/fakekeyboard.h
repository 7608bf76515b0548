// A keyboard for tests: the test presses and releases keys, toggles Caps Lock and picks the layout's locale; the
// fake counts how often it was read.
#pragma once

#include "platform/keyboard.h"

namespace clavora::platform {

class TFakeKeyboard : public IKeyboard {
public:
    TKeyStateSnapshot snapshot() override {
        ++FSnapshots;
        return FState;
    }
    QString keyboardLocaleName() override {
        ++FLocaleQueries;
        return FLocaleName;
    }

    // Presses a side-specific modifier the way the system reports it: its own code and the side-neutral one.
    void press(int virtualKey) {
        FState.setDown(virtualKey);
        if (const int neutral = neutralOf(virtualKey)) {
            FState.setDown(neutral);
        }
    }
    void release(int virtualKey) {
        FState.setDown(virtualKey, false);
        if (const int neutral = neutralOf(virtualKey)) {
            const int other = virtualKey ^ 1; // 160/161, 162/163, 164/165 are pairs
            FState.setDown(neutral, FState.isDown(other));
        }
    }
    void releaseAll() { FState = TKeyStateSnapshot(); }
    void setCapsLockToggled(bool on) { FState.setCapsLockToggled(on); }

    TKeyStateSnapshot FState;
    QString FLocaleName = QStringLiteral("en-US");
    int FSnapshots = 0;
    int FLocaleQueries = 0;

private:
    static int neutralOf(int virtualKey) {
        switch (virtualKey) {
        case vk::LShift:
        case vk::RShift:
            return vk::Shift;
        case vk::LControl:
        case vk::RControl:
            return vk::Control;
        case vk::LMenu:
        case vk::RMenu:
            return vk::Menu;
        default:
            return 0;
        }
    }
};

} // namespace clavora::platform
