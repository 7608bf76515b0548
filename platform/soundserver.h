// The sound server the program's output reaches, as it answers now: which one it is decides how the audio output
// best talks to it.
#pragma once

#include <QString>

#include <chrono>

namespace clavora::platform {

struct SoundServerInfo {
    bool answers = false;
    QString name;          // as the server calls itself, e.g. "PulseAudio (on PipeWire 0.3.65)"
    bool pipeWire = false; // PipeWire, answering through its PulseAudio interface
    // A PipeWire session manager is connected: without one nothing links a new stream to a device, and a client of
    // PipeWire's own interface would wait for its stream for ever.
    bool sessionManager = false;
};

class ISoundServer {
public:
    virtual ~ISoundServer() = default;

    // Asks the sound server (the one the system's client library finds; never one started for the asking). Waits at
    // most `timeout` for an answer. Any thread.
    virtual SoundServerInfo query(std::chrono::milliseconds timeout) = 0;
};

} // namespace clavora::platform
