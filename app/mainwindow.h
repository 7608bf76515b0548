// The main window: the display strip, the volume slider, the keyboard area, the menus and the notification-area
// icon. A view: start-up (app/startup.h) creates the objects it shows and hands them in; its widgets are wired to
// the commands here and to the option table's one change path.
#pragma once

#include "app/options.h"
#include "platform/status.h"

#include <QHash>
#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class QScreen;
class QSlider;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace clavora {

namespace input {
enum class KeyFocus;
}
struct AppContext;
class HotkeyNotice;
class ShortcutHotkeys;
class KeyMap;
class OnScreenKeyboard;
class SoundBoard;
class TextDisplay;
class Translator;
class VolumeControl;
namespace audio {
class SoundPlayer;
}
namespace online {
class UpdateChecker;
}
namespace platform {
class IKeyWatch;
class IProgramVolume;
class Services;
} // namespace platform

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // The window shows Options from the start (check marks, hotkey poll, display strip) and follows their changes;
    // its key events and hotkey ticks go to SoundBoard; Translator gives the texts of its confirmation box. KeyMap is
    // the one SoundBoard plays from: Redefine Keys edits it in place.
    // Services: the system's, for everything the window and its dialogs ask of it.
    MainWindow(platform::Services& services, const AppContext& context, Options& options, KeyMap& keyMap,
               SoundBoard& soundBoard, const Translator& translator, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Creates the matrix display in the top strip, showing "Press any key". Start-up calls it once.
    TextDisplay& createDisplay();
    // Null until createDisplay.
    TextDisplay* display() const { return m_display.get(); }

    // Puts the volume slider in charge of the output as it started: the program's stream at the sound server, the
    // engine's own gain without one, or nothing without audio output. Start-up calls it once, after the output.
    void createVolumeControl(audio::SoundPlayer& player);

    // Starts the update check of this run; Help > Update Notifications becomes usable once it is done. Start-up
    // calls it once, after the language is loaded.
    void startUpdateCheck();
    // Null until startUpdateCheck.
    online::UpdateChecker* updateChecker() const { return m_updateChecker; }

    // Hides the window to the notification area. Without a notification area the icon could never be clicked, so
    // the window is minimized to the task bar instead.
    void hideToTray();
    // Brings the window back from the notification area and removes the icon.
    void restoreFromTray();
    // Shows the window and brings it to the front, from the notification area or the task bar too.
    void activate();
    // The notification-area icon's menu: Show, Stop All Sounds, Hotkey Mode and Exit, in the loaded language. Made
    // the first time it is asked for (the icon asks before it first shows), once the language is loaded.
    QMenu* trayMenu();
    // Run before the program starts its successor (Reset to Defaults, a new language): the session's instance
    // place is given up, so the successor takes it instead of handing itself over to this one.
    void setBeforeRestart(std::function<void()> beforeRestart) { m_beforeRestart = std::move(beforeRestart); }
    // Tests replace the question whether the desktop has a notification area.
    void setTrayAvailability(std::function<bool()> available) { m_trayAvailable = std::move(available); }

    SoundBoard& soundBoard() const { return m_soundBoard; }

    // Shows Settings > "Play into Microphone"; hidden until start-up finds a sound server that can carry it.
    void setVoiceOutputAvailable(bool available);

    // The volume slider's position, 0 (silent) to VolumeSteps (full). Setting it moves the slider, which sets the
    // volume as a move by the user does.
    int volumeStep() const;
    void setVolumeStep(int step);

signals:
    // The slider has moved, whoever moved it.
    void volumeStepChanged(int step);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createMenus();
    void createOnScreenKeyboard(QWidget* area);
    void applyKeyboardLayout();
    // Soundboard > "Stop All Sounds", right after "Redefine Keys...".
    void addStopAllItem(QMenu* soundboard);
    void showOptions();
    void applyOption(Option option);
    // Settings > Output Device: the outputs the sound server lists as the menu opens, the chosen one checked.
    void listOutputDevices();
    void chooseOutputDevice(const QString& name);
    // Keeps the program's stream on the chosen output.
    void applyOutputDevice();
    void watchScreen(QScreen* screen);

    void changeOption(Option option, const QString& value);
    // The Auto Run at Startup item's command, after its mark flipped: the entry written or removed.
    Status toggleAutostart();
    void resetToDefaults();
    void openHelpPage();
    // Soundboard > Redefine Keys...: the modal dialog over the key map and the data folder's keys.db.
    void redefineKeys();
    // The Help menu's dialogs (app/helpdialogs.cpp), each made for one modal showing.
    void openFeedbackDialog();
    void openAboutDialog();
    void openLanguageDialog();
    void onMinimized();
    void onAutoSwitchTimer();
    void pollHotkeys();
    void startKeyWatch();
    // Says, once a run, that hotkey mode hears nothing where the session lets no program read or watch keys.
    void noticeHotkeysUnheard();
    void stopKeyWatch();
    // The window itself holds the keyboard focus, so its key handlers hear what is typed.
    bool hasKeyboardFocus() const;
    // Where the keys go, for hotkey mode: this window, a text field of ours or the Add/Edit Key window, or elsewhere.
    input::KeyFocus keyFocus() const;
    void reloadDisplay();

    platform::Services& m_services;
    const AppContext& m_context;
    Options& m_options;
    KeyMap& m_keyMap;
    SoundBoard& m_soundBoard;
    const Translator& m_translator;
    std::unique_ptr<TextDisplay> m_display;
    std::function<bool()> m_trayAvailable;
    std::function<void()> m_beforeRestart;

    QWidget* m_displayPanel = nullptr;
    QSlider* m_volumeSlider = nullptr;
    OnScreenKeyboard* m_touchKeyboard = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
    QMenu* m_trayMenu = nullptr;
    QAction* m_trayHotkeyAction = nullptr;
    QTimer* m_autoSwitchTimer = nullptr; // started when the window is first shown
    bool m_autoSwitchStarted = false;
    // From a click on the icon until the window is on screen or active again.
    bool m_restoring = false;
    QTimer* m_hotkeyTimer = nullptr;
    // The watch telling of keys as they go down, while hotkey mode is on and the system has one.
    platform::IKeyWatch* m_keyWatch = nullptr;
    HotkeyNotice* m_hotkeyNotice = nullptr;
    // Hotkey mode through the desktop's shortcuts, where keys are not watched.
    ShortcutHotkeys* m_shortcutHotkeys = nullptr;

    std::array<QAction*, OptionCount> m_optionActions{}; // the check items of the on/off options
    QHash<QString, QAction*> m_layoutActions;            // by layout value
    QMenu* m_outputDeviceMenu = nullptr;
    QAction* m_autostartAction = nullptr;

    online::UpdateChecker* m_updateChecker = nullptr;

    // What the slider controls, then the slider's logic that uses it, so the logic goes first.
    std::unique_ptr<platform::IProgramVolume> m_volume;
    std::unique_ptr<VolumeControl> m_volumeControl;
};

// The address of the help page for a product: plain http on the maker's host, path "/help/<slug>/".
QString helpPageUrl(const QString& host, const QString& productName);

} // namespace clavora
