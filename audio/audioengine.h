// The audio engine: sound files opened as streams that play asynchronously, identified by 32-bit handles, mixed
// into one output through an SDL device.
//
// Threads: the public methods belong to one controlling thread (the GUI thread). A decode worker reads and decodes
// the files ahead of time into per-stream rings; the device callback only pulls from those rings through the mixer
// and never waits on a file, the decoder, a lock or the allocator. Streams the callback lets go of (ended or freed)
// are destroyed by the worker.
#pragma once

#include "audio/datasource.h"
#include "audio/mixer.h"

#include <QString>

#include <memory>

namespace clavora::audio {

// The name of the output's stream at a sound server (its application name is "Clavora"), by which the program's
// own volume is found there.
inline constexpr char OutputStreamName[] = "Sound playback";

struct EngineConfig {
    // Output through the default SDL device. Without it nothing is opened and the caller pulls with render(): tests
    // and benchmarks act as the audio thread.
    bool useDevice = true;
    // Asked of the device; the device may run at its own rate, and streams are resampled to the rate it runs at.
    int sampleRate = 44100;
    int channels = 2;
    // The output device by the name the audio driver lists it under; empty for the system's default.
    QString deviceName;
    // Device buffer, in frames: 10 ms at 44.1 kHz.
    int periodFrames = 441;
    // Decoded audio kept ready per stream, in frames.
    int streamBufferFrames = 8192;
    // Streams alive at once (playing, stopped or waiting to be released); further opens fail.
    int maxStreams = 1024;
};

class AudioEngine {
public:
    AudioEngine();
    // Shuts down.
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Starts the output (and the decode worker). False when the device cannot be opened; the engine then stays
    // stopped and every open fails. Starting a running engine does nothing and returns true.
    bool start(const EngineConfig& config = EngineConfig());

    // Stops every stream, closes the device, ends the worker and releases everything. Handles given out before stay
    // dead. Safe to call when not running.
    void shutdown();

    bool isRunning() const;

    // The format the output runs at (the device's own rate); zero while not running.
    AudioFormat outputFormat() const;
    // Frames the device pulls per period; 0 while not running.
    int periodFrames() const;
    // The SDL audio driver the device runs on ("pulseaudio", "pipewire", "alsa", "disk", "dummy"...); empty while
    // not running or without a device.
    QString outputDriver() const;

    // Opens a file as a stream, stopped. Returns its handle, never 0 and never one given out before; 0 when the
    // engine is not running, when `path` is not a regular file, or when the file cannot be decoded. Probes the file
    // synchronously (a few reads at its start); decoding starts at once on the worker.
    quint32 openStream(const QString& path);

    // Starts or resumes a stream. False when the handle is dead (freed, ended or never given out).
    bool play(quint32 handle);

    // Stops a stream; it is silent from the next device period on and can be resumed. A dead handle is ignored.
    void stop(quint32 handle);

    // Stops a stream and releases it; the handle is dead from now on. A dead handle is ignored.
    void free(quint32 handle);

    // Stops and releases every stream: silent from the next device period on, every handle dead.
    void stopAll();

    // Master gain per channel, applied by the mixer from the next period on. 65535 each at start.
    void setMasterGain(MasterGain gain);
    MasterGain masterGain() const;

    // Without a device: mixes the next `frames` frames into `out`, as the device callback would. Never blocks.
    // When there is nothing to pull from (the engine is stopped, or a device does the pulling) `out` gets silence in
    // the channel layout the engine last ran with.
    void render(float* out, int frames);

    // Streams still held (playing, stopped, or ended and not yet released). For tests and benchmarks.
    int heldStreams() const;

    // True when the stream's ring is full or its whole sound is decoded, so render() will not run short of it.
    // False for a dead handle. For tests that pull without a device.
    bool isDecodedAhead(quint32 handle) const;

    // When the stream's first audio went into a device period: the steady clock's time in ns and the number of the
    // period (see periodsRendered()); zeros if not yet or if the handle is dead. For benchmarks.
    struct FirstAudio {
        qint64 nanos = 0;
        quint64 period = 0;
    };
    FirstAudio firstAudio(quint32 handle) const;

    // Device periods rendered so far, counting from 1. For benchmarks.
    quint64 periodsRendered() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
    // Never reset, so handles are not reused across restarts either.
    quint32 m_nextHandle = 1;
    // Kept across restarts, like the volume the platform remembers.
    MasterGain m_gain;
    // Channels of the last output, for the silence render() hands out while there is none.
    int m_renderChannels = 0;
};

} // namespace clavora::audio
