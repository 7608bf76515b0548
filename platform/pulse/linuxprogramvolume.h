// The program's output volume on Linux: the volume of this process's stream (its sink input) at a PulseAudio
// server, or at PipeWire through its PulseAudio interface, followed with libpulse on a mainloop thread of its own.
#pragma once

#include "platform/programvolume.h"

#include <memory>

namespace clavora::platform {

class LinuxProgramVolume : public IProgramVolume {
public:
    // Server: a server address as libpulse takes it ("unix:/path"); empty for the session's own server
    // (PULSE_SERVER, then the usual places). Nothing is contacted before follow().
    explicit LinuxProgramVolume(QString server = QString());
    // Stops the mainloop thread; waits for it, at most for one round of its callbacks.
    ~LinuxProgramVolume() override;
    LinuxProgramVolume(const LinuxProgramVolume&) = delete;
    LinuxProgramVolume& operator=(const LinuxProgramVolume&) = delete;

    void follow(const QString& streamName) override;
    bool isAvailable() override;
    bool read(ChannelVolume& volume) override;
    bool write(ChannelVolume volume) override;
    void keepOn(const QString& outputName) override;

    // How the 0..65535 scale maps onto the server's stream volume: linearly, 65535 being the server's 100 %.
    // Above 100 % (a mixer may boost a stream) reads as 65535. Round trips are exact.
    static quint32 toServerVolume(quint16 volume);
    static quint16 fromServerVolume(quint32 serverVolume);

private:
    struct Backend;
    QString m_server;
    QString m_output;
    std::unique_ptr<Backend> m_backend;
    // Writes are numbered so the background side can tell a stale report from the server apart from a fresh one.
    quint32 m_writes = 0;
};

} // namespace clavora::platform
