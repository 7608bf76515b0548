// The keyboard on X11: key state from the X server's key map bits, layout and its locale from XKB.
#pragma once

#include "platform/keyboard.h"

#include <QByteArray>
#include <QStringList>

#include <memory>

namespace clavora::platform {

// Reads the keyboard of one X display over a connection of its own, so the GUI toolkit's event handling never sees
// our XKB notifications. Without a display every key is up and the locale is "xx".
class LinuxKeyboard : public IKeyboard {
public:
    // Display name as for XOpenDisplay; empty means $DISPLAY.
    explicit LinuxKeyboard(const QByteArray& displayName = QByteArray());
    ~LinuxKeyboard() override;
    LinuxKeyboard(const LinuxKeyboard&) = delete;
    LinuxKeyboard& operator=(const LinuxKeyboard&) = delete;

    KeyStateSnapshot snapshot() override;
    QString keyboardLocaleName() override;

    // Whether an X display with XKB was reached.
    bool connected() const;

    // The virtual-key code snapshot() reports for one X keycode with the current layout and Num Lock state; 0 for
    // keycodes with none, or without a display.
    int virtualKeyOf(int keycode);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Marks an X keycode as pressed by the key injector as a keypad digit (Held), or released again: the injector
// switched Num Lock on for that key's events alone, so every LinuxKeyboard of the process names the key as with Num
// Lock on, whatever the lock shows by the time its state is read: while it is held (a poll), and until a key watch
// has taken the notification of its release (which may come well after the injector let the key go).
void setInjectedAsKeypadDigit(int keycode, bool held);
// A key watch took the notification of Keycode's release: a released keypad digit of the injector is forgotten.
void injectedKeyReleaseSeen(int keycode);

// Language-region name of an XKB layout ("us" -> "en-US", "de" + "nodeadkeys" -> "de-DE") from the layout registry;
// "xx" when the layout or its language is unknown. Results are kept, so repeated questions are cheap.
QString localeNameForLayout(const QString& layout, const QString& variant);

// The same, looked up by a layout's human-readable description ("English (US)"), the only name a keymap carries
// when the rules names are missing from the display.
QString localeNameForLayoutDescription(const QString& description);

// The layout and variant of an XKB group from the comma-separated lists of the rules names ("us,de" and ",nodeadkeys"
// with group 1 give "de" and "nodeadkeys"). Groups beyond the list wrap around, as XKB does.
std::pair<QString, QString> layoutOfGroup(const QString& layouts, const QString& variants, int group);

} // namespace clavora::platform
