// Program entry and the main window: the display strip, the volume slider, the keyboard area, the menus, the
// options and the notification-area icon.
#pragma once

#include "app/settingsini.h"

#include <QMainWindow>
#include <QStringList>
#include <memory>

class QAction;
class QActionGroup;
class QMenu;
class QSlider;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace clavora {

class TLumoMatrixDisplay;
class VolumeControl;
namespace platform {
class IProgramVolume;
}
namespace audio {
class TSoundPlayback;
}

// The options store of settings.ini, open from start-up to the end of the process.
extern TSettingsIni SettingsIni;
// The display of the main window and the text last loaded into it.
extern TLumoMatrixDisplay* MatrixDisplay;
extern QString DisplayText;

class TAppForm : public QMainWindow {
    Q_OBJECT
public:
    // Arguments: the program's command line without the program name.
    explicit TAppForm(const QStringList& arguments, QWidget* parent = nullptr);
    ~TAppForm() override;

    // Hides the window to the notification area.
    void SistemTepsisineKucult();
    // Called by the language dialog; it does nothing.
    void SetLanguageFile(const QString& filename);

    // Plays one sound file, stopping the previous one first unless overlapping sounds are allowed.
    void PlaySoundFile(const QString& fileName);
    // Plays the bindings of one key name of hotkey mode.
    void KeystrokeEkle(const QString& basilantus);
    // Handle of the newest stream; 0 when there is none.
    quint32 Channel() const;
    audio::TSoundPlayback& SoundPlayback() { return *FSound; }

    // Controls, by their component names.
    QWidget* Panel1 = nullptr;
    QSlider* TrackBar2 = nullptr;
    QWidget* TouchKeyboard1 = nullptr;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    QTimer* TimerParam = nullptr;
    QTimer* TimerHotkey = nullptr;

    // Menus and their items.
    QMenu* Soundboard1 = nullptr;
    QAction* RedefineKeys1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* View1 = nullptr;
    QAction* MatrixDisplay1 = nullptr;
    QMenu* KeyboardLayout1 = nullptr;
    QAction* Standard1 = nullptr;
    QAction* NumPad1 = nullptr;
    QMenu* Settings1 = nullptr;
    QAction* Autostartatstartup1 = nullptr;
    QAction* StartMinimized1 = nullptr;
    QAction* MinimizetoSystemTray1 = nullptr;
    QAction* AllowOverlappingSounds1 = nullptr;
    QAction* HotkeyMode1 = nullptr;
    QAction* ResettoDefaults1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* Help2 = nullptr;
    QAction* UpdateNotifications1 = nullptr;
    QAction* Language1 = nullptr;
    QAction* SendFeedback1 = nullptr;
    QAction* About1 = nullptr;

    // The on-screen keyboard's layout as chosen ("Standard" or "NumPad").
    const QString& KeyboardLayout() const { return FKeyboardLayout; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateControls();
    void CreateMenus();
    void FormCreate();
    void ReadOptionsAtStartup();

    // Option commands.
    void MinimizetoSystemTray1Click();
    void StartMinimized1Click();
    void AllowOverlappingSounds1Click();
    void HotkeyMode1Click();
    void MatrixDisplay1Click();
    void Standard1Click();
    void NumPad1Click();
    void Autostartatstartup1Click();
    void ResettoDefaults1Click();
    void WriteOption(const QString& key, const QString& value);

    void Help2Click();
    void Exit1Click();
    void TrayIcon1Click();
    void ApplicationEvents1Minimize();
    void FormResize();
    void FormAfterMonitorDpiChanged();
    void TimerParamTimer();
    void TimerHotkeyTimer();
    void FormKeyDown(int key);
    void FormKeyPress(QChar key);

    QStringList FArguments;
    std::unique_ptr<audio::TSoundPlayback> FSound;
    // What the volume slider controls, and the slider's logic; both go before the sound playback they use.
    std::unique_ptr<platform::IProgramVolume> FVolume;
    std::unique_ptr<VolumeControl> FVolumeControl;
    QString FKeyboardLayout;
};

// True when the first command-line argument asks for the minimized start ("/auto", any letter case).
bool IsAutoStartArgument(const QStringList& arguments);

// The address of the help page for a product: plain http on the maker's host, path "/help/<slug>/".
QString HelpPageUrl(const QString& host, const QString& productName);

// Runs the program: start-up, the main window and the event loop. Returns the exit code.
int RunProgram(int argc, char** argv);

} // namespace clavora
