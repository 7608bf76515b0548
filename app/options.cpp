// The options table and its change path.
#include "app/options.h"

#include "app/settingsstore.h"
#include "app/widgetnames.h"

namespace clavora {

namespace {

const QString On = QStringLiteral("ON");
const QString Off = QStringLiteral("OFF");

} // namespace

const std::array<OptionRow, OptionCount>& optionTable() {
    static const std::array<OptionRow, OptionCount> table = {{
        {Option::MinimizeToSystemTray,
         QStringLiteral("MinimizeToSystemTray"),
         Sense::OnlyOffTurnsOff,
         Off,
         widgetnames::MinimizeToTrayAction,
         QStringLiteral("Minimize to System Tray"),
         {}},
        {Option::MinimizeStartup,
         QStringLiteral("MinimizeStartup"),
         Sense::OnlyOnTurnsOn,
         Off,
         widgetnames::StartMinimizedAction,
         QStringLiteral("Auto Minimize at Startup"),
         {}},
        {Option::HotkeyMode,
         QStringLiteral("HotkeyMode"),
         Sense::OnlyOffTurnsOff,
         QString(),
         widgetnames::HotkeyModeAction,
         QStringLiteral("Hotkey Mode"),
         {}},
        {Option::AllowOverlappingSounds,
         QStringLiteral("AllowOverlappingSounds"),
         Sense::OnlyOffTurnsOff,
         QString(),
         widgetnames::AllowOverlappingAction,
         QStringLiteral("Allow Overlapping Sounds"),
         {}},
        {Option::KeyboardLayout,
         QStringLiteral("KeyboardLayout"),
         Sense::Choice,
         QString(),
         nullptr,
         QStringLiteral("Keyboard Layout"),
         {{LayoutStandard, widgetnames::StandardLayoutAction, QStringLiteral("Standard")},
          {LayoutNumPad, widgetnames::NumPadLayoutAction, QStringLiteral("NumPad")}}},
        {Option::MatrixDisplay,
         QStringLiteral("MatrixDisplay"),
         Sense::OnlyOffTurnsOff,
         QString(),
         widgetnames::MatrixDisplayAction,
         QStringLiteral("Matrix Display"),
         {}},
        {Option::VoiceOutput,
         QStringLiteral("VoiceOutput"),
         Sense::OnlyOnTurnsOn,
         Off,
         widgetnames::PlayIntoMicrophoneAction,
         QStringLiteral("Play into Microphone"),
         {}},
        {Option::PressAgainToStop,
         QStringLiteral("PressAgainToStop"),
         Sense::OnlyOnTurnsOn,
         Off,
         widgetnames::PressAgainToStopAction,
         QStringLiteral("Press Again to Stop"),
         {}},
        {Option::EvenLoudness,
         QStringLiteral("EvenLoudness"),
         Sense::OnlyOnTurnsOn,
         Off,
         widgetnames::EvenLoudnessAction,
         QStringLiteral("Even Out Loudness"),
         {}},
    }};
    return table;
}

const OptionRow& optionRow(Option option) {
    return optionTable()[size_t(option)];
}

QString onOff(bool on) {
    return on ? On : Off;
}

QString interpretStoredValue(const OptionRow& row, const QString& stored) {
    switch (row.sense) {
    case Sense::OnlyOnTurnsOn:
        return onOff(stored == On);
    case Sense::OnlyOffTurnsOff:
        return onOff(stored != Off);
    case Sense::Choice:
        for (const OptionChoice& choice : row.choices) {
            if (stored == choice.value) {
                return choice.value;
            }
        }
        return row.choices.first().value;
    }
    return stored;
}

Options::Options(SettingsStore& store, QObject* parent) : QObject(parent), m_store(store) {
    load();
}

void Options::load() {
    for (const OptionRow& row : optionTable()) {
        m_values[size_t(row.option)] =
            interpretStoredValue(row, m_store.readString(SettingsSection, row.key, row.defaultValue));
    }
}

QString Options::language() const {
    return m_store.readString(SettingsSection, LanguageKey, QString());
}

Status Options::setLanguage(const QString& language) {
    m_store.writeString(SettingsSection, LanguageKey, language);
    return m_store.updateFile();
}

QString Options::outputDevice() const {
    return m_store.readString(SettingsSection, OutputDeviceKey, QString());
}

Status Options::setOutputDevice(const QString& name) {
    m_store.writeString(SettingsSection, OutputDeviceKey, name);
    return m_store.updateFile();
}

Status Options::set(Option option, const QString& value) {
    const OptionRow& row = optionRow(option);
    m_values[size_t(option)] = interpretStoredValue(row, value);
    emit changed(option);
    m_store.writeString(SettingsSection, row.key, m_values[size_t(option)]);
    return m_store.updateFile();
}

} // namespace clavora
