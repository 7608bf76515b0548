// The options kept in settings.ini: their keys, their defaults and how stored values are read at start-up.
#pragma once

#include <QString>

namespace clavora {

class TSettingsIni;

inline const QString SettingsSection = QStringLiteral("Settings");
inline const QString KeyMinimizeToSystemTray = QStringLiteral("MinimizeToSystemTray");
inline const QString KeyMinimizeStartup = QStringLiteral("MinimizeStartup");
inline const QString KeyHotkeyMode = QStringLiteral("HotkeyMode");
inline const QString KeyAllowOverlappingSounds = QStringLiteral("AllowOverlappingSounds");
inline const QString KeyKeyboardLayout = QStringLiteral("KeyboardLayout");
inline const QString KeyMatrixDisplay = QStringLiteral("MatrixDisplay");

inline const QString LayoutStandard = QStringLiteral("Standard");
inline const QString LayoutNumPad = QStringLiteral("NumPad");

// The option values as start-up reads them. The senses differ on purpose and belong to the file format: only an
// exact "ON" turns MinimizeStartup on, while for the other on/off keys only an exact "OFF" turns them off, so a
// hand-edited "off" leaves those on.
struct TOptions {
    bool MinimizeToSystemTray = false;
    bool MinimizeStartup = false;
    bool HotkeyMode = true;
    bool AllowOverlappingSounds = true;
    QString KeyboardLayout = LayoutStandard; // "Standard" or "NumPad"
    bool MatrixDisplay = true;
};

TOptions ReadOptions(const TSettingsIni& settings);

// "ON" or "OFF".
QString OnOff(bool on);

} // namespace clavora
