// The virtual microphone on Linux, made of PulseAudio modules through libpulse (PipeWire answers the same calls):
// a null sink holds the voice mix, a remapped source on its monitor is "Clavora Microphone", and a loopback carries
// the default microphone into the mix. Every module carries our process id, so what a dead process left is known.
#pragma once

#include "platform/voicemicrophone.h"

#include <QList>

namespace clavora::platform {

class LinuxVoiceMicrophone : public IVoiceMicrophone {
public:
    // OwnerPid: the process the modules are marked with; 0 for this one. Tests mark them as another's.
    explicit LinuxVoiceMicrophone(qint64 ownerPid = 0);
    ~LinuxVoiceMicrophone() override;
    LinuxVoiceMicrophone(const LinuxVoiceMicrophone&) = delete;
    LinuxVoiceMicrophone& operator=(const LinuxVoiceMicrophone&) = delete;

    bool serverReachable() override;
    int removeLeftovers() override;
    Status create() override;
    void remove() override;
    bool isCreated() const override { return m_shared || !m_modules.isEmpty(); }
    QString mixDeviceName() const override;
    // Through PULSE_SINK, which libpulse reads when a connection is made.
    std::unique_ptr<IHeld> steerDefaultOutputToMix() override;
    bool mixHasOurPlayback() override;

private:
    qint64 m_ownerPid;
    QList<quint32> m_modules; // in the order they were loaded
    bool m_shared = false;    // another running instance's microphone, played into but not ours to remove
};

// The sink that holds the voice mix and the source that is the microphone, by their names at the sound server.
inline const QString VoiceMixSinkName = QStringLiteral("clavora_voice_mix");
inline const QString VoiceSourceName = QStringLiteral("clavora_microphone");
// The description of the voice mix sink, under which the audio output lists it.
inline const QString VoiceMixDescription = QStringLiteral("Clavora Voice Mix");
// The property every module of ours carries in its arguments, with the owning process id as its value.
inline const QString VoiceOwnerProperty = QStringLiteral("clavora.owner");

} // namespace clavora::platform
