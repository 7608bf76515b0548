// Hotkey mode.
#include "input/hotkeys.h"

#include "input/bindingline.h"
#include "input/keynaming.h"

namespace clavora::input {

void KeystrokeEkle(const QString& name, const QStringList& keyList, bool hotkeyMode, const TPlaySound& play) {
    if (!hotkeyMode || !play) {
        return;
    }
    for (qsizetype i = 0; i < keyList.size(); ++i) {
        // A copy: the callback may change the list, and the line's text must outlive that.
        const QString line = keyList.at(i);
        TBindingLine parts;
        if (SplitBindingLine(line, parts) && parts.key == name) {
            play(parts.path.toString());
        }
    }
}

THotkeyPollResult HotkeyPoll(platform::IKeyboard& keyboard, QChar decimalSeparator, const QStringList& keyList,
                             bool hotkeyMode, const TPlaySound& play) {
    THotkeyPollResult result;
    result.keyboardLocale = keyboard.keyboardLocaleName();
    result.names = KeyNames(keyboard.snapshot(), result.keyboardLocale, decimalSeparator);
    for (const QString& name : std::as_const(result.names)) {
        KeystrokeEkle(name, keyList, hotkeyMode, play);
    }
    return result;
}

} // namespace clavora::input
