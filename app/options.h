// The options kept in settings.ini: one table that says, for each, its key, how a stored value is read, its default
// and the menu item that shows it; and the one path through which an option changes.
#pragma once

#include "platform/status.h"

#include <QList>
#include <QObject>
#include <QString>

#include <array>

namespace clavora {

class SettingsStore;

inline const QString SettingsSection = QStringLiteral("Settings");
inline const QString LayoutStandard = QStringLiteral("Standard");
inline const QString LayoutNumPad = QStringLiteral("NumPad");
// Beside the options: the language the user confirmed in the language dialog, as a language name ("German").
inline const QString LanguageKey = QStringLiteral("Language");
// Beside the options too: the output the sounds play on, by the name the sound server knows it by; absent for the
// server's default.
inline const QString OutputDeviceKey = QStringLiteral("OutputDevice");

// In the order start-up reads them.
enum class Option {
    MinimizeToSystemTray,
    MinimizeStartup,
    HotkeyMode,
    AllowOverlappingSounds,
    KeyboardLayout,
    MatrixDisplay,
    VoiceOutput,
    PressAgainToStop,
    EvenLoudness
};
inline constexpr int OptionCount = 9;

// How a stored value is read back. The senses differ on purpose and belong to the file format: a hand-edited "off"
// leaves an OnlyOffTurnsOff option on.
enum class Sense {
    OnlyOnTurnsOn,   // exactly "ON" means on, anything else off
    OnlyOffTurnsOff, // exactly "OFF" means off, anything else on
    Choice,          // exactly one of the choices; anything else means the first
};

// One value of a Choice option and the radio item that picks it.
struct OptionChoice {
    QString value;
    const char* actionName;
    QString caption;
};

struct OptionRow {
    Option option;
    QString key;
    Sense sense;
    QString defaultValue;   // what start-up reads when the key is absent
    const char* actionName; // the check item of an on/off option; null for a Choice
    QString caption;
    QList<OptionChoice> choices; // Choice only, the default first
};

// The table, in start-up order.
const std::array<OptionRow, OptionCount>& optionTable();
const OptionRow& optionRow(Option option);

// "ON" or "OFF".
QString onOff(bool on);

// What a stored value means: "ON"/"OFF" for on/off options, one of the choices otherwise.
QString interpretStoredValue(const OptionRow& row, const QString& stored);

// The live options, read from the settings store at start-up. GUI thread only.
class Options : public QObject {
    Q_OBJECT
public:
    explicit Options(SettingsStore& store, QObject* parent = nullptr);

    // Reads every option from the store with its sense and default; writes nothing and signals nothing.
    void load();

    bool isOn(Option option) const { return value(option) == QLatin1String("ON"); }
    // "ON"/"OFF", or the chosen value of a Choice option.
    const QString& value(Option option) const { return m_values[size_t(option)]; }
    const QString& keyboardLayout() const { return value(Option::KeyboardLayout); }

    // The one change path: takes the value at once, lets the listeners apply its side effects (changed), then writes
    // the whole settings file. The value and its side effects stay when the write fails; the status names the file
    // and the system's reason. Setting a value that is already set writes it again.
    Status set(Option option, const QString& value);
    Status setOn(Option option, bool on) { return set(option, onOff(on)); }

    // The language confirmed in the language dialog; empty when none was (start-up then chooses by the locale).
    QString language() const;
    // Keeps Language for the next start and writes the whole settings file; the status as for set().
    Status setLanguage(const QString& language);

    // The output chosen in Settings > Output Device; empty for the default.
    QString outputDevice() const;
    // Keeps the output for the next start and writes the whole settings file; the status as for set().
    Status setOutputDevice(const QString& name);

signals:
    void changed(clavora::Option option);

private:
    SettingsStore& m_store;
    std::array<QString, OptionCount> m_values;
};

} // namespace clavora
