// Playing into calls: while the "Play into Microphone" option is on, the sound server offers a microphone named
// "Clavora Microphone" that carries the user's own microphone and every sound Clavora plays, at the volume of the
// slider; the sounds go to the normal output as well.
#pragma once

#include "platform/voicemicrophone.h"

#include <QObject>

namespace clavora {

enum class Option;
class Options;
namespace audio {
class SoundPlayer;
}

class VoiceOutput : public QObject {
    Q_OBJECT
public:
    // Microphone: the virtual microphone at the sound server.
    VoiceOutput(Options& options, audio::SoundPlayer& player, platform::IVoiceMicrophone& microphone,
                QObject* parent = nullptr);
    // Takes the microphone away.
    ~VoiceOutput() override;
    VoiceOutput(const VoiceOutput&) = delete;
    VoiceOutput& operator=(const VoiceOutput&) = delete;

    // Asks for the sound server once, removes what a crashed run left there and, when the option is on, makes the
    // microphone; from then on follows the option. Returns whether the server answered, i.e. whether the option
    // is worth offering. Start-up calls it once, after the audio output has started.
    bool start();

    bool isAvailable() const { return m_available; }
    // The microphone is made (the sounds reach it when the voice output opened too).
    bool isActive() const;

private:
    void follow(Option option);
    void turnOn();
    void turnOff();

    Options& m_options;
    audio::SoundPlayer& m_player;
    platform::IVoiceMicrophone& m_microphone;
    bool m_available = false;
};

} // namespace clavora
