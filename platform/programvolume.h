// The program's own output volume at the system's sound server: the volume of the stream this process plays
// through, as the desktop's mixer shows it, per channel from 0 (silent) to 65535 (full).
#pragma once

#include <QString>
#include <QtGlobal>

namespace clavora::platform {

struct ChannelVolume {
    quint16 left = 0;
    quint16 right = 0;

    friend bool operator==(const ChannelVolume&, const ChannelVolume&) = default;
};

class IProgramVolume {
public:
    virtual ~IProgramVolume() = default;

    // Starts looking for this process's output stream named StreamName at the sound server, and keeps following
    // it: a volume changed by another program is seen, and a stream or server that goes away and comes back is
    // found again. Returns at once; the work happens in the background. Calling it again does nothing. GUI thread.
    virtual void follow(const QString& streamName) = 0;

    // True while the stream is known and its volume can be read and written. Never blocks. GUI thread.
    virtual bool isAvailable() = 0;

    // The stream's last known volume. False, leaving Volume untouched, while unavailable. Never blocks: the value
    // is kept up to date in the background. GUI thread.
    virtual bool read(ChannelVolume& volume) = 0;

    // Asks the sound server for Volume and returns at once; read() gives Volume from now on, until the server
    // reports another change. False, changing nothing, while unavailable. GUI thread.
    virtual bool write(ChannelVolume volume) = 0;

    // Keeps the followed stream on the output (sink) named OutputName: moved there now, and again whenever the
    // stream is made anew or the output comes back after it went away. While that output is missing the stream
    // plays where the server puts it, its default output. Empty: the server's default output (a stream moved before
    // is moved back there). Returns at once. GUI thread.
    virtual void keepOn(const QString& outputName) { (void)outputName; }
};

} // namespace clavora::platform
