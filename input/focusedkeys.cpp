// Keys typed into the focused main window.
#include "input/focusedkeys.h"

#include "input/bindingline.h"
#include "platform/keyboard.h"

#include <Qt>

namespace clavora::input {

int FunctionKeyCode(int qtKey) {
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) {
        return platform::vk::F1 + (qtKey - Qt::Key_F1);
    }
    return 0;
}

void PlayFunctionKeyBindings(int virtualKey, const QStringList& keyList, const TPlaySound& play) {
    if (virtualKey < platform::vk::F1 || virtualKey > platform::vk::F12 || !play) {
        return;
    }
    const QString name = QStringLiteral("F") + QString::number(virtualKey - (platform::vk::F1 - 1));
    for (qsizetype i = 0; i < keyList.size(); ++i) {
        const QString line = keyList.at(i);
        TBindingLine parts;
        if (SplitBindingLine(line, parts) && parts.key == name) {
            play(parts.path.toString());
        }
    }
}

void PlayCharacterBindings(QChar character, const QStringList& keyList, const TPlaySound& play) {
    if (!play) {
        return;
    }
    for (qsizetype i = 0; i < keyList.size(); ++i) {
        const QString line = keyList.at(i);
        TBindingLine parts;
        if (SplitBindingLine(line, parts) && !parts.key.isEmpty() && parts.key.front() == character) {
            play(parts.path.toString());
        }
    }
}

} // namespace clavora::input
