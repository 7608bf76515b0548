// What the running program does for other processes.
#include "app/remotecontrol.h"

#include "app/mainwindow.h"
#include "app/options.h"
#include "app/soundboard.h"

namespace clavora {

RemoteControl::RemoteControl(MainWindow& window, SoundBoard& soundBoard, Options& options, platform::IInstanceBus& bus)
    : m_window(window), m_soundBoard(soundBoard), m_options(options), m_bus(bus) {
    m_soundBoard.setSoundStartedListener([this](const QString& file) { m_bus.soundStarted(file); });
    connect(&m_window, &MainWindow::volumeStepChanged, this, [this](int step) { m_bus.volumeChanged(unsigned(step)); });
    connect(&m_options, &Options::changed, this, [this](Option option) {
        if (option == Option::HotkeyMode) {
            m_bus.hotkeyModeChanged(m_options.isOn(Option::HotkeyMode));
        }
    });
    m_bus.serve(*this);
}

RemoteControl::~RemoteControl() {
    m_soundBoard.setSoundStartedListener({});
    m_bus.release();
}

void RemoteControl::activate() {
    m_window.activate();
}

Status RemoteControl::playKey(const QString& keyName) {
    return m_soundBoard.playKey(keyName);
}

Status RemoteControl::playFile(const QString& path) {
    if (m_soundBoard.playSoundFile(path).isEmpty()) {
        return Status::failure(QStringLiteral("There is no sound file at \"%1\".").arg(path));
    }
    return Status::success();
}

void RemoteControl::stopAll() {
    m_soundBoard.stopAll();
}

unsigned RemoteControl::volume() const {
    return unsigned(m_window.volumeStep());
}

void RemoteControl::setVolume(unsigned step) {
    m_window.setVolumeStep(int(step));
}

bool RemoteControl::hotkeyMode() const {
    return m_options.isOn(Option::HotkeyMode);
}

Status RemoteControl::setHotkeyMode(bool on) {
    return m_options.setOn(Option::HotkeyMode, on);
}

} // namespace clavora
