// The start-up sequence: each step settles one thing in a fixed order, from the program's identity to the audio
// output, and hands what it made to the steps after it. run() takes all of them; tests take them one at a time.
#pragma once

#include "app/identity.h"
#include "app/settingsstore.h"
#include "i18n/translator.h"
#include "keymap/keymap.h"
#include "platform/services.h"

#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace clavora {

class MainWindow;
class Options;
class SoundBoard;
class VoiceOutput;
namespace audio {
class SoundPlayer;
}

class Startup {
public:
    // Services: the system's, for every step and everything it makes; they outlive this object. Arguments: the
    // command line without the program name.
    Startup(platform::Services& services, QStringList arguments);
    // Closes the window, takes the virtual microphone away, then shuts the audio output down.
    ~Startup();
    Startup(const Startup&) = delete;
    Startup& operator=(const Startup&) = delete;

    // Every step below, in order.
    void run();

    // 1-3: the program file and the identity from its version information (built-in names where it has none).
    void readIdentity();
    // 4: the data folder.
    void chooseDataFolder();
    // 5: the settings store and the options read from it.
    void openSettings();
    // 6: the locale's formats.
    void captureLocale();
    // 7-8: the main window, showing the options and the autostart state.
    void createWindow();
    // 9: the user-interface language, chosen from the user's locale.
    void loadLanguage();
    // 10: the key map.
    void loadKeyMap();
    // 11: the matrix display, showing "Press any key".
    void createDisplay();
    // 12: the audio output; without it every sound goes to the system's simple player. It opens in the background:
    // waited for a moment, then start-up goes on and sounds go to the simple player until it answers. Once it has
    // opened (or failed to) the two steps after it run, from this call or later from the event loop.
    void startAudio();
    // 13: the volume slider, on the output as it started.
    void startVolumeControl();
    // 14: playing into calls: what a crashed run left at the sound server is removed, and the virtual microphone
    // made when the option is on; its menu item shows when the server answers.
    void startVoiceOutput();
    // 15: the update check of this run.
    void startUpdateCheck();
    // With --diagnostics on the command line: how the audio output runs (its period, its underruns...), written to
    // Out a second after start-up, every ten seconds from then on, and when the program ends.
    void startDiagnostics(std::FILE* out = stdout);

    // Fixed once the step that settles each part has run.
    const AppContext& context() const { return m_context; }
    SettingsStore& settings() { return m_settings; }
    Options& options() { return *m_options; }
    audio::SoundPlayer& player() { return *m_player; }
    SoundBoard& soundBoard() { return *m_soundBoard; }
    const Translator& translator() const { return m_translator; }
    KeyMap& keyMap() { return m_keyMap; }
    MainWindow& window() { return *m_window; }
    VoiceOutput& voiceOutput() { return *m_voiceOutput; }

    platform::Services& services() { return m_services; }

private:
    platform::Services& m_services;
    AppContext m_context;
    SettingsStore m_settings;
    std::unique_ptr<Options> m_options;
    Translator m_translator;
    KeyMap m_keyMap;
    std::unique_ptr<audio::SoundPlayer> m_player;
    std::unique_ptr<SoundBoard> m_soundBoard;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<VoiceOutput> m_voiceOutput;
    QTimer m_diagnosticsTimer;
    std::FILE* m_diagnosticsOut = nullptr;
};

// The command-line switch that has the program report how its audio output runs.
bool isDiagnosticsArgument(const QStringList& arguments);

// Runs the program with its window: start-up, the main window and the event loop, or hands the start over to the
// instance that runs already. Returns the exit code. The command line's other uses (--help, --play...) are the
// executable's own (app/main.cpp).
int runProgram(int argc, char** argv);

} // namespace clavora
