// The virtual microphone at the sound server: a mix that sounds are played into, offered to call and recording
// programs as a microphone named "Clavora Microphone", with the user's own microphone mixed in.
#pragma once

#include "platform/process.h"
#include "platform/status.h"

#include <QString>

namespace clavora::platform {

inline const QString VoiceMicrophoneName = QStringLiteral("Clavora Microphone");

class IVoiceMicrophone {
public:
    virtual ~IVoiceMicrophone() = default;

    // Whether a sound server that can carry the microphone answers (PulseAudio, or PipeWire through its PulseAudio
    // interface).
    virtual bool serverReachable() = 0;

    // Removes what a Clavora process that is no longer running left at the server (one that crashed or was
    // killed). Returns how many pieces it removed. What a running instance made is left alone.
    virtual int removeLeftovers() = 0;

    // Makes the microphone; nothing when it is already made. When another running instance made one, that one is
    // shared instead. The failure message is meant for the user. On success mixDeviceName() names the output
    // device sounds are to be played to.
    virtual Status create() = 0;
    // Takes away whatever create() made (a shared one stays); nothing when there is nothing.
    virtual void remove() = 0;
    virtual bool isCreated() const = 0;

    // The name the audio output lists the voice mix under; empty until created.
    virtual QString mixDeviceName() const = 0;

    // While the returned object lives, an audio output this process opens on the default device plays into the
    // mix instead: for an audio driver that has not yet learnt of the mix device under its name (it lists devices
    // in the background). Null when there is no mix.
    virtual std::unique_ptr<IHeld> steerDefaultOutputToMix() = 0;
    // Whether an audio output of this process plays into the mix, as the server sees it.
    virtual bool mixHasOurPlayback() = 0;
};

} // namespace clavora::platform
