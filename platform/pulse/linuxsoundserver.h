// The sound server as the PulseAudio client library finds it (PulseAudio, or PipeWire through its PulseAudio
// interface).
#pragma once

#include "platform/soundserver.h"

namespace clavora::platform {

class PulseSoundServer : public ISoundServer {
public:
    SoundServerInfo query(std::chrono::milliseconds timeout) override;
    QList<SoundOutput> outputs(std::chrono::milliseconds timeout) override;
};

// Whether a server is there to be found, answering or not yet: $PULSE_SERVER names one (a local socket only when it
// exists), or the user's runtime folder holds the server's socket. A server that takes the connection but is slow to
// answer counts; the client library waits for it.
bool soundServerExpected();

} // namespace clavora::platform
