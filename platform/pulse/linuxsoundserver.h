// The sound server as the PulseAudio client library finds it (PulseAudio, or PipeWire through its PulseAudio
// interface).
#pragma once

#include "platform/soundserver.h"

namespace clavora::platform {

class PulseSoundServer : public ISoundServer {
public:
    SoundServerInfo query(std::chrono::milliseconds timeout) override;
};

} // namespace clavora::platform
