// The audio engine: sound files opened as streams that play asynchronously, identified by 32-bit handles, each
// probed and decoded once and mixed into every output the engine feeds (the speakers, and the voice chat's
// microphone), each through an SDL device of its own.
//
// Threads: the public methods belong to one controlling thread (the GUI thread) and return at once. An opener thread
// probes each new file; a decode worker reads and decodes ahead into per-stream rings, which every output reads at
// its own pace; each output's device callback only pulls from those rings through the mixer and the limiter and
// never waits on a file, the decoder, a lock or the allocator. A device thread per output owns its device once it
// runs: it closes it after a while without sound (so the sound server can suspend its sink), opens it again for the
// next sound, and notices when the device is lost (the sound server restarted, a headset unplugged) and opens the
// default device again.
#pragma once

#include "audio/audioservices.h"
#include "audio/datasource.h"
#include "audio/mixer.h"
#include "audio/periodtuner.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

namespace clavora::audio {

// The name of the output's stream at a sound server (its application name is "Clavora"), by which the program's
// own volume is found there.
inline constexpr char OutputStreamName[] = "Sound playback";
// The stream of the second output, into the voice chat's microphone: named apart, so the volume slider stays on the
// speakers' stream.
inline constexpr char VoiceStreamName[] = "Sound playback into the microphone";

struct EngineConfig {
    // Output through the default SDL device. Without it nothing is opened and the caller pulls with render(): tests
    // and benchmarks act as the audio thread.
    bool useDevice = true;
    // Asked of the device; the device may run at its own rate, and streams are resampled to the rate it runs at.
    int sampleRate = 44100;
    // Whether the default device's own rate is asked for instead, where the driver tells it: the sound server then
    // has nothing to resample, which saves it work and a little delay.
    bool preferDeviceRate = false;
    int channels = 2;
    // The SDL audio drivers to try, in order and comma-separated ("pipewire,pulseaudio"); empty leaves the choice to
    // SDL. The SDL_AUDIODRIVER environment variable, where set, overrides it. Only the first engine to start in the
    // process chooses: the drivers of the others are those SDL runs by then.
    QByteArray drivers;
    // The output device by the name the audio driver lists it under; empty for the system's default.
    QString deviceName;
    // The name its stream is given at the sound server.
    QByteArray streamName = OutputStreamName;
    // Device buffer, in frames: 10 ms at 44.1 kHz. With an adaptive period, only the size while none is chosen.
    int periodFrames = 441;
    // Whether the period follows what the machine sustains: the device starts at the smallest period of
    // `periodPolicy`, moves a step up when it runs dry, and down again after a quiet while (only while nothing plays:
    // the device is opened again at the new size).
    bool adaptivePeriod = false;
    PeriodPolicy periodPolicy;
    // The clock the timing of the device's callbacks is judged by, in ns; the steady clock when empty. For tests.
    std::function<qint64()> callbackClock;
    // Whether the machine is busy now (see machineBusy and PeriodPolicy::busyPeriod); read from the system when
    // empty. For tests.
    std::function<bool()> machineBusy;
    // Decoded audio kept ready per stream, in frames.
    int streamBufferFrames = 8192;
    // Sounds alive at once (playing, stopped or still opening). Opening one more makes the oldest give way: it is
    // stopped and freed as if free() had been called on it.
    int maxStreams = 1024;
    // Time without any sound after which the output device is closed, so the sound server's sink can suspend; the
    // next sound opens it again. Zero keeps the device open for good.
    std::chrono::milliseconds idleTimeout{30000};
    // Whether start() closes the device again once it has opened (and so proved to work), as if idle: the first sound
    // opens it. Only with an idle timeout.
    bool closedUntilFirstSound = false;
    // Whether a lost device is opened again (by `deviceName`, or the default device). Off for an output that only
    // reached its device through something set around the first opening: opened again it would land elsewhere.
    bool reopenAfterLoss = true;
    // The start of every sound named in prepareSounds() is decoded ahead, this long, and kept in memory within this
    // budget (the least recently played go first). Zero seconds keeps none.
    double headSeconds = 0.3;
    qint64 headBudgetBytes = qint64(32) << 20;
};

// An output of the engine. The main output is the one start() opens; the streams are decoded to its format.
using OutputId = int;
inline constexpr OutputId MainOutput = 0;
inline constexpr OutputId InvalidOutput = -1;
// Outputs an engine feeds at most, the main one included.
inline constexpr int MaxOutputs = 4;

// Where the output stands.
enum class OutputState {
    Stopped, // the engine is not running
    Running, // the device is open and pulling (or, without a device, the caller pulls)
    Paused,  // closed after idleTimeout without sound (or from the start); the next sound opens it again
    Lost,    // the device went away and none can be opened for now; retried every second and at every sound
    Opening, // not running yet: the device is being opened in the background (see startInBackground())
};

// Why a stream could not be made heard.
enum class Unplayable {
    NotASound, // the file is no sound the engine plays: not of an audio format, damaged, or out of its bounds
    NoOutput,  // a sound, played while no output device could be had
};

class AudioEngine {
public:
    // Told the handle and the file of a stream the engine cannot make heard, and why. Runs on one of the engine's
    // threads (never the audio thread) and must not call the engine. The stream is released by then; its handle is
    // dead.
    using UnplayableHandler = std::function<void(quint32 handle, const QString& path, Unplayable why)>;

    // Services: the file system and the thread priority (the fallback player is not the engine's business).
    explicit AudioEngine(const AudioServices& services);
    // Shuts down.
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Set before start(); kept across restarts.
    void setUnplayableHandler(UnplayableHandler handler);

    // Starts the output (and the engine's threads). False when the device cannot be opened; the engine then stays
    // stopped and every open fails. Starting a running engine does nothing and returns true; while an opening in the
    // background is under way it returns false. Blocks while the device opens.
    bool start(const EngineConfig& config = EngineConfig());

    // Starts the output as start() does, without waiting for the device: SDL's audio and the device are opened on a
    // thread of their own, so a sound server that takes the connection and never answers holds up nothing else.
    // Until finishStart() the engine is not running (every open fails, so the caller's fallback takes the sounds)
    // and outputState() is Opening. `openingOver` is called on that thread once the device opened or failed to; it
    // must not call the engine. False (and nothing is started) when the settings are invalid or the engine runs or
    // opens already.
    bool startInBackground(const EngineConfig& config, std::function<void()> openingOver);
    // Waits up to `timeout` for an opening begun by startInBackground() to be over. True when it is.
    bool waitForOpening(std::chrono::milliseconds timeout);
    // Takes up what the opening in the background came to: the engine runs from here on, as after a start() that
    // succeeded. False when the opening failed (the engine is stopped, as after a failed start()) or is not over yet
    // (then nothing changes).
    bool finishStart();

    // Stops every stream, closes the device, ends the engine's threads and releases everything. Handles given out
    // before stay dead. Safe to call when not running. Waits for a file being probed to finish. A device the driver
    // does not let go of within a few seconds (an opening it never answers) is left behind with the engine's
    // threads, which then stay for the life of the process. An opening in the background is waited for as long; one
    // that does not come back by then is left behind in the same way.
    void shutdown();

    bool isRunning() const;
    // The main output's.
    OutputState outputState() const;

    // Opens one more output, fed every stream played from now on, as start() opens the main one (blocking while
    // the device opens): the output settings of `config` (the device, its stream name, the period, the idle time,
    // whether it is opened again after a loss, whether it is pulled) are its own; the format is the main output's
    // (SDL converts where the device runs otherwise), and the engine-wide settings (the streams, the buffers, the
    // sounds decoded ahead, the drivers) are the engine's. Its gain starts at the master gain. InvalidOutput when
    // the engine does not run, the device cannot be opened or MaxOutputs run already. Without a device of the main
    // output's, it has none either and is pulled with render(OutputId...).
    OutputId addOutput(const EngineConfig& config);
    // Closes an output added by addOutput(); what it was playing goes on on the others. Unknown ids are ignored.
    void removeOutput(OutputId output);

    // The format the output runs at (the device's own rate at start; kept when the device is opened again); zero
    // while not running.
    AudioFormat outputFormat() const;
    // Frames the device pulls per period (the one it last ran at while it is closed); 0 while not running.
    int periodFrames() const;
    // Times the device was found to have run dry since start() (counted with an adaptive period only).
    quint64 underruns() const;
    // One line on how the output runs, for the log and the diagnostics: the driver, the format, the period, the
    // underruns, the audio thread's priority and the sounds prepared.
    QString diagnostics() const;
    // The SDL audio driver the device runs on ("pulseaudio", "pipewire", "alsa", "disk", "dummy"...); empty while
    // not running or without a device.
    QString outputDriver() const;

    // Opens a file as a stream, stopped, and returns its handle at once: never 0 and never one given out before. 0
    // when the engine is not running or when `path` is not a regular file. The file is probed on the opener thread;
    // when it turns out not to be decodable the stream dies and the unplayable handler is told. Decoding starts as
    // soon as it is open.
    // A sound prepared ahead (see prepareSounds()) plays from its decoded start in the very next period while its file
    // is opened and decoded behind it; a short one plays from memory alone.
    // `gain` scales the stream's samples alone, on every output, before the output's own gain.
    quint32 openStream(const QString& path, float gain = 1.0f);

    // The sound files likely to be played: their starts are decoded ahead on a thread of the engine's own, in this
    // order, replacing the list asked for before. Kept across restarts. Returns at once. Names are absolute paths,
    // or what Resolve turns into them (an empty string for none) on that thread.
    void prepareSounds(const QStringList& names, std::function<QString(const QString&)> resolve = {});
    // Waits up to TimeoutMs until every sound asked for is prepared (or found undecodable). For tests and benchmarks.
    bool waitUntilPrepared(int timeoutMs);

    // Starts or resumes a stream. False when the handle is dead (freed, ended, unplayable or never given out).
    bool play(quint32 handle);

    // Stops a stream; it is silent from the next device period on and can be resumed. A dead handle is ignored.
    void stop(quint32 handle);

    // Whether the stream was started and is still alive: opening, or with audio left to play on some output. False
    // for a stopped stream and a dead handle; a sound that has just played out may count as playing for a moment
    // longer, until the engine has let go of it.
    bool isPlaying(quint32 handle) const;

    // Stops a stream and releases it; the handle is dead from now on. A dead handle is ignored.
    void free(quint32 handle);

    // Stops and releases every stream: silent from the next device period on, every handle dead.
    void stopAll();

    // Master gain per channel of the main output, applied by the mixer from the next period on. 65535 each at
    // start; kept across restarts.
    void setMasterGain(MasterGain gain);
    MasterGain masterGain() const;
    // Gain per channel of one output (the main one's is the master gain). An unknown output's is full.
    void setOutputGain(OutputId output, MasterGain gain);
    MasterGain outputGain(OutputId output) const;

    // Without a device: mixes the main output's next `frames` frames into `out`, as the device callback would.
    // Never blocks. When there is nothing to pull from (the engine is stopped, or a device does the pulling) `out`
    // gets silence in the channel layout the engine last ran with.
    void render(float* out, int frames);
    // Likewise for one output.
    void render(OutputId output, float* out, int frames);

    // Streams still held (playing, stopped, opening, or ended and not yet released). For tests and benchmarks.
    int heldStreams() const;

    // True when the stream's ring is full or its whole sound is decoded, so render() will not run short of it.
    // False for a dead handle and while the file is still being opened. For tests that pull without a device.
    bool isDecodedAhead(quint32 handle) const;

    // When the stream's first audio went into a device period: the steady clock's time in ns and the number of the
    // period (see periodsRendered()); zeros if not yet or if the handle is dead. For benchmarks.
    struct FirstAudio {
        qint64 nanos = 0;
        quint64 period = 0;
    };
    // The main output's, or another's.
    FirstAudio firstAudio(quint32 handle, OutputId output = MainOutput) const;

    // Device periods an output rendered so far, counting from 1, across reopenings of the device. For benchmarks.
    quint64 periodsRendered(OutputId output = MainOutput) const;

    // Times the device was opened since start(), the first opening included. For tests and benchmarks.
    int deviceOpenings() const;

private:
    struct Core;
    struct Output;
    struct State;
    struct Opening;
    std::unique_ptr<State> makeState(const EngineConfig& config) const;
    // Lets go of a running engine whose device thread does not come back: see shutdown().
    void abandon();
    // Runs the engine on a device opened by Output::openOutput() (or without a device).
    void run(std::unique_ptr<State> state);
    // Lets an output's device thread take it over; the worker takes back what it lets go of from now on.
    void startOutput(Output& output);
    // Ends an output's device thread and takes back its streams. False when the thread does not come back.
    bool endOutput(Output& output);
    void kickOutputs();
    Output* outputAt(OutputId output) const;
    // Ends an opening in the background; one that does not come back in time is left behind.
    void abandonOpening();

    // An opening in the background, until finishStart() takes it up.
    std::shared_ptr<Opening> m_opening;

    AudioServices m_services;

    std::unique_ptr<State> m_state;
    UnplayableHandler m_unplayable;
    // Never reset, so handles are not reused across restarts either.
    quint32 m_nextHandle = 1;
    // Kept across restarts, like the volume the platform remembers.
    MasterGain m_gain;
    QStringList m_soundsToPrepare;
    std::function<QString(const QString&)> m_resolveToPrepare;
    // Channels of the last output, for the silence render() hands out while there is none.
    int m_renderChannels = 0;
};

} // namespace clavora::audio
