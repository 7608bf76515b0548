// What the running program does for other processes: the commands that reach it over the session bus (a second
// start, `clavora --play F5` from the desktop's key bindings, scripts) done by the window and the sound board, and
// what it tells them back (a sound started, the volume or the hotkey mode changed).
#pragma once

#include "platform/instancebus.h"

#include <QObject>

namespace clavora {

class MainWindow;
class Options;
class SoundBoard;

class RemoteControl : public QObject, public platform::IInstanceCommands {
    Q_OBJECT
public:
    // Serves Bus's calls from now on and announces on it what changes; every argument outlives this object, which
    // stops serving when it goes.
    RemoteControl(MainWindow& window, SoundBoard& soundBoard, Options& options, platform::IInstanceBus& bus);
    ~RemoteControl() override;
    RemoteControl(const RemoteControl&) = delete;
    RemoteControl& operator=(const RemoteControl&) = delete;

    void activate() override;
    Status playKey(const QString& keyName) override;
    Status playFile(const QString& path) override;
    void stopAll() override;
    unsigned volume() const override;
    void setVolume(unsigned step) override;
    bool hotkeyMode() const override;
    Status setHotkeyMode(bool on) override;

private:
    MainWindow& m_window;
    SoundBoard& m_soundBoard;
    Options& m_options;
    platform::IInstanceBus& m_bus;
};

} // namespace clavora
