// The options kept in settings.ini.
#include "app/options.h"

#include "app/settingsini.h"

namespace clavora {

namespace {

const QString On = QStringLiteral("ON");
const QString Off = QStringLiteral("OFF");

} // namespace

TOptions ReadOptions(const TSettingsIni& settings) {
    TOptions options;
    options.MinimizeToSystemTray = settings.readString(SettingsSection, KeyMinimizeToSystemTray, Off) != Off;
    options.MinimizeStartup = settings.readString(SettingsSection, KeyMinimizeStartup, Off) == On;
    options.HotkeyMode = settings.readString(SettingsSection, KeyHotkeyMode, QString()) != Off;
    options.AllowOverlappingSounds = settings.readString(SettingsSection, KeyAllowOverlappingSounds, QString()) != Off;
    options.KeyboardLayout =
        settings.readString(SettingsSection, KeyKeyboardLayout, QString()) == LayoutNumPad ? LayoutNumPad : LayoutStandard;
    options.MatrixDisplay = settings.readString(SettingsSection, KeyMatrixDisplay, QString()) != Off;
    return options;
}

QString OnOff(bool on) { return on ? On : Off; }

} // namespace clavora
