// Keys typed into the focused main window.
#include "input/focusedkeys.h"

#include <Qt>

namespace clavora::input {

namespace vk = platform::vk;

int functionKeyCode(int qtKey) {
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) {
        return vk::F1 + (qtKey - Qt::Key_F1);
    }
    return 0;
}

void playFunctionKeyBindings(int virtualKey, const KeyMap& keyMap, const PlaySound& play) {
    if (virtualKey < vk::F1 || virtualKey > vk::F12) {
        return;
    }
    playBindingsFor(QString(QLatin1Char('F') + QString::number(virtualKey - (vk::F1 - 1))), keyMap, play);
}

void playTypedBindings(const QString& typed, const KeyMap& keyMap, const PlaySound& play) {
    if (typed.isEmpty()) {
        return;
    }
    playBindingsFor(typed, keyMap, play);
}

bool mayBePlayedByFocusedWindow(int virtualKey, const platform::KeyStateSnapshot& keys) {
    if (virtualKey > vk::F1 && virtualKey <= vk::F12) {
        return true;
    }
    if (virtualKey == vk::F1) {
        return keys.isDown(vk::Shift) || keys.isDown(vk::Control) || keys.isDown(vk::Menu) || keys.isDown(vk::LWin) ||
               keys.isDown(vk::RWin);
    }
    const bool letter = virtualKey >= vk::LetterA && virtualKey <= vk::LetterZ;
    if (letter || virtualKey == vk::Space) {
        // Ctrl makes these type a control character (Ctrl+A is U+0001, Ctrl+Space U+0000) instead of themselves.
        return !keys.isDown(vk::Control);
    }
    const bool digit = (virtualKey >= vk::Digit0 && virtualKey <= vk::Digit0 + 9) ||
                       (virtualKey >= vk::Numpad0 && virtualKey <= vk::Numpad0 + 9);
    switch (virtualKey) {
    case vk::Multiply:
    case vk::Add:
    case vk::Subtract:
    case vk::Decimal:
    case vk::Divide:
    case vk::Oem3:
        return true;
    default:
        return digit;
    }
}

} // namespace clavora::input
