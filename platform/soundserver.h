// The sound server the program's output reaches, as it answers now: which one it is decides how the audio output
// best talks to it.
#pragma once

#include <QList>
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

// One output (a sink) of the sound server: the name it is known by, which stays, and the description it shows.
struct SoundOutput {
    QString name;
    QString description;

    bool operator==(const SoundOutput&) const = default;
};

class ISoundServer {
public:
    virtual ~ISoundServer() = default;

    // The outputs the sound server lists now, in its order; none without a server or when it does not answer within
    // `timeout`. Any thread.
    virtual QList<SoundOutput> outputs(std::chrono::milliseconds timeout) {
        (void)timeout;
        return {};
    }

    // Asks the sound server (the one the system's client library finds; never one started for the asking). Waits at
    // most `timeout` for an answer. Any thread.
    virtual SoundServerInfo query(std::chrono::milliseconds timeout) = 0;
};

} // namespace clavora::platform
