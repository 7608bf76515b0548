// Playing into calls.
#include "app/voiceoutput.h"

#include "app/application.h"
#include "app/identity.h"
#include "app/options.h"
#include "audio/soundplayer.h"
#include "platform/voicemicrophone.h"

#include <QThread>

namespace clavora {

namespace {

// The audio output learns of the new mix device from the sound server a moment after it is made, in the
// background; on a busy machine it may miss it altogether.
constexpr int DeviceAppearTries = 10;
constexpr unsigned long DeviceAppearPauseMs = 20;

} // namespace

VoiceOutput::VoiceOutput(Options& options, audio::SoundPlayer& player, platform::IVoiceMicrophone& microphone,
                         QObject* parent)
    : QObject(parent), m_options(options), m_player(player), m_microphone(microphone) {}

VoiceOutput::~VoiceOutput() {
    turnOff();
}

bool VoiceOutput::start() {
    platform::IVoiceMicrophone& microphone = m_microphone;
    m_available = microphone.serverReachable();
    if (!m_available) {
        return false;
    }
    microphone.removeLeftovers();
    connect(&m_options, &Options::changed, this, &VoiceOutput::follow, Qt::UniqueConnection);
    follow(Option::VoiceOutput);
    return true;
}

bool VoiceOutput::isActive() const {
    return m_microphone.isCreated();
}

void VoiceOutput::follow(Option option) {
    if (option != Option::VoiceOutput) {
        return;
    }
    if (m_options.isOn(Option::VoiceOutput)) {
        turnOn();
    } else {
        turnOff();
    }
}

void VoiceOutput::turnOn() {
    platform::IVoiceMicrophone& microphone = m_microphone;
    if (microphone.isCreated()) {
        return;
    }
    const Status made = microphone.create();
    if (!made) {
        showApplicationError(made.message());
        return;
    }
    if (!m_player.isRunning()) {
        return; // the microphone still carries the user's voice; the sounds go to the system's player
    }
    for (int attempt = 0; attempt < DeviceAppearTries; ++attempt) {
        if (m_player.startVoiceOutput(microphone.mixDeviceName())) {
            return;
        }
        QThread::msleep(DeviceAppearPauseMs);
    }
    if (std::unique_ptr<platform::IHeld> steered = microphone.steerDefaultOutputToMix()) {
        const bool started = m_player.startVoiceOutput(QString());
        steered.reset();
        // An audio driver that keeps one connection for all its devices ignores the steer: the second output
        // would then play on the speakers once more.
        if (started && microphone.mixHasOurPlayback()) {
            qCInfo(lcApp) << "The sounds reach" << platform::VoiceMicrophoneName << "through the default device";
            return;
        }
        m_player.stopVoiceOutput();
    }
    qCWarning(lcApp) << "The sounds cannot reach" << platform::VoiceMicrophoneName << "on this audio output";
}

void VoiceOutput::turnOff() {
    m_player.stopVoiceOutput();
    m_microphone.remove();
}

} // namespace clavora
