// The audio engine: one stream table and one decoder, feeding any number of outputs, each a device with its own
// supervision and its own period render.
//
// Who owns what:
// - The controlling thread (the public methods) owns State::outputs, the list of outputs, and every AudioEngine
//   member. It hands a stream to an output's audio thread through that output's `added` queue.
// - Core (the stream table) is shared by the controlling thread, the opener and the decode worker under
//   Core::mutex, which guards the streams, the handles, the opener's queue, the worker's view of the outputs
//   (Core::outputs) and the fields of a Stream marked "under the mutex". The audio threads never take it.
// - A Stream's atomics carry what the controlling thread wants (playing, freeRequested) and what the worker has
//   done (decodeDone) to the audio threads; its ring is written by the worker and read by every output it was
//   handed to, each through its own cursor (see SampleRing). What one output has played of it (its reader) is that
//   output's audio thread's.
// - Each Output's audio thread (SDL's, running Output::render) owns the output's render state: the active streams,
//   the mix inputs, the limiter, the underrun detector. While the device is closed the output's device thread stands
//   in for it (SDL's thread has ended by then, and a new one starts only after it is done). The audio thread hands
//   a stream it let go of to the worker through the output's `released` queue.
// - Each Output's device thread (Output::deviceLoop) owns the device from run() or addOutput() on: it opens,
//   closes and watches it, and tunes its period. The controlling thread talks to it under Output::deviceMutex.
#include "audio/audioengine.h"

#include "audio/audiolog.h"
#include "audio/ffmpegsource.h"
#include "audio/limiter.h"
#include "audio/ringbuffer.h"
#include "audio/soundheads.h"
#include "platform/filesystem.h"
#include "platform/systeminfo.h"
#include "platform/threadpriority.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace clavora::audio {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Real-time priority asked for the device's thread: above ordinary programs, below the sound server's own threads.
constexpr int AudioThreadPriority = 10;
// How many times, a millisecond apart, a device just opened is looked at for its audio thread: SDL's thread takes its
// name as it starts. A driver without one of its own is given up on after that.
constexpr int AudioThreadLookups = 20;

// Decoded per step of the worker, so a new stream gets its first audio without waiting for others to fill up.
constexpr int DecodeChunkFrames = 1024;
// How often the worker tops up the rings while anything is held.
constexpr auto RefillInterval = 4ms;
// How often the device thread looks at a running device: the longest a lost device goes unnoticed.
constexpr auto DeviceCheckInterval = 100ms;
// A lost device is tried again this often, and at every sound played meanwhile, but not more often than
// ReopenSpacing: a key held in hotkey mode must not turn into a storm of connection attempts.
constexpr auto ReopenInterval = 1000ms;
constexpr auto ReopenSpacing = 100ms;
// How long the end of the engine waits for the device's thread. A closing or opening takes milliseconds; one that the
// driver does not answer (SDL's PipeWire driver waits for ever for a stream nobody links, without a session manager)
// must not hold up the end of the program.
constexpr auto DeviceThreadEndTimeout = 3000ms;
// A smaller period is tried only when no sound has played for this long: the device is opened again for it, which
// would be heard as a gap.
constexpr auto QuietBeforeShrinking = 1000ms;
// Underruns in the first moments of a device are the stream settling in at the server, not the machine's load.
constexpr auto SettlingAfterOpening = 500ms;
// How often an open device without sound looks at the machine's load (an opening always does), and how often the
// load is read meanwhile to judge it by.
constexpr auto LoadCheckInterval = 10s;
constexpr auto LoadReadingInterval = 1000ms;
// A device whose callback has not run for this long is taken as lost even when SDL does not say so. Longer than the
// two seconds a PulseAudio null sink may hold up a new stream.
constexpr auto StallTimeout = 3000ms;

qint64 nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Outputs an engine feeds at most: one reader of every stream's ring each.
static_assert(MaxOutputs <= SampleRing::MaxReaders);

// What one output has played of a stream. The output's audio thread's, but firstAudio, read by the controlling
// thread.
struct StreamReader {
    int headPosition = 0;
    std::atomic<qint64> firstAudio{0};
    std::atomic<quint64> firstAudioPeriod{0};
};

struct Stream {
    Stream(quint32 streamHandle, QString file, float streamGain, int bufferFrames, int channels)
        : handle(streamHandle), path(std::move(file)), gain(streamGain), ring(bufferFrames, channels) {}

    const quint32 handle;
    const QString path;
    const float gain;                    // the mixer's, for this stream's samples
    std::unique_ptr<IDataSource> source; // set by the opener, then the worker's
    // The decoded start, when the sound was prepared: played first, while the source decodes what follows it. Set
    // before the stream is handed to the audio threads and never changed.
    std::shared_ptr<const SoundHead> head;
    int skipFrames = 0; // the worker's: frames of the source already in the head
    SampleRing ring;    // the worker writes, each output it was handed to reads (reader number: the output's slot)
    StreamReader readers[MaxOutputs];
    std::atomic<bool> playing{false}; // set by the controlling thread
    std::atomic<bool> freeRequested{false};
    std::atomic<bool> decodeDone{false}; // set after the last frame is in the ring (or when the file cannot be opened)
    std::atomic<bool> reported{false};   // the unplayable handler has been told about it
    // Under the mutex:
    bool opening = false;    // the opener is working on it outside the lock: not to be destroyed
    bool opened = false;     // the source is set; the worker may decode
    bool openFailed = false; // the file cannot be decoded
    bool submitted = false;  // handed to the audio threads
    int holders = 0;         // outputs it was handed to that have not let go of it yet
    bool letGo = false;      // no audio thread will ever touch it again
};

// SDL counts the users of its audio subsystem itself, so several outputs (and engines, in tests) do not shut it
// under each other.
bool acquireSdlAudio(const QByteArray& drivers) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A hint of normal priority gives way to the environment variable.
    if (drivers.isEmpty()) {
        SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    } else {
        SDL_SetHint(SDL_HINT_AUDIODRIVER, drivers.constData());
    }
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Clavora");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        qCWarning(lcAudio) << "Audio subsystem unavailable:" << SDL_GetError();
        return false;
    }
    return true;
}

void releaseSdlAudio() {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// Opens an SDL output whose stream is named `streamName` at the sound server. SDL's drivers take the name from a
// hint, which is the whole process's: the openings of all outputs (each on a thread of its own) take turns.
SDL_AudioDeviceID openSdlOutput(const QByteArray& streamName, const QByteArray& device, const SDL_AudioSpec& wanted,
                                SDL_AudioSpec& obtained, int allowedChanges) {
    static std::mutex opening;
    std::lock_guard<std::mutex> lock(opening);
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, streamName.isEmpty() ? OutputStreamName : streamName.constData());
    return SDL_OpenAudioDevice(device.isEmpty() ? nullptr : device.constData(), 0, &wanted, &obtained, allowedChanges);
}

quint32 packGain(MasterGain gain) {
    return static_cast<quint32>(gain.left) | (static_cast<quint32>(gain.right) << 16);
}

MasterGain unpackGain(quint32 packed) {
    return MasterGain{static_cast<quint16>(packed & 0xFFFFu), static_cast<quint16>(packed >> 16)};
}

bool validConfig(const EngineConfig& config) {
    if (config.sampleRate <= 0 || config.channels <= 0 || config.periodFrames <= 0 || config.streamBufferFrames <= 0) {
        qCWarning(lcAudio) << "Invalid audio output settings";
        return false;
    }
    return true;
}

// Keeps what an engine left behind (a device thread that does not come back may still use it) for the life of the
// process, and in reach, so it is never taken for memory lost.
template <class T> void keepForGood(std::unique_ptr<T> leftBehind) {
    static std::mutex mutex;
    static auto* kept = new std::vector<std::shared_ptr<void>>();
    std::lock_guard<std::mutex> lock(mutex);
    kept->push_back(std::shared_ptr<T>(std::move(leftBehind)));
}

} // namespace

// The stream table, the opener and the decode worker: everything every output shares.
struct AudioEngine::Core {
    Core(const EngineConfig& engineConfig, const AudioServices& services)
        : config(engineConfig), output{engineConfig.sampleRate, engineConfig.channels}, priority(services.priority),
          files(services.files), systemInfo(services.systemInfo) {
        maxLive = static_cast<size_t>(std::max(1, engineConfig.maxStreams));
        // Room for a burst of sounds giving way (every binding of one key, played in one go) before the audio
        // threads have let go of them.
        maxHeld = maxLive + std::max<size_t>(maxLive, 256);
    }

    const EngineConfig config;
    // The format every stream is decoded to: the main output's, once its device is open.
    AudioFormat output;
    platform::IThreadPriority* const priority;
    platform::IFileSystem* const files;
    platform::ISystemInfo* const systemInfo;
    // Live streams allowed, and streams held at most (live ones plus those the audio threads have yet to let go of).
    size_t maxLive = 1;
    size_t maxHeld = 2;
    UnplayableHandler unplayable;
    std::unique_ptr<SoundHeadCache> heads;

    mutable std::mutex mutex;
    std::condition_variable wake;     // the worker's
    std::condition_variable openWake; // the opener's
    bool kick = false;
    bool quit = false;
    // Set when the engine ends: a file being opened or read gives up at once.
    std::atomic<bool> ending{false};
    // Set with kick; read by the worker between two chunks without the lock, so a new sound need not wait for a
    // whole round over the sounds already playing.
    std::atomic<bool> newStream{false};
    std::vector<std::unique_ptr<Stream>> streams; // in the order they were opened
    std::unordered_map<quint32, Stream*> handles;
    std::deque<Stream*> toOpen;
    // The outputs by slot, for the worker to take back what their audio threads let go of.
    Output* outputs[MaxOutputs] = {};
    std::thread worker;
    std::thread opener;

    Stream* find(quint32 handle) const {
        auto it = handles.find(handle);
        return it == handles.end() ? nullptr : it->second;
    }

    // Under the mutex: stops a stream and marks it for release; the handle dies at once.
    void requestFree(Stream* stream) {
        stream->playing.store(false, std::memory_order_release);
        stream->freeRequested.store(true, std::memory_order_release);
        handles.erase(stream->handle);
        kick = true;
        wake.notify_one();
    }

    // Under the mutex: output `slot` will never touch the stream again.
    static void letGoOf(Stream* stream, int slot) {
        stream->ring.detach(slot);
        if (--stream->holders == 0) {
            stream->letGo = true;
        }
    }

    // Whether the unplayable handler is still to be told about a stream (only once). The handler is then called
    // with copies of its handle and path: the stream may be gone by then.
    bool claimReport(Stream* stream) { return unplayable && !stream->reported.exchange(true); }

    void workerLoop();
    void openerLoop();
    // Under the mutex: takes back the streams the outputs' audio threads let go of.
    void takeBackReleased();
};

// One output: a device, its supervision and its period render.
struct AudioEngine::Output {
    Output(const EngineConfig& outputConfig, Core& engineCore, int outputSlot)
        : config(outputConfig), core(engineCore), slot(outputSlot), output(engineCore.output),
          tuner(outputConfig.periodPolicy), loadWatch([info = engineCore.systemInfo] {
              return info ? info->processorLoad() : platform::ProcessorLoad();
          }) {
        added = std::make_unique<PointerQueue<Stream>>(static_cast<int>(core.maxHeld));
        released = std::make_unique<PointerQueue<Stream>>(static_cast<int>(core.maxHeld));
        active.reserve(core.maxHeld);
        inputs.reserve(core.maxHeld * 2);
        consumed.reserve(core.maxHeld);
        // An adaptive period starts at the smallest the tuner tries; the load is judged from here on (the program's
        // own start-up is no measure of it).
        if (config.adaptivePeriod) {
            loadWatch.tick(nowNanos());
        }
        periodFrames = config.adaptivePeriod ? tuner.period() : config.periodFrames;
    }

    EngineConfig config; // its output settings; the engine-wide ones are the Core's
    Core& core;
    const int slot; // its reader number in every stream's ring
    AudioFormat output;
    // Whether a sound it could not make heard goes to the unplayable handler: the main output's alone (another
    // output's sounds are heard on the main one).
    bool reportsUnheard = false;
    // Written by the device thread while the device is closed; read by the controlling thread.
    std::atomic<int> periodFrames{0};
    QString driver;
    bool holdsSdl = false;
    std::atomic<quint32> gain{0xFFFFFFFFu}; // left in the low half, right in the high half
    std::atomic<quint64> periodsRendered{0};
    std::atomic<int> audioPriority{-1}; // the PriorityOutcome the audio thread got; -1 before it was asked for
    bool audioThreadSettled = false;    // the device thread's: asking again would change nothing
    // The period as the machine sustains it: the callback counts the underruns, the device thread acts on them.
    UnderrunDetector underrunDetector; // the audio thread's (the device thread's while the device is closed)
    bool soundedLastPeriod = false;    // likewise: whether a sound played in the period last rendered
    std::atomic<quint32> underrunsPending{0};
    std::atomic<quint64> underrunsSeen{0};
    PeriodTuner tuner;   // the device thread's
    LoadWatch loadWatch; // likewise
    Clock::time_point lastLoadCheck{};

    // The device. Opened by openOutput() (on the controlling thread, or on the thread of an opening in the
    // background), from then on the device thread's alone.
    SDL_AudioDeviceID device = 0;
    std::mutex deviceMutex;
    std::condition_variable deviceWake;
    bool deviceKick = false; // a stream was played or freed
    bool deviceQuit = false;
    bool deviceThreadDone = false; // the device's thread is through and has closed the device
    std::atomic<OutputState> outputState{OutputState::Running};
    std::atomic<int> deviceOpenings{0};
    Clock::time_point openedAt; // the device thread's
    std::thread deviceThread;

    // Controlling thread -> audio thread: streams to mix. Audio thread -> worker: streams it let go of.
    std::unique_ptr<PointerQueue<Stream>> added;
    std::unique_ptr<PointerQueue<Stream>> released;

    // The audio thread's, allocated before the first period.
    std::vector<Stream*> active;
    std::vector<MixInput> inputs;
    std::vector<std::pair<Stream*, int>> consumed;
    Limiter limiter;
    // The last period that had a stream to play, for the idle timeout.
    std::atomic<qint64> lastBusy{0};

    void kickDevice() {
        if (!deviceThread.joinable()) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(deviceMutex);
            deviceKick = true;
        }
        deviceWake.notify_one();
    }

    void render(float* out, int frames);
    // The audio thread's walk over its streams, for render() and tendWhileClosed() alike: takes in the streams
    // handed to it, lets go of those freed, and asks `onPlaying` about each that plays whether to let go of it.
    template <class OnPlaying> void sweep(OnPlaying&& onPlaying);

    // The first opening of the device: SDL's audio, then the device. False when either fails. The main output may
    // take the rate the device runs at (and the streams are then decoded to it); any other opens at the streams'.
    bool openOutput(bool mainOutput);
    // What is asked of SDL at every opening.
    SDL_AudioSpec wantedSpec(int sampleRate, int period);
    // What the device thread keeps between its turns.
    struct DeviceWatch {
        Clock::duration checkInterval{};
        quint64 lastPeriods = 0;          // periods rendered at the last look,
        Clock::time_point lastProgress{}; // and when they last moved on
        Clock::time_point lastAttempt{};  // the last opening tried while lost
    };
    void deviceLoop();
    // One turn of the device thread in each state of the device: called and returning with `lock` (on deviceMutex)
    // held, which each lets go of while it works on the device.
    void whileRunning(std::unique_lock<std::mutex>& lock, DeviceWatch& watch);
    void whilePaused(std::unique_lock<std::mutex>& lock, DeviceWatch& watch);
    void whileLost(std::unique_lock<std::mutex>& lock, DeviceWatch& watch);
    void nowRunning(DeviceWatch& watch);
    // Lets go of what plays: no device can play it.
    void nowLost(DeviceWatch& watch);
    // Opens the device again, at `period` frames (0: the period it ran at).
    bool openDevice(int period = 0);
    void closeDevice();
    // Raises the audio thread of the device just opened, then lets it call back.
    void unpauseDevice();
    bool deviceLost(quint64& lastPeriods, Clock::time_point& lastProgress);
    bool idleLongEnough() const;
    // With an adaptive period: the period to open the device at now, after the underruns counted since the last
    // look and the machine's load; 0 to keep the current one. Asked at every check of a running device, and at
    // openings.
    int tunedPeriod(bool opening);
    bool machineBusyNow() { return config.machineBusy ? config.machineBusy() : loadWatch.busy(nowNanos()); }
    // Audio-thread work while the device is closed: takes in the streams played meanwhile and lets go of those
    // freed. With `dropPlaying`, also of those played: no device can play them. True when a stream waits to play.
    bool tendWhileClosed(bool dropPlaying);
    // Ends the device thread, which closes the device. False when it does not come back in time.
    bool stopDeviceThread();

    static void SDLCALL deviceCallback(void* user, Uint8* stream, int length);
};

// The engine while it runs (or opens): the shared streams and the outputs by slot, the main one first.
struct AudioEngine::State {
    std::unique_ptr<Core> core;
    std::unique_ptr<Output> outputs[MaxOutputs];
    // An output removed while its device did not answer is left running: the streams it holds, and with them the
    // whole engine, must outlive it.
    bool leftBehind = false;

    Output& main() { return *outputs[MainOutput]; }
    const Output& main() const { return *outputs[MainOutput]; }
};

void SDLCALL AudioEngine::Output::deviceCallback(void* user, Uint8* stream, int length) {
    auto* output = static_cast<Output*>(user);
    const int frames = length / static_cast<int>(sizeof(float) * static_cast<size_t>(output->output.channels));
    if (output->config.adaptivePeriod) {
        const qint64 now = output->config.callbackClock ? output->config.callbackClock() : nowNanos();
        // Running dry between two silences is not heard: only a sound cut short counts.
        if (output->underrunDetector.onCallback(now, frames, output->output.sampleRate) && output->soundedLastPeriod) {
            output->underrunsPending.fetch_add(1, std::memory_order_relaxed);
            output->underrunsSeen.fetch_add(1, std::memory_order_relaxed);
        }
    }
    output->render(reinterpret_cast<float*>(stream), frames);
}

template <class OnPlaying> void AudioEngine::Output::sweep(OnPlaying&& onPlaying) {
    Stream* stream = nullptr;
    while (active.size() < active.capacity() && added->pop(stream)) {
        active.push_back(stream);
    }
    for (size_t i = 0; i < active.size();) {
        stream = active[i];
        bool letGo = stream->freeRequested.load(std::memory_order_acquire);
        if (!letGo && stream->playing.load(std::memory_order_acquire)) {
            letGo = onPlaying(stream);
        }
        if (letGo && released->push(stream)) {
            active[i] = active.back();
            active.pop_back();
            continue;
        }
        ++i;
    }
}

void AudioEngine::Output::render(float* out, int frames) {
    inputs.clear();
    consumed.clear();
    const qint64 now = nowNanos();
    const quint64 period = periodsRendered.fetch_add(1, std::memory_order_relaxed) + 1;
    const size_t channels = static_cast<size_t>(output.channels);
    bool busy = false;
    sweep([&](Stream* stream) {
        busy = true;
        StreamReader& reader = stream->readers[slot];
        // Read the flag before the fill level: once decoding is done, an empty ring means the sound is over.
        const bool decodeDone = stream->decodeDone.load(std::memory_order_acquire);
        // The prepared start first, then what the decoder has put in the ring behind it.
        int fromHead = 0;
        if (const SoundHead* head = stream->head.get(); head != nullptr && reader.headPosition < head->frames) {
            fromHead = std::min(head->frames - reader.headPosition, frames);
            inputs.push_back(MixInput{head->samples.data() + static_cast<size_t>(reader.headPosition) * channels,
                                      fromHead, 0, stream->gain});
            reader.headPosition += fromHead;
        }
        const int count = std::min(stream->ring.readableFrames(slot), frames - fromHead);
        if (count > 0) {
            const float* first = nullptr;
            const float* second = nullptr;
            int firstFrames = 0;
            int secondFrames = 0;
            stream->ring.readPieces(slot, count, first, firstFrames, second, secondFrames);
            inputs.push_back(MixInput{first, firstFrames, fromHead, stream->gain});
            if (secondFrames > 0) {
                inputs.push_back(MixInput{second, secondFrames, fromHead + firstFrames, stream->gain});
            }
            consumed.emplace_back(stream, count);
        }
        if (fromHead + count > 0) {
            if (reader.firstAudio.load(std::memory_order_relaxed) == 0) {
                reader.firstAudioPeriod.store(period, std::memory_order_relaxed);
                reader.firstAudio.store(now, std::memory_order_release);
            }
            return false;
        }
        return decodeDone;
    });
    if (busy) {
        lastBusy.store(now, std::memory_order_relaxed);
    }
    soundedLastPeriod = busy;

    mixStreams(out, frames, output.channels, inputs.data(), inputs.size(),
               unpackGain(gain.load(std::memory_order_relaxed)));
    if (inputs.empty()) {
        // Nothing plays: the level of what played before is of no concern to the next sound, which would otherwise
        // start turned down after a loud burst was stopped.
        limiter.reset();
    } else {
        limiter.process(out, frames, output.channels);
    }
    for (const auto& [consumedStream, count] : consumed) {
        consumedStream->ring.consume(slot, count);
    }
}

void AudioEngine::Core::takeBackReleased() {
    for (int slot = 0; slot < MaxOutputs; ++slot) {
        if (outputs[slot] == nullptr) {
            continue;
        }
        Stream* letGo = nullptr;
        while (outputs[slot]->released->pop(letGo)) {
            letGoOf(letGo, slot);
        }
    }
}

void AudioEngine::Core::workerLoop() {
    // Streams to decode for, with the fill level each had when the round began (played ones counted emptier than
    // any that only wait to be played).
    std::vector<std::pair<int, Stream*>> work;
    std::vector<std::unique_ptr<Stream>> graveyard;
    if (priority != nullptr) {
        priority->raiseCurrentThread("Sound decoder", 0);
    }
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) {
        takeBackReleased();
        work.clear();
        for (auto it = streams.begin(); it != streams.end();) {
            Stream* stream = it->get();
            const bool freed = stream->freeRequested.load(std::memory_order_relaxed);
            // Not while the opener works on it, even when the audio thread has let go of it already (played, then
            // freed or dropped before its file was open): the opener comes back to it when the probe is over.
            if (!stream->opening && (stream->letGo || ((freed || stream->openFailed) && !stream->submitted))) {
                auto handle = handles.find(stream->handle);
                if (handle != handles.end() && handle->second == stream) {
                    handles.erase(handle);
                }
                if (!stream->opened && !stream->openFailed) {
                    // Freed before its turn to be opened: the opener must not find it in its queue afterwards.
                    std::erase(toOpen, stream);
                }
                graveyard.push_back(std::move(*it));
                it = streams.erase(it);
                continue;
            }
            if (stream->opened && !freed && !stream->decodeDone.load(std::memory_order_relaxed)) {
                const bool played = stream->playing.load(std::memory_order_relaxed);
                work.emplace_back(stream->ring.bufferedFrames() - (played ? stream->ring.capacityFrames() : 0), stream);
            }
            ++it;
        }
        kick = false;
        newStream.store(false, std::memory_order_relaxed);
        lock.unlock();

        // Closing decoders and files happens here, outside the lock and far from the audio thread.
        graveyard.clear();
        // The emptiest rings of sounds being heard first: one just started, or one about to run dry; then those
        // opened and waiting for play(). Ordered by the levels taken above, never by live ones: the audio thread
        // drains the rings meanwhile, and a sort whose order changes under it runs off the ends of its array.
        std::sort(work.begin(), work.end(),
                  [](const std::pair<int, Stream*>& a, const std::pair<int, Stream*>& b) { return a.first < b.first; });
        bool wrote = false;
        for (const auto& [level, stream] : work) {
            // Start over at once with a newcomer, but only after some progress: a flood of opens must not stall.
            if (stream != work.front().second && newStream.load(std::memory_order_relaxed)) {
                wrote = true;
                break;
            }
            if (stream->freeRequested.load(std::memory_order_relaxed)) {
                continue;
            }
            int space = 0;
            float* target = stream->ring.writeSpace(space);
            if (space <= 0) {
                continue;
            }
            if (stream->skipFrames > 0) {
                // The start the head already holds: decoded into the ring's free space and dropped, so what follows
                // it comes out of the same decoder state as the head did.
                const int wanted = std::min({space, DecodeChunkFrames, stream->skipFrames});
                const int got = stream->source->read(target, wanted);
                stream->skipFrames -= std::max(got, 0);
                wrote = true;
                if (got < wanted) {
                    stream->source.reset();
                    stream->decodeDone.store(true, std::memory_order_release);
                }
                continue;
            }
            const int wanted = std::min(space, DecodeChunkFrames);
            const int got = stream->source->read(target, wanted);
            if (got > 0) {
                stream->ring.commit(got);
                wrote = true;
            }
            if (got < wanted) {
                stream->source.reset();
                stream->decodeDone.store(true, std::memory_order_release);
            }
        }

        lock.lock();
        if (!wrote && !kick && !quit) {
            if (streams.empty()) {
                wake.wait(lock, [this] { return quit || kick; });
            } else {
                wake.wait_for(lock, RefillInterval, [this] { return quit || kick; });
            }
        }
    }
}

// Probing a file reads and searches its start, which for a file that is no sound at all takes tens of milliseconds:
// too long for the key handler, so it happens here, one file after the other in the order they were opened.
void AudioEngine::Core::openerLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
        openWake.wait(lock, [this] { return quit || !toOpen.empty(); });
        if (quit) {
            return;
        }
        Stream* stream = toOpen.front();
        toOpen.pop_front();
        if (stream->freeRequested.load(std::memory_order_relaxed)) {
            continue; // given way or freed before its turn: the worker releases it
        }
        stream->opening = true;
        const QString path = stream->path;
        lock.unlock();

        QString error;
        // Freeing the stream, or the end of the engine, cuts its opening and every later read short.
        std::unique_ptr<IDataSource> source = FfmpegSource::open(*files, path, output, &error, [this, stream] {
            return ending.load(std::memory_order_relaxed) || stream->freeRequested.load(std::memory_order_relaxed);
        });

        lock.lock();
        stream->opening = false;
        if (source) {
            stream->source = std::move(source);
            stream->opened = true;
            newStream.store(true, std::memory_order_relaxed);
        } else if (stream->head) {
            // Its start was decoded a moment ago, so the file changed since: what is in memory plays, then it ends.
            qCDebug(lcAudio) << "Cannot decode the rest of" << path << ":" << error;
            stream->decodeDone.store(true, std::memory_order_release);
        } else {
            qCDebug(lcAudio) << "Cannot decode" << path << ":" << error;
            stream->openFailed = true;
            // An empty ring that is done: the audio thread lets go of it like of a sound that has ended.
            stream->decodeDone.store(true, std::memory_order_release);
            if (!stream->submitted) {
                handles.erase(stream->handle); // dead at once; the worker destroys it
            }
            if (!stream->freeRequested.load(std::memory_order_relaxed) && claimReport(stream)) {
                const quint32 handle = stream->handle;
                lock.unlock();
                unplayable(handle, path, Unplayable::NotASound);
                lock.lock();
            }
        }
        kick = true;
        wake.notify_one();
    }
}

bool AudioEngine::Output::openDevice(int period) {
    if (period == 0) {
        period = periodFrames.load(std::memory_order_relaxed);
    }
    const SDL_AudioSpec wanted = wantedSpec(output.sampleRate, period);
    // The streams already opened are resampled to the format of the first opening: SDL converts if the device
    // now runs otherwise.
    SDL_AudioSpec obtained{};
    lastBusy.store(nowNanos(), std::memory_order_relaxed);
    // No callback runs now: the detector's history of the device before is of no use for this one.
    underrunDetector.reset();
    soundedLastPeriod = false;
    device = openSdlOutput(config.streamName, config.deviceName.toUtf8(), wanted, obtained, 0);
    // The new period is told only once the device it was opened at is counted (or once it failed: the next
    // attempt is at it).
    if (device == 0) {
        periodFrames.store(period, std::memory_order_relaxed);
        return false;
    }
    deviceOpenings.fetch_add(1, std::memory_order_relaxed);
    periodFrames.store(period, std::memory_order_relaxed);
    openedAt = Clock::now();
    unpauseDevice();
    return true;
}

void AudioEngine::Output::unpauseDevice() {
    // SDL runs the callback of each opening on a thread of its own, there (paused) from the opening on and named
    // after the device. It is raised from here, before it first calls back: asking takes a call to the system's
    // bus, which the callback must never wait for. A driver that calls back on a thread of its own library
    // (PipeWire's) leaves none to find; that library sees to its priority itself.
    platform::IThreadPriority* priority = core.priority;
    // Refused once, refused for the run; a driver without a thread of SDL's has none the next time either: a
    // device opened again for the next sound does not ask again.
    if (priority != nullptr && !audioThreadSettled) {
        // The thread names itself as it starts, which may be a moment after the opening returned.
        const QByteArray name = "SDLAudioP" + QByteArray::number(device);
        qint64 thread = priority->findThread(name);
        for (int attempt = 0; thread == 0 && attempt < AudioThreadLookups; ++attempt) {
            std::this_thread::sleep_for(1ms);
            thread = priority->findThread(name);
        }
        audioThreadSettled = thread == 0;
        if (thread != 0) {
            const platform::PriorityResult result =
                priority->raiseThread(thread, "Audio output thread", AudioThreadPriority);
            audioPriority.store(static_cast<int>(result.outcome), std::memory_order_relaxed);
            audioThreadSettled = result.outcome == platform::PriorityOutcome::Unchanged;
        }
    }
    SDL_PauseAudioDevice(device, 0);
}

void AudioEngine::Output::closeDevice() {
    if (device != 0) {
        // Waits for a running callback to return and ends the device's thread.
        SDL_CloseAudioDevice(device);
        device = 0;
    }
}

bool AudioEngine::Output::deviceLost(quint64& lastPeriods, Clock::time_point& lastProgress) {
    // SDL marks a device it lost as stopped (and goes on calling the callback into the void); the engine never
    // pauses the device itself, so stopped means lost.
    if (SDL_GetAudioDeviceStatus(device) == SDL_AUDIO_STOPPED) {
        return true;
    }
    const quint64 periods = periodsRendered.load(std::memory_order_relaxed);
    const auto now = Clock::now();
    if (periods != lastPeriods) {
        lastPeriods = periods;
        lastProgress = now;
        return false;
    }
    return now - lastProgress > StallTimeout;
}

bool AudioEngine::Output::idleLongEnough() const {
    if (config.idleTimeout <= 0ms) {
        return false;
    }
    const auto idle = std::chrono::nanoseconds(nowNanos() - lastBusy.load(std::memory_order_relaxed));
    return idle >= config.idleTimeout;
}

int AudioEngine::Output::tunedPeriod(bool opening) {
    int underruns = static_cast<int>(underrunsPending.exchange(0, std::memory_order_relaxed));
    if (Clock::now() - openedAt < SettlingAfterOpening) {
        underruns = 0;
    }
    const int before = tuner.period();
    const qint64 now = nowNanos();
    tuner.onUnderruns(underruns, now);
    // Without a sound for a while the device can be opened again unheard: the period follows the machine's load
    // then (now and then) and at every opening, never in the middle of a sound.
    const bool quiet = std::chrono::nanoseconds(now - lastBusy.load(std::memory_order_relaxed)) >= QuietBeforeShrinking;
    if (tuner.period() == before && (opening || quiet)) {
        if (opening || Clock::now() - lastLoadCheck >= LoadCheckInterval) {
            lastLoadCheck = Clock::now();
            tuner.onLoad(machineBusyNow());
        }
        if (quiet) {
            tuner.onQuiet(now);
        }
    }
    const int next = tuner.period();
    if (next == before) {
        return 0;
    }
    qCInfo(lcAudio).nospace() << "Audio output period " << before << " -> " << next << " frames (" << tuner.underruns()
                              << " underruns so far)";
    return next;
}

bool AudioEngine::Output::tendWhileClosed(bool dropPlaying) {
    std::vector<std::pair<quint32, QString>> unheard;
    bool waiting = false;
    sweep([&](Stream* stream) {
        if (!dropPlaying) {
            waiting = true;
            return false;
        }
        // A sound cut off by the loss is not repeated elsewhere; one that never got out goes to the handler.
        if (reportsUnheard && stream->readers[slot].firstAudio.load(std::memory_order_relaxed) == 0 &&
            core.claimReport(stream)) {
            unheard.emplace_back(stream->handle, stream->path);
        }
        return true;
    });
    for (const auto& [handle, path] : unheard) {
        core.unplayable(handle, path, Unplayable::NoOutput);
    }
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        core.kick = true;
    }
    core.wake.notify_one();
    return waiting;
}

// The device's life after start(): running, paused when idle, lost and tried again.
void AudioEngine::Output::deviceLoop() {
    DeviceWatch watch;
    watch.checkInterval = config.idleTimeout > 0ms
                              ? std::min<Clock::duration>(DeviceCheckInterval, config.idleTimeout / 4)
                              : Clock::duration(DeviceCheckInterval);
    watch.lastPeriods = periodsRendered.load(std::memory_order_relaxed);
    watch.lastProgress = Clock::now();
    watch.lastAttempt = Clock::now();
    if (device != 0) {
        // Opened by start() or addOutput(), still paused.
        unpauseDevice();
    }
    std::unique_lock<std::mutex> lock(deviceMutex);
    while (!deviceQuit) {
        switch (outputState.load(std::memory_order_relaxed)) {
        case OutputState::Running:
            whileRunning(lock, watch);
            break;
        case OutputState::Paused:
            whilePaused(lock, watch);
            break;
        default:
            whileLost(lock, watch);
            break;
        }
    }
    lock.unlock();
    closeDevice();
    lock.lock();
    deviceThreadDone = true;
    lock.unlock();
    deviceWake.notify_all();
}

void AudioEngine::Output::nowRunning(DeviceWatch& watch) {
    outputState.store(OutputState::Running, std::memory_order_relaxed);
    watch.lastPeriods = periodsRendered.load(std::memory_order_relaxed);
    watch.lastProgress = Clock::now();
}

void AudioEngine::Output::nowLost(DeviceWatch& watch) {
    outputState.store(OutputState::Lost, std::memory_order_relaxed);
    tendWhileClosed(true);
    watch.lastAttempt = Clock::now();
}

void AudioEngine::Output::whileRunning(std::unique_lock<std::mutex>& lock, DeviceWatch& watch) {
    deviceWake.wait_for(lock, watch.checkInterval, [this] { return deviceQuit; });
    if (deviceQuit) {
        return;
    }
    // A sound played since the last look keeps the device open, even before a period has seen it.
    const bool played = std::exchange(deviceKick, false);
    lock.unlock();
    if (config.adaptivePeriod) {
        loadWatch.tick(nowNanos());
    }
    if (deviceLost(watch.lastPeriods, watch.lastProgress)) {
        closeDevice();
        qCWarning(lcAudio) << "Audio output lost (the sound server stopped or the device went away);"
                           << "sounds go to the system player until it can be opened again";
        nowLost(watch);
    } else if (!played && idleLongEnough()) {
        closeDevice();
        outputState.store(OutputState::Paused, std::memory_order_relaxed);
        qCDebug(lcAudio) << "Audio output closed after" << config.idleTimeout.count() << "ms without sound";
        // Played while it was closing?
        if (tendWhileClosed(false)) {
            std::lock_guard<std::mutex> relock(deviceMutex);
            deviceKick = true;
        }
    } else if (const int next = config.adaptivePeriod ? tunedPeriod(false) : 0; next != 0) {
        // A sound that plays stops for the time the device takes to open; the streams keep their place.
        closeDevice();
        if (openDevice(next)) {
            nowRunning(watch);
        } else {
            qCWarning(lcAudio) << "Audio output cannot be opened again:" << SDL_GetError()
                               << "; sounds go to the system player until it can";
            nowLost(watch);
        }
    }
    lock.lock();
}

void AudioEngine::Output::whilePaused(std::unique_lock<std::mutex>& lock, DeviceWatch& watch) {
    if (config.adaptivePeriod) {
        // The load is read now and then, so the opening for the next sound judges it over the last second.
        loadWatch.tick(nowNanos());
        deviceWake.wait_for(lock, LoadReadingInterval, [this] { return deviceQuit || deviceKick; });
    } else {
        deviceWake.wait(lock, [this] { return deviceQuit || deviceKick; });
    }
    if (deviceQuit || !std::exchange(deviceKick, false)) {
        return;
    }
    lock.unlock();
    if (tendWhileClosed(false)) {
        int period = 0;
        if (config.adaptivePeriod) {
            // Closed for a while without sound: a good moment to try a smaller period again.
            underrunsPending.store(0, std::memory_order_relaxed);
            period = tunedPeriod(true);
        }
        if (openDevice(period)) {
            nowRunning(watch);
            qCDebug(lcAudio) << "Audio output opened again for a sound";
        } else {
            qCWarning(lcAudio) << "Audio output cannot be opened again:" << SDL_GetError()
                               << "; sounds go to the system player until it can";
            nowLost(watch);
        }
    }
    lock.lock();
}

void AudioEngine::Output::whileLost(std::unique_lock<std::mutex>& lock, DeviceWatch& watch) {
    if (!config.reopenAfterLoss) {
        // Lost for good: what is played goes nowhere (or to the handler).
        deviceWake.wait(lock, [this] { return deviceQuit || deviceKick; });
        deviceKick = false;
        lock.unlock();
        tendWhileClosed(true);
        lock.lock();
        return;
    }
    // Tried again every second, and for every sound played meanwhile as soon as the spacing of the attempts allows;
    // a sound is given up (and goes to the fallback) only after an attempt has failed.
    deviceWake.wait_until(lock, watch.lastAttempt + ReopenInterval, [this] { return deviceQuit || deviceKick; });
    if (deviceKick) {
        deviceKick = false;
        deviceWake.wait_until(lock, watch.lastAttempt + ReopenSpacing, [this] { return deviceQuit; });
    }
    if (deviceQuit) {
        return;
    }
    lock.unlock();
    watch.lastAttempt = Clock::now();
    if (openDevice()) {
        nowRunning(watch);
        qCInfo(lcAudio) << "Audio output is back:" << SDL_GetCurrentAudioDriver();
    } else {
        qCDebug(lcAudio) << "Audio output still unavailable:" << SDL_GetError();
        tendWhileClosed(true);
    }
    lock.lock();
}

AudioEngine::AudioEngine(const AudioServices& services) : m_services(services) {
    Q_ASSERT(services.files != nullptr);
}

AudioEngine::~AudioEngine() {
    shutdown();
}

void AudioEngine::setUnplayableHandler(UnplayableHandler handler) {
    m_unplayable = std::move(handler);
}

// An opening in the background: its thread and the state it opens the device for, shared until finishStart() takes
// the state (or, left behind, until the thread comes back).
struct AudioEngine::Opening {
    std::mutex mutex;
    std::condition_variable over;
    std::unique_ptr<State> state;
    bool done = false;
    bool opened = false;
    bool abandoned = false;
    std::thread thread;
};

std::unique_ptr<AudioEngine::State> AudioEngine::makeState(const EngineConfig& config) const {
    auto state = std::make_unique<State>();
    state->core = std::make_unique<Core>(config, m_services);
    state->core->unplayable = m_unplayable;
    state->outputs[MainOutput] = std::make_unique<Output>(config, *state->core, MainOutput);
    state->main().reportsUnheard = true;
    return state;
}

SDL_AudioSpec AudioEngine::Output::wantedSpec(int sampleRate, int period) {
    SDL_AudioSpec wanted{};
    wanted.freq = sampleRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = static_cast<Uint8>(output.channels);
    wanted.samples = static_cast<Uint16>(period);
    wanted.callback = &Output::deviceCallback;
    wanted.userdata = this;
    return wanted;
}

bool AudioEngine::Output::openOutput(bool mainOutput) {
    if (!acquireSdlAudio(config.drivers)) {
        return false;
    }
    holdsSdl = true;
    int rate = output.sampleRate;
    if (mainOutput && config.preferDeviceRate && config.deviceName.isEmpty()) {
        char* defaultName = nullptr;
        SDL_AudioSpec defaultDevice{};
        if (SDL_GetDefaultAudioInfo(&defaultName, &defaultDevice, 0) == 0 && defaultDevice.freq > 0) {
            rate = defaultDevice.freq;
        }
        SDL_free(defaultName);
    }
    const SDL_AudioSpec wanted = wantedSpec(rate, periodFrames.load(std::memory_order_relaxed));
    SDL_AudioSpec obtained{};
    // The period size is not left to the driver: SDL 2.26's dummy driver corrupts the heap on close when it
    // changes it, and a driver's own choice is often far above the 10 ms we want. Only the main output sets the
    // rate the streams are decoded to; SDL converts for any other that runs otherwise.
    device = openSdlOutput(config.streamName, config.deviceName.toUtf8(), wanted, obtained,
                           mainOutput ? SDL_AUDIO_ALLOW_FREQUENCY_CHANGE : 0);
    if (device == 0) {
        qCWarning(lcAudio) << "Cannot open the audio output:" << SDL_GetError();
        releaseSdlAudio();
        holdsSdl = false;
        return false;
    }
    deviceOpenings = 1;
    openedAt = Clock::now();
    output.sampleRate = obtained.freq;
    periodFrames = obtained.samples;
    driver = QString::fromUtf8(SDL_GetCurrentAudioDriver());
    if (driver == QLatin1String("disk")) {
        // It writes a file, which every opening starts over, and has nobody to run dry for.
        config.adaptivePeriod = false;
    }
    qCInfo(lcAudio) << "Audio output:" << SDL_GetCurrentAudioDriver() << obtained.freq << "Hz," << obtained.samples
                    << "frames per period" << (mainOutput ? "" : "for")
                    << (mainOutput ? QByteArray() : config.streamName);
    if (config.closedUntilFirstSound && config.idleTimeout > 0ms) {
        // It opened, so it works; until a sound comes it costs nothing and the sound server's sink can sleep.
        closeDevice();
        outputState.store(OutputState::Paused, std::memory_order_relaxed);
    }
    return true;
}

bool AudioEngine::Output::stopDeviceThread() {
    if (deviceThread.joinable()) {
        std::unique_lock<std::mutex> lock(deviceMutex);
        deviceQuit = true;
        deviceWake.notify_all();
        if (!deviceWake.wait_for(lock, DeviceThreadEndTimeout, [this] { return deviceThreadDone; })) {
            return false;
        }
        lock.unlock();
        deviceThread.join();
    }
    closeDevice();
    return true;
}

bool AudioEngine::start(const EngineConfig& config) {
    if (m_state) {
        return true;
    }
    if (m_opening || !validConfig(config)) {
        return false;
    }
    std::unique_ptr<State> state = makeState(config);
    if (config.useDevice && !state->main().openOutput(true)) {
        return false;
    }
    run(std::move(state));
    return true;
}

bool AudioEngine::startInBackground(const EngineConfig& config, std::function<void()> openingOver) {
    if (m_state || m_opening || !validConfig(config)) {
        return false;
    }
    auto opening = std::make_shared<Opening>();
    opening->state = makeState(config);
    if (!config.useDevice) {
        opening->done = true;
        opening->opened = true;
        m_opening = std::move(opening);
        if (openingOver) {
            openingOver();
        }
        return true;
    }
    opening->thread = std::thread([opening, openingOver = std::move(openingOver)] {
        const bool opened = opening->state->main().openOutput(true);
        std::unique_lock<std::mutex> lock(opening->mutex);
        if (opening->abandoned) {
            // Nobody waits for it any more: it goes as it came.
            std::unique_ptr<State> state = std::move(opening->state);
            lock.unlock();
            state->main().closeDevice();
            if (state->main().holdsSdl) {
                releaseSdlAudio();
            }
            return;
        }
        opening->done = true;
        opening->opened = opened;
        opening->over.notify_all();
        // Under the lock: once shutdown() has given up on it, it is never called.
        if (openingOver) {
            openingOver();
        }
    });
    m_opening = std::move(opening);
    return true;
}

bool AudioEngine::waitForOpening(std::chrono::milliseconds timeout) {
    if (!m_opening) {
        return true;
    }
    std::unique_lock<std::mutex> lock(m_opening->mutex);
    return m_opening->over.wait_for(lock, timeout, [this] { return m_opening->done; });
}

bool AudioEngine::finishStart() {
    if (!m_opening) {
        return false;
    }
    std::unique_ptr<State> state;
    bool opened = false;
    {
        std::lock_guard<std::mutex> lock(m_opening->mutex);
        if (!m_opening->done) {
            return false;
        }
        state = std::move(m_opening->state);
        opened = m_opening->opened;
    }
    if (m_opening->thread.joinable()) {
        m_opening->thread.join();
    }
    m_opening.reset();
    if (!opened) {
        return false;
    }
    run(std::move(state));
    return true;
}

void AudioEngine::abandonOpening() {
    std::unique_lock<std::mutex> lock(m_opening->mutex);
    if (!m_opening->over.wait_for(lock, DeviceThreadEndTimeout, [this] { return m_opening->done; })) {
        qCWarning(lcAudio) << "The audio output does not answer its opening; it is left behind";
        m_opening->abandoned = true;
        lock.unlock();
        m_opening->thread.detach();
        m_opening.reset();
        return;
    }
    lock.unlock();
    // Opened after all: taken up, so the usual end closes it.
    if (finishStart()) {
        shutdown();
    }
}

void AudioEngine::startOutput(Output& output) {
    output.gain.store(packGain(m_gain));
    output.limiter = Limiter(output.output.sampleRate);
    output.lastBusy = nowNanos();
    {
        std::lock_guard<std::mutex> lock(output.core.mutex);
        output.core.outputs[output.slot] = &output;
    }
    if (output.config.useDevice) {
        Output* raw = &output;
        output.deviceThread = std::thread([raw] { raw->deviceLoop(); });
    }
}

void AudioEngine::run(std::unique_ptr<State> state) {
    Core& core = *state->core;
    // The streams are decoded to the rate the main output's device runs at.
    core.output = state->main().output;
    if (core.config.headSeconds > 0) {
        core.heads = std::make_unique<SoundHeadCache>(
            *core.files, core.output, static_cast<int>(core.config.headSeconds * core.output.sampleRate),
            core.config.headBudgetBytes);
        core.heads->prepare(m_soundsToPrepare, m_resolveToPrepare);
    }
    m_renderChannels = core.output.channels;
    // In place before any of its threads runs: what they call back into may ask the engine about itself.
    m_state = std::move(state);
    Core* raw = &core;
    core.worker = std::thread([raw] { raw->workerLoop(); });
    core.opener = std::thread([raw] { raw->openerLoop(); });
    startOutput(m_state->main());
}

OutputId AudioEngine::addOutput(const EngineConfig& config) {
    if (!m_state || !validConfig(config)) {
        return InvalidOutput;
    }
    OutputId slot = InvalidOutput;
    for (OutputId free = MainOutput + 1; free < MaxOutputs; ++free) {
        if (!m_state->outputs[free]) {
            slot = free;
            break;
        }
    }
    if (slot == InvalidOutput) {
        qCWarning(lcAudio) << "No room for another audio output";
        return InvalidOutput;
    }
    auto output = std::make_unique<Output>(config, *m_state->core, slot);
    output->config.useDevice = config.useDevice && m_state->main().config.useDevice;
    // Its own period; the streams' format is the engine's.
    if (output->config.useDevice && !output->openOutput(false)) {
        return InvalidOutput;
    }
    startOutput(*output);
    m_state->outputs[slot] = std::move(output);
    return slot;
}

bool AudioEngine::endOutput(Output& output) {
    if (!output.stopDeviceThread()) {
        return false;
    }
    Core& core = output.core;
    {
        // Its audio thread is gone: what it held, was handed or let go of is taken back here.
        std::lock_guard<std::mutex> lock(core.mutex);
        core.outputs[output.slot] = nullptr;
        Stream* stream = nullptr;
        while (output.released->pop(stream)) {
            Core::letGoOf(stream, output.slot);
        }
        while (output.added->pop(stream)) {
            Core::letGoOf(stream, output.slot);
        }
        for (Stream* held : output.active) {
            Core::letGoOf(held, output.slot);
        }
        output.active.clear();
        core.kick = true;
    }
    core.wake.notify_one();
    if (output.holdsSdl) {
        releaseSdlAudio();
        output.holdsSdl = false;
    }
    return true;
}

void AudioEngine::removeOutput(OutputId id) {
    if (!m_state || id <= MainOutput || id >= MaxOutputs || !m_state->outputs[id]) {
        return;
    }
    if (!endOutput(*m_state->outputs[id])) {
        // Its thread may yet come back, and so may its audio thread, reading the streams it was handed: those
        // stay held, and the whole engine is left behind at its end.
        qCWarning(lcAudio) << "An audio output does not answer; it is left behind";
        m_state->outputs[id]->deviceThread.detach();
        keepForGood(std::move(m_state->outputs[id]));
        m_state->leftBehind = true;
    }
    m_state->outputs[id].reset();
}

void AudioEngine::shutdown() {
    if (m_opening) {
        abandonOpening();
    }
    if (!m_state) {
        return;
    }
    for (OutputId id = MainOutput + 1; id < MaxOutputs; ++id) {
        removeOutput(id);
    }
    // The device thread closes the device on its way out; closing waits for a running callback to return, and after
    // it nothing reads the rings.
    if (m_state->leftBehind || !m_state->main().stopDeviceThread()) {
        abandon();
        return;
    }
    Core& core = *m_state->core;
    core.ending.store(true, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        core.quit = true;
    }
    core.wake.notify_all();
    core.openWake.notify_all();
    core.opener.join();
    core.worker.join();
    const bool holdsSdl = m_state->main().holdsSdl;
    m_state.reset();
    if (holdsSdl) {
        releaseSdlAudio();
    }
}

void AudioEngine::abandon() {
    qCWarning(lcAudio) << "The audio output does not answer; it is left behind";
    // Its thread may yet come back and will use the engine's state then, as will the threads that feed the streams
    // it holds: all of it stays, unowned, for the life of the process, and so does SDL's audio.
    if (m_state->main().deviceThread.joinable()) {
        m_state->main().deviceThread.detach();
    }
    m_state->core->worker.detach();
    m_state->core->opener.detach();
    for (std::unique_ptr<Output>& output : m_state->outputs) {
        if (output && output->deviceThread.joinable()) {
            output->deviceThread.detach();
        }
    }
    keepForGood(std::move(m_state));
}

AudioEngine::Output* AudioEngine::outputAt(OutputId id) const {
    if (!m_state || id < MainOutput || id >= MaxOutputs) {
        return nullptr;
    }
    return m_state->outputs[id].get();
}

bool AudioEngine::isRunning() const {
    return m_state != nullptr;
}

OutputState AudioEngine::outputState() const {
    if (m_opening) {
        return OutputState::Opening;
    }
    return m_state ? m_state->main().outputState.load(std::memory_order_relaxed) : OutputState::Stopped;
}

AudioFormat AudioEngine::outputFormat() const {
    return m_state ? m_state->core->output : AudioFormat{};
}

int AudioEngine::periodFrames() const {
    return m_state ? m_state->main().periodFrames.load(std::memory_order_relaxed) : 0;
}

quint64 AudioEngine::underruns() const {
    return m_state ? m_state->main().underrunsSeen.load(std::memory_order_relaxed) : 0;
}

QString AudioEngine::diagnostics() const {
    if (m_opening) {
        return QStringLiteral("audio output opening: the sound server has not answered yet");
    }
    if (!m_state) {
        return QStringLiteral("audio output not running");
    }
    const Output& state = m_state->main();
    const int period = state.periodFrames.load(std::memory_order_relaxed);
    QString line = QStringLiteral("audio output: %1, %2 Hz, %3 channels, %4 frames per period (%5 ms%6), %7 underruns")
                       .arg(state.driver.isEmpty() ? QStringLiteral("pulled by the caller") : state.driver)
                       .arg(state.output.sampleRate)
                       .arg(state.output.channels)
                       .arg(period)
                       .arg(1000.0 * period / std::max(1, state.output.sampleRate), 0, 'f', 1)
                       .arg(state.config.adaptivePeriod ? QStringLiteral(", adaptive") : QString())
                       .arg(state.underrunsSeen.load(std::memory_order_relaxed));
    switch (state.audioPriority.load(std::memory_order_relaxed)) {
    case static_cast<int>(platform::PriorityOutcome::RealTime):
        line += QStringLiteral(", audio thread real-time");
        break;
    case static_cast<int>(platform::PriorityOutcome::Raised):
        line += QStringLiteral(", audio thread raised");
        break;
    case static_cast<int>(platform::PriorityOutcome::Unchanged):
        line += QStringLiteral(", audio thread at normal priority");
        break;
    default:
        break;
    }
    switch (state.outputState.load(std::memory_order_relaxed)) {
    case OutputState::Paused:
        line += QStringLiteral(", closed while idle");
        break;
    case OutputState::Lost:
        line += QStringLiteral(", device lost");
        break;
    default:
        break;
    }
    int outputs = 0;
    for (const std::unique_ptr<Output>& output : m_state->outputs) {
        outputs += output ? 1 : 0;
    }
    if (outputs > 1) {
        line += QStringLiteral(", %1 outputs").arg(outputs);
    }
    if (m_state->core->heads) {
        line += QStringLiteral(", %1 KiB of sound starts decoded ahead").arg(m_state->core->heads->keptBytes() / 1024);
    }
    return line;
}

void AudioEngine::prepareSounds(const QStringList& names, std::function<QString(const QString&)> resolve) {
    m_soundsToPrepare = names;
    m_resolveToPrepare = std::move(resolve);
    if (m_state && m_state->core->heads) {
        m_state->core->heads->prepare(names, m_resolveToPrepare);
    }
}

bool AudioEngine::waitUntilPrepared(int timeoutMs) {
    return !m_state || !m_state->core->heads || m_state->core->heads->waitUntilIdle(timeoutMs);
}

QString AudioEngine::outputDriver() const {
    return m_state ? m_state->main().driver : QString();
}

void AudioEngine::kickOutputs() {
    for (std::unique_ptr<Output>& output : m_state->outputs) {
        if (output) {
            output->kickDevice();
        }
    }
}

quint32 AudioEngine::openStream(const QString& path, float gain) {
    if (!m_state || m_services.files->fileKind(path) != platform::FileKind::Regular) {
        return 0;
    }
    Core& core = *m_state->core;
    std::shared_ptr<const SoundHead> head = core.heads ? core.heads->find(path) : nullptr;
    if (head && (head->format.sampleRate != core.output.sampleRate || head->format.channels != core.output.channels)) {
        head.reset();
    }
    std::lock_guard<std::mutex> lock(core.mutex);
    size_t live = 0;
    Stream* oldest = nullptr;
    for (const auto& stream : core.streams) {
        if (!stream->freeRequested.load(std::memory_order_relaxed) && !stream->openFailed) {
            if (oldest == nullptr) {
                oldest = stream.get();
            }
            ++live;
        }
    }
    if (live >= core.maxLive && oldest != nullptr) {
        qCDebug(lcAudio) << "Too many sounds at once; the oldest gives way";
        core.requestFree(oldest);
        kickOutputs();
    }
    // Given-way streams are let go of within a period or two; only an output that has stopped pulling can leave
    // this many behind.
    if (core.streams.size() >= core.maxHeld) {
        qCWarning(lcAudio) << "Too many sounds waiting to be released; not playing" << path;
        return 0;
    }
    const quint32 handle = m_nextHandle++;
    if (m_nextHandle == 0) {
        m_nextHandle = 1;
    }
    auto stream = std::make_unique<Stream>(handle, path, gain, core.config.streamBufferFrames, core.output.channels);
    core.handles.emplace(handle, stream.get());
    if (head && head->complete) {
        // The whole sound is in memory: no file to open, nothing to decode.
        stream->head = std::move(head);
        stream->opened = true;
        stream->decodeDone.store(true, std::memory_order_relaxed);
    } else {
        if (head) {
            stream->skipFrames = head->frames;
            stream->head = std::move(head);
        }
        core.toOpen.push_back(stream.get());
        core.openWake.notify_one();
    }
    core.streams.push_back(std::move(stream));
    return handle;
}

bool AudioEngine::play(quint32 handle) {
    if (!m_state) {
        return false;
    }
    Core& core = *m_state->core;
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        Stream* stream = core.find(handle);
        if (stream == nullptr || stream->openFailed) {
            return false;
        }
        stream->playing.store(true, std::memory_order_release);
        if (!stream->submitted) {
            // Handed to every output at once, each reading it from the start at its own pace.
            for (std::unique_ptr<Output>& output : m_state->outputs) {
                if (!output) {
                    continue;
                }
                stream->ring.attach(output->slot);
                ++stream->holders;
                if (!output->added->push(stream)) {
                    Core::letGoOf(stream, output->slot);
                    stream->letGo = false;
                }
            }
            if (stream->holders == 0) {
                stream->playing.store(false, std::memory_order_release);
                return false;
            }
            stream->submitted = true;
        }
    }
    kickOutputs();
    return true;
}

void AudioEngine::stop(quint32 handle) {
    if (!m_state) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_state->core->mutex);
    if (Stream* stream = m_state->core->find(handle)) {
        stream->playing.store(false, std::memory_order_release);
    }
}

bool AudioEngine::isPlaying(quint32 handle) const {
    if (!m_state) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_state->core->mutex);
    const Stream* stream = m_state->core->find(handle);
    return stream != nullptr && !stream->letGo && !stream->openFailed &&
           stream->playing.load(std::memory_order_acquire);
}

void AudioEngine::free(quint32 handle) {
    if (!m_state) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_state->core->mutex);
        Stream* stream = m_state->core->find(handle);
        if (stream == nullptr) {
            return;
        }
        m_state->core->requestFree(stream);
    }
    kickOutputs();
}

void AudioEngine::stopAll() {
    if (!m_state) {
        return;
    }
    Core& core = *m_state->core;
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        for (const auto& [handle, stream] : core.handles) {
            stream->playing.store(false, std::memory_order_release);
            stream->freeRequested.store(true, std::memory_order_release);
        }
        core.handles.clear();
        core.kick = true;
        core.wake.notify_one();
    }
    kickOutputs();
}

void AudioEngine::setMasterGain(MasterGain gain) {
    setOutputGain(MainOutput, gain);
}

MasterGain AudioEngine::masterGain() const {
    return m_gain;
}

void AudioEngine::setOutputGain(OutputId id, MasterGain gain) {
    if (Output* output = outputAt(id)) {
        output->gain.store(packGain(gain), std::memory_order_relaxed);
    }
    if (id == MainOutput) {
        m_gain = gain;
    }
}

MasterGain AudioEngine::outputGain(OutputId id) const {
    if (id == MainOutput) {
        return m_gain;
    }
    const Output* output = outputAt(id);
    return output ? unpackGain(output->gain.load(std::memory_order_relaxed)) : MasterGain{};
}

void AudioEngine::render(float* out, int frames) {
    render(MainOutput, out, frames);
}

void AudioEngine::render(OutputId id, float* out, int frames) {
    Output* output = outputAt(id);
    if (output != nullptr && !output->config.useDevice) {
        output->render(out, frames);
    } else if (frames > 0) {
        std::fill_n(out, static_cast<size_t>(frames) * static_cast<size_t>(m_renderChannels), 0.0f);
    }
}

int AudioEngine::heldStreams() const {
    if (!m_state) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_state->core->mutex);
    return static_cast<int>(m_state->core->streams.size());
}

bool AudioEngine::isDecodedAhead(quint32 handle) const {
    if (!m_state) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_state->core->mutex);
    const Stream* stream = m_state->core->find(handle);
    return stream != nullptr && stream->opened &&
           (stream->decodeDone.load(std::memory_order_acquire) || stream->ring.writableFrames() == 0);
}

AudioEngine::FirstAudio AudioEngine::firstAudio(quint32 handle, OutputId id) const {
    if (!m_state || id < MainOutput || id >= MaxOutputs) {
        return {};
    }
    std::lock_guard<std::mutex> lock(m_state->core->mutex);
    const Stream* stream = m_state->core->find(handle);
    if (stream == nullptr) {
        return {};
    }
    const StreamReader& reader = stream->readers[id];
    FirstAudio first;
    first.nanos = reader.firstAudio.load(std::memory_order_acquire);
    first.period = first.nanos != 0 ? reader.firstAudioPeriod.load(std::memory_order_relaxed) : 0;
    return first;
}

quint64 AudioEngine::periodsRendered(OutputId id) const {
    const Output* output = outputAt(id);
    return output ? output->periodsRendered.load(std::memory_order_relaxed) : 0;
}

int AudioEngine::deviceOpenings() const {
    return m_state ? m_state->main().deviceOpenings.load(std::memory_order_relaxed) : 0;
}

} // namespace clavora::audio
