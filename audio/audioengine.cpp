// The audio engine: device and its supervision, opener, decode worker, stream table and the period render.
#include "audio/audioengine.h"

#include "audio/audiolog.h"
#include "audio/ffmpegsource.h"
#include "audio/limiter.h"
#include "audio/ringbuffer.h"
#include "audio/soundheads.h"
#include "audio/soundpath.h"
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

struct Stream {
    Stream(quint32 streamHandle, QString file, int bufferFrames, int channels)
        : handle(streamHandle), path(std::move(file)), ring(bufferFrames, channels) {}

    const quint32 handle;
    const QString path;
    std::unique_ptr<IDataSource> source; // set by the opener, then the worker's
    // The decoded start, when the sound was prepared: played first, while the source decodes what follows it. Set
    // before the stream is handed to the audio thread and never changed.
    std::shared_ptr<const SoundHead> head;
    int headPosition = 0;             // the audio thread's
    int skipFrames = 0;               // the worker's: frames of the source already in the head
    SampleRing ring;                  // worker writes, audio thread reads
    std::atomic<bool> playing{false}; // set by the controlling thread
    std::atomic<bool> freeRequested{false};
    std::atomic<bool> decodeDone{false}; // set after the last frame is in the ring (or when the file cannot be opened)
    std::atomic<bool> reported{false};   // the unplayable handler has been told about it
    std::atomic<qint64> firstAudio{0};   // set by the audio thread
    std::atomic<quint64> firstAudioPeriod{0};
    // Under the mutex:
    bool opening = false;    // the opener is working on it outside the lock: not to be destroyed
    bool opened = false;     // the source is set; the worker may decode
    bool openFailed = false; // the file cannot be decoded
    bool submitted = false;  // handed to the audio thread
    bool letGo = false;      // the audio thread will never touch it again
};

// SDL counts the users of its audio subsystem itself, so several engines (tests) do not shut it under each other.
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
// hint, which is the whole process's: the openings of all engines (each on a thread of its own) take turns.
SDL_AudioDeviceID openSdlOutput(const QByteArray& streamName, const QByteArray& device, const SDL_AudioSpec& wanted,
                                SDL_AudioSpec& obtained, int allowedChanges) {
    static std::mutex opening;
    std::lock_guard<std::mutex> lock(opening);
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, streamName.isEmpty() ? OutputStreamName : streamName.constData());
    return SDL_OpenAudioDevice(device.isEmpty() ? nullptr : device.constData(), 0, &wanted, &obtained, allowedChanges);
}

} // namespace

struct AudioEngine::State {
    EngineConfig config;
    AudioFormat output;
    // Written by the device thread while the device is closed; read by the controlling thread.
    std::atomic<int> periodFrames{0};
    // Live streams allowed, and streams held at most (live ones plus those the audio thread has yet to let go of).
    size_t maxLive = 1;
    size_t maxHeld = 2;
    QString driver;
    bool holdsSdl = false;
    UnplayableHandler unplayable;
    std::atomic<quint32> gain{0xFFFFFFFFu}; // left in the low half, right in the high half
    std::atomic<quint64> periodsRendered{0};
    platform::IThreadPriority* priority = nullptr;
    std::atomic<bool> freshDeviceThread{true}; // the device's thread has yet to ask for priority
    std::atomic<int> audioPriority{-1};        // the PriorityOutcome it got; -1 before it asked
    // The period as the machine sustains it: the callback counts the underruns, the device thread acts on them.
    UnderrunDetector underrunDetector; // the audio thread's (the device thread's while the device is closed)
    bool soundedLastPeriod = false;    // likewise: whether a sound played in the period last rendered
    std::atomic<quint32> underrunsPending{0};
    std::atomic<quint64> underrunsSeen{0};
    PeriodTuner tuner;   // the device thread's
    LoadWatch loadWatch; // likewise
    Clock::time_point lastLoadCheck{};
    std::unique_ptr<SoundHeadCache> heads;

    // Shared by the controlling thread, the opener and the worker; the audio thread never takes it.
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
    std::thread worker;
    std::thread opener;

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

    // The audio thread's, allocated before the first period. While the device is closed, the device thread stands
    // in for the audio thread (the device's own thread has ended by then, and starts only after it is done).
    std::vector<Stream*> active;
    std::vector<MixInput> inputs;
    std::vector<std::pair<Stream*, int>> consumed;
    Limiter limiter;
    // The last period that had a stream to play, for the idle timeout.
    std::atomic<qint64> lastBusy{0};

    explicit State(const EngineConfig& engineConfig) : config(engineConfig), tuner(engineConfig.periodPolicy) {
        maxLive = static_cast<size_t>(std::max(1, engineConfig.maxStreams));
        // Room for a burst of sounds giving way (every binding of one key, played in one go) before the audio
        // thread has let go of them.
        maxHeld = maxLive + std::max<size_t>(maxLive, 256);
        added = std::make_unique<PointerQueue<Stream>>(static_cast<int>(maxHeld));
        released = std::make_unique<PointerQueue<Stream>>(static_cast<int>(maxHeld));
        active.reserve(maxHeld);
        inputs.reserve(maxHeld * 2);
        consumed.reserve(maxHeld);
    }

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

    // Whether the unplayable handler is still to be told about a stream (only once). The handler is then called
    // with copies of its handle and path: the stream may be gone by then.
    bool claimReport(Stream* stream) { return unplayable && !stream->reported.exchange(true); }

    void render(float* out, int frames);
    void workerLoop();
    void openerLoop();

    // The first opening of the device, at the start: SDL's audio, then the device. False when either fails.
    bool openOutput();
    void deviceLoop();
    bool openDevice();
    void closeDevice();
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

    static void SDLCALL deviceCallback(void* user, Uint8* stream, int length);
};

void SDLCALL AudioEngine::State::deviceCallback(void* user, Uint8* stream, int length) {
    auto* state = static_cast<State*>(user);
    const int frames = length / static_cast<int>(sizeof(float) * static_cast<size_t>(state->output.channels));
    if (state->freshDeviceThread.exchange(false, std::memory_order_relaxed) && state->priority != nullptr) {
        const platform::PriorityResult result =
            state->priority->raiseCurrentThread("Audio output thread", AudioThreadPriority);
        state->audioPriority.store(static_cast<int>(result.outcome), std::memory_order_relaxed);
    }
    if (state->config.adaptivePeriod) {
        const qint64 now = state->config.callbackClock ? state->config.callbackClock() : nowNanos();
        // Running dry between two silences is not heard: only a sound cut short counts.
        if (state->underrunDetector.onCallback(now, frames, state->output.sampleRate) && state->soundedLastPeriod) {
            state->underrunsPending.fetch_add(1, std::memory_order_relaxed);
            state->underrunsSeen.fetch_add(1, std::memory_order_relaxed);
        }
    }
    state->render(reinterpret_cast<float*>(stream), frames);
}

void AudioEngine::State::render(float* out, int frames) {
    Stream* stream = nullptr;
    while (active.size() < active.capacity() && added->pop(stream)) {
        active.push_back(stream);
    }

    inputs.clear();
    consumed.clear();
    const qint64 now = nowNanos();
    const quint64 period = periodsRendered.fetch_add(1, std::memory_order_relaxed) + 1;
    bool busy = false;
    for (size_t i = 0; i < active.size();) {
        stream = active[i];
        bool letGo = stream->freeRequested.load(std::memory_order_acquire);
        if (!letGo && stream->playing.load(std::memory_order_acquire)) {
            busy = true;
            // Read the flag before the fill level: once decoding is done, an empty ring means the sound is over.
            const bool decodeDone = stream->decodeDone.load(std::memory_order_acquire);
            // The prepared start first, then what the decoder has put in the ring behind it.
            int fromHead = 0;
            if (const SoundHead* head = stream->head.get(); head != nullptr && stream->headPosition < head->frames) {
                fromHead = std::min(head->frames - stream->headPosition, frames);
                inputs.push_back(MixInput{head->samples.data() + static_cast<size_t>(stream->headPosition) *
                                                                     static_cast<size_t>(output.channels),
                                          fromHead, 0});
                stream->headPosition += fromHead;
            }
            const int count = std::min(stream->ring.readableFrames(), frames - fromHead);
            if (count > 0) {
                const float* first = nullptr;
                const float* second = nullptr;
                int firstFrames = 0;
                int secondFrames = 0;
                stream->ring.readPieces(count, first, firstFrames, second, secondFrames);
                inputs.push_back(MixInput{first, firstFrames, fromHead});
                if (secondFrames > 0) {
                    inputs.push_back(MixInput{second, secondFrames, fromHead + firstFrames});
                }
                consumed.emplace_back(stream, count);
            }
            if (fromHead + count > 0) {
                if (stream->firstAudio.load(std::memory_order_relaxed) == 0) {
                    stream->firstAudioPeriod.store(period, std::memory_order_relaxed);
                    stream->firstAudio.store(now, std::memory_order_release);
                }
            } else if (decodeDone) {
                letGo = true;
            }
        }
        if (letGo && released->push(stream)) {
            active[i] = active.back();
            active.pop_back();
            continue;
        }
        ++i;
    }
    if (busy) {
        lastBusy.store(now, std::memory_order_relaxed);
    }
    soundedLastPeriod = busy;

    const quint32 packedGain = gain.load(std::memory_order_relaxed);
    mixStreams(out, frames, output.channels, inputs.data(), inputs.size(),
               MasterGain{static_cast<quint16>(packedGain & 0xFFFFu), static_cast<quint16>(packedGain >> 16)});
    if (inputs.empty()) {
        // Nothing plays: the level of what played before is of no concern to the next sound, which would otherwise
        // start turned down after a loud burst was stopped.
        limiter.reset();
    } else {
        limiter.process(out, frames, output.channels);
    }
    for (const auto& [consumedStream, count] : consumed) {
        consumedStream->ring.consume(count);
    }
}

void AudioEngine::State::workerLoop() {
    // Streams to decode for, with the fill level each had when the round began (played ones counted emptier than
    // any that only wait to be played).
    std::vector<std::pair<int, Stream*>> work;
    std::vector<std::unique_ptr<Stream>> graveyard;
    if (priority != nullptr) {
        priority->raiseCurrentThread("Sound decoder", 0);
    }
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) {
        Stream* letGo = nullptr;
        while (released->pop(letGo)) {
            letGo->letGo = true;
        }
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
                work.emplace_back(stream->ring.readableFrames() - (played ? stream->ring.capacityFrames() : 0), stream);
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
void AudioEngine::State::openerLoop() {
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
        std::unique_ptr<IDataSource> source = FfmpegSource::open(path, output, &error, [this, stream] {
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

bool AudioEngine::State::openDevice() {
    SDL_AudioSpec wanted{};
    wanted.freq = output.sampleRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = static_cast<Uint8>(output.channels);
    wanted.samples = static_cast<Uint16>(periodFrames);
    wanted.callback = &State::deviceCallback;
    wanted.userdata = this;
    // The streams already opened are resampled to the format of the first opening: SDL converts if the device
    // now runs otherwise.
    SDL_AudioSpec obtained{};
    lastBusy.store(nowNanos(), std::memory_order_relaxed);
    // Each opening runs the callback on a thread of its own, which asks for its priority again.
    freshDeviceThread.store(true, std::memory_order_relaxed);
    // No callback runs now: the detector's history of the device before is of no use for this one.
    underrunDetector.reset();
    soundedLastPeriod = false;
    device = openSdlOutput(config.streamName, config.deviceName.toUtf8(), wanted, obtained, 0);
    if (device == 0) {
        return false;
    }
    deviceOpenings.fetch_add(1, std::memory_order_relaxed);
    openedAt = Clock::now();
    SDL_PauseAudioDevice(device, 0);
    return true;
}

void AudioEngine::State::closeDevice() {
    if (device != 0) {
        // Waits for a running callback to return and ends the device's thread.
        SDL_CloseAudioDevice(device);
        device = 0;
    }
}

bool AudioEngine::State::deviceLost(quint64& lastPeriods, Clock::time_point& lastProgress) {
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

bool AudioEngine::State::idleLongEnough() const {
    if (config.idleTimeout <= 0ms) {
        return false;
    }
    const auto idle = std::chrono::nanoseconds(nowNanos() - lastBusy.load(std::memory_order_relaxed));
    return idle >= config.idleTimeout;
}

int AudioEngine::State::tunedPeriod(bool opening) {
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

bool AudioEngine::State::tendWhileClosed(bool dropPlaying) {
    Stream* stream = nullptr;
    while (active.size() < active.capacity() && added->pop(stream)) {
        active.push_back(stream);
    }
    std::vector<std::pair<quint32, QString>> unheard;
    bool waiting = false;
    for (size_t i = 0; i < active.size();) {
        stream = active[i];
        bool letGo = stream->freeRequested.load(std::memory_order_acquire);
        if (!letGo && stream->playing.load(std::memory_order_acquire)) {
            if (dropPlaying) {
                // A sound cut off by the loss is not repeated elsewhere; one that never got out goes to the handler.
                if (stream->firstAudio.load(std::memory_order_relaxed) == 0 && claimReport(stream)) {
                    unheard.emplace_back(stream->handle, stream->path);
                }
                letGo = true;
            } else {
                waiting = true;
            }
        }
        if (letGo && released->push(stream)) {
            active[i] = active.back();
            active.pop_back();
            continue;
        }
        ++i;
    }
    for (const auto& [handle, path] : unheard) {
        unplayable(handle, path, Unplayable::NoOutput);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        kick = true;
    }
    wake.notify_one();
    return waiting;
}

// The device's life after start(): running, paused when idle, lost and tried again.
void AudioEngine::State::deviceLoop() {
    const auto checkInterval = config.idleTimeout > 0ms
                                   ? std::min<Clock::duration>(DeviceCheckInterval, config.idleTimeout / 4)
                                   : Clock::duration(DeviceCheckInterval);
    quint64 lastPeriods = periodsRendered.load(std::memory_order_relaxed);
    Clock::time_point lastProgress = Clock::now();
    Clock::time_point lastAttempt = Clock::now();
    // The device closed for another opening did not open: lost, tried again every second from now on.
    const auto cannotReopen = [&] {
        outputState.store(OutputState::Lost, std::memory_order_relaxed);
        qCWarning(lcAudio) << "Audio output cannot be opened again:" << SDL_GetError()
                           << "; sounds go to the system player until it can";
        tendWhileClosed(true);
        lastAttempt = Clock::now();
    };
    std::unique_lock<std::mutex> lock(deviceMutex);
    while (!deviceQuit) {
        const OutputState state = outputState.load(std::memory_order_relaxed);
        if (state == OutputState::Running) {
            deviceWake.wait_for(lock, checkInterval, [this] { return deviceQuit; });
            if (deviceQuit) {
                break;
            }
            // A sound played since the last look keeps the device open, even before a period has seen it.
            const bool played = std::exchange(deviceKick, false);
            lock.unlock();
            if (config.adaptivePeriod) {
                loadWatch.tick(nowNanos());
            }
            if (deviceLost(lastPeriods, lastProgress)) {
                closeDevice();
                outputState.store(OutputState::Lost, std::memory_order_relaxed);
                qCWarning(lcAudio) << "Audio output lost (the sound server stopped or the device went away);"
                                   << "sounds go to the system player until it can be opened again";
                tendWhileClosed(true);
                lastAttempt = Clock::now();
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
                periodFrames.store(next, std::memory_order_relaxed);
                if (openDevice()) {
                    lastPeriods = periodsRendered.load(std::memory_order_relaxed);
                    lastProgress = Clock::now();
                } else {
                    cannotReopen();
                }
            }
            lock.lock();
        } else if (state == OutputState::Paused) {
            if (config.adaptivePeriod) {
                // The load is read now and then, so the opening for the next sound judges it over the last second.
                loadWatch.tick(nowNanos());
                deviceWake.wait_for(lock, LoadReadingInterval, [this] { return deviceQuit || deviceKick; });
            } else {
                deviceWake.wait(lock, [this] { return deviceQuit || deviceKick; });
            }
            if (deviceQuit) {
                break;
            }
            if (!std::exchange(deviceKick, false)) {
                continue;
            }
            lock.unlock();
            if (tendWhileClosed(false)) {
                if (config.adaptivePeriod) {
                    // Closed for a while without sound: a good moment to try a smaller period again.
                    underrunsPending.store(0, std::memory_order_relaxed);
                    if (const int next = tunedPeriod(true); next != 0) {
                        periodFrames.store(next, std::memory_order_relaxed);
                    }
                }
                if (openDevice()) {
                    outputState.store(OutputState::Running, std::memory_order_relaxed);
                    lastPeriods = periodsRendered.load(std::memory_order_relaxed);
                    lastProgress = Clock::now();
                    qCDebug(lcAudio) << "Audio output opened again for a sound";
                } else {
                    cannotReopen();
                }
            }
            lock.lock();
        } else {
            // Lost: tried again every second, and for every sound played meanwhile as soon as the spacing of the
            // attempts allows; a sound is given up (and goes to the fallback) only after an attempt has failed.
            if (!config.reopenAfterLoss) {
                // Lost for good: what is played goes nowhere (or to the handler).
                deviceWake.wait(lock, [this] { return deviceQuit || deviceKick; });
                deviceKick = false;
                lock.unlock();
                tendWhileClosed(true);
                lock.lock();
                continue;
            }
            deviceWake.wait_until(lock, lastAttempt + ReopenInterval, [this] { return deviceQuit || deviceKick; });
            if (deviceKick) {
                deviceKick = false;
                deviceWake.wait_until(lock, lastAttempt + ReopenSpacing, [this] { return deviceQuit; });
            }
            if (deviceQuit) {
                break;
            }
            lock.unlock();
            lastAttempt = Clock::now();
            if (openDevice()) {
                outputState.store(OutputState::Running, std::memory_order_relaxed);
                lastPeriods = periodsRendered.load(std::memory_order_relaxed);
                lastProgress = Clock::now();
                qCInfo(lcAudio) << "Audio output is back:" << SDL_GetCurrentAudioDriver();
            } else {
                qCDebug(lcAudio) << "Audio output still unavailable:" << SDL_GetError();
                tendWhileClosed(true);
            }
            lock.lock();
        }
    }
    lock.unlock();
    closeDevice();
    lock.lock();
    deviceThreadDone = true;
    lock.unlock();
    deviceWake.notify_all();
}

AudioEngine::AudioEngine() = default;

AudioEngine::~AudioEngine() {
    shutdown();
}

void AudioEngine::setUnplayableHandler(UnplayableHandler handler) {
    m_unplayable = std::move(handler);
}

namespace {

bool validConfig(const EngineConfig& config) {
    if (config.sampleRate <= 0 || config.channels <= 0 || config.periodFrames <= 0 || config.streamBufferFrames <= 0) {
        qCWarning(lcAudio) << "Invalid audio output settings";
        return false;
    }
    return true;
}

} // namespace

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
    auto state = std::make_unique<State>(config);
    state->output = AudioFormat{config.sampleRate, config.channels};
    // An adaptive period starts at the smallest the tuner tries; the load is judged from here on (the program's own
    // start-up is no measure of it).
    if (config.adaptivePeriod) {
        state->loadWatch.tick(nowNanos());
    }
    state->periodFrames = config.adaptivePeriod ? state->tuner.period() : config.periodFrames;
    state->unplayable = m_unplayable;
    state->priority = &platform::threadPriority();
    return state;
}

bool AudioEngine::State::openOutput() {
    if (!acquireSdlAudio(config.drivers)) {
        return false;
    }
    holdsSdl = true;
    SDL_AudioSpec wanted{};
    wanted.freq = config.sampleRate;
    if (config.preferDeviceRate && config.deviceName.isEmpty()) {
        char* defaultName = nullptr;
        SDL_AudioSpec defaultDevice{};
        if (SDL_GetDefaultAudioInfo(&defaultName, &defaultDevice, 0) == 0 && defaultDevice.freq > 0) {
            wanted.freq = defaultDevice.freq;
        }
        SDL_free(defaultName);
    }
    wanted.format = AUDIO_F32SYS;
    wanted.channels = static_cast<Uint8>(config.channels);
    wanted.samples = static_cast<Uint16>(periodFrames.load());
    wanted.callback = &State::deviceCallback;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // The period size is not left to the driver: SDL 2.26's dummy driver corrupts the heap on close when it
    // changes it, and a driver's own choice is often far above the 10 ms we want.
    device = openSdlOutput(config.streamName, config.deviceName.toUtf8(), wanted, obtained,
                           SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
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
                    << "frames per period";
    if (config.closedUntilFirstSound && config.idleTimeout > 0ms) {
        // It opened, so it works; until a sound comes it costs nothing and the sound server's sink can sleep.
        closeDevice();
        outputState.store(OutputState::Paused, std::memory_order_relaxed);
    }
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
    if (config.useDevice && !state->openOutput()) {
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
        const bool opened = opening->state->openOutput();
        std::unique_lock<std::mutex> lock(opening->mutex);
        if (opening->abandoned) {
            // Nobody waits for it any more: it goes as it came.
            std::unique_ptr<State> state = std::move(opening->state);
            lock.unlock();
            state->closeDevice();
            if (state->holdsSdl) {
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

void AudioEngine::run(std::unique_ptr<State> state) {
    state->gain.store(static_cast<quint32>(m_gain.left) | (static_cast<quint32>(m_gain.right) << 16));
    state->limiter = Limiter(state->output.sampleRate);
    if (state->config.headSeconds > 0) {
        state->heads = std::make_unique<SoundHeadCache>(
            state->output, static_cast<int>(state->config.headSeconds * state->output.sampleRate),
            state->config.headBudgetBytes);
        state->heads->prepare(m_soundsToPrepare, m_resolveToPrepare);
    }
    state->lastBusy = nowNanos();

    m_renderChannels = state->output.channels;
    State* raw = state.get();
    state->worker = std::thread([raw] { raw->workerLoop(); });
    state->opener = std::thread([raw] { raw->openerLoop(); });
    m_state = std::move(state);
    if (m_state->config.useDevice) {
        if (m_state->device != 0) {
            SDL_PauseAudioDevice(m_state->device, 0);
        }
        m_state->deviceThread = std::thread([raw] { raw->deviceLoop(); });
    }
}

void AudioEngine::shutdown() {
    if (m_opening) {
        abandonOpening();
    }
    if (!m_state) {
        return;
    }
    // The device thread closes the device on its way out; closing waits for a running callback to return, and after
    // it nothing reads the rings.
    if (m_state->deviceThread.joinable()) {
        std::unique_lock<std::mutex> lock(m_state->deviceMutex);
        m_state->deviceQuit = true;
        m_state->deviceWake.notify_all();
        if (!m_state->deviceWake.wait_for(lock, DeviceThreadEndTimeout, [this] { return m_state->deviceThreadDone; })) {
            lock.unlock();
            abandon();
            return;
        }
        lock.unlock();
        m_state->deviceThread.join();
    }
    m_state->closeDevice();
    m_state->ending.store(true, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->quit = true;
    }
    m_state->wake.notify_all();
    m_state->openWake.notify_all();
    m_state->opener.join();
    m_state->worker.join();
    const bool holdsSdl = m_state->holdsSdl;
    m_state.reset();
    if (holdsSdl) {
        releaseSdlAudio();
    }
}

void AudioEngine::abandon() {
    qCWarning(lcAudio) << "The audio output does not answer; it is left behind";
    // Its thread may yet come back and will use the engine's state then, as will the threads that feed the streams
    // it holds: all of it stays, unowned, for the life of the process, and so does SDL's audio.
    m_state->deviceThread.detach();
    m_state->worker.detach();
    m_state->opener.detach();
    [[maybe_unused]] State* abandoned = m_state.release();
}

bool AudioEngine::isRunning() const {
    return m_state != nullptr;
}

OutputState AudioEngine::outputState() const {
    if (m_opening) {
        return OutputState::Opening;
    }
    return m_state ? m_state->outputState.load(std::memory_order_relaxed) : OutputState::Stopped;
}

AudioFormat AudioEngine::outputFormat() const {
    return m_state ? m_state->output : AudioFormat{};
}

int AudioEngine::periodFrames() const {
    return m_state ? m_state->periodFrames.load(std::memory_order_relaxed) : 0;
}

quint64 AudioEngine::underruns() const {
    return m_state ? m_state->underrunsSeen.load(std::memory_order_relaxed) : 0;
}

QString AudioEngine::diagnostics() const {
    if (m_opening) {
        return QStringLiteral("audio output opening: the sound server has not answered yet");
    }
    if (!m_state) {
        return QStringLiteral("audio output not running");
    }
    const State& state = *m_state;
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
    if (state.heads) {
        line += QStringLiteral(", %1 KiB of sound starts decoded ahead").arg(state.heads->keptBytes() / 1024);
    }
    return line;
}

void AudioEngine::prepareSounds(const QStringList& names, std::function<QString(const QString&)> resolve) {
    m_soundsToPrepare = names;
    m_resolveToPrepare = std::move(resolve);
    if (m_state && m_state->heads) {
        m_state->heads->prepare(names, m_resolveToPrepare);
    }
}

bool AudioEngine::waitUntilPrepared(int timeoutMs) {
    return !m_state || !m_state->heads || m_state->heads->waitUntilIdle(timeoutMs);
}

QString AudioEngine::outputDriver() const {
    return m_state ? m_state->driver : QString();
}

quint32 AudioEngine::openStream(const QString& path) {
    if (!m_state || !isRegularFile(path)) {
        return 0;
    }
    std::shared_ptr<const SoundHead> head = m_state->heads ? m_state->heads->find(path) : nullptr;
    if (head &&
        (head->format.sampleRate != m_state->output.sampleRate || head->format.channels != m_state->output.channels)) {
        head.reset();
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    size_t live = 0;
    Stream* oldest = nullptr;
    for (const auto& stream : m_state->streams) {
        if (!stream->freeRequested.load(std::memory_order_relaxed) && !stream->openFailed) {
            if (oldest == nullptr) {
                oldest = stream.get();
            }
            ++live;
        }
    }
    if (live >= m_state->maxLive && oldest != nullptr) {
        qCDebug(lcAudio) << "Too many sounds at once; the oldest gives way";
        m_state->requestFree(oldest);
        m_state->kickDevice();
    }
    // Given-way streams are let go of within a period or two; only an output that has stopped pulling can leave
    // this many behind.
    if (m_state->streams.size() >= m_state->maxHeld) {
        qCWarning(lcAudio) << "Too many sounds waiting to be released; not playing" << path;
        return 0;
    }
    const quint32 handle = m_nextHandle++;
    if (m_nextHandle == 0) {
        m_nextHandle = 1;
    }
    auto stream = std::make_unique<Stream>(handle, path, m_state->config.streamBufferFrames, m_state->output.channels);
    m_state->handles.emplace(handle, stream.get());
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
        m_state->toOpen.push_back(stream.get());
        m_state->openWake.notify_one();
    }
    m_state->streams.push_back(std::move(stream));
    return handle;
}

bool AudioEngine::play(quint32 handle) {
    if (!m_state) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        Stream* stream = m_state->find(handle);
        if (stream == nullptr || stream->openFailed) {
            return false;
        }
        stream->playing.store(true, std::memory_order_release);
        if (!stream->submitted) {
            if (!m_state->added->push(stream)) {
                stream->playing.store(false, std::memory_order_release);
                return false;
            }
            stream->submitted = true;
        }
    }
    m_state->kickDevice();
    return true;
}

void AudioEngine::stop(quint32 handle) {
    if (!m_state) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (Stream* stream = m_state->find(handle)) {
        stream->playing.store(false, std::memory_order_release);
    }
}

void AudioEngine::free(quint32 handle) {
    if (!m_state) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        Stream* stream = m_state->find(handle);
        if (stream == nullptr) {
            return;
        }
        m_state->requestFree(stream);
    }
    m_state->kickDevice();
}

void AudioEngine::stopAll() {
    if (!m_state) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        for (const auto& [handle, stream] : m_state->handles) {
            stream->playing.store(false, std::memory_order_release);
            stream->freeRequested.store(true, std::memory_order_release);
        }
        m_state->handles.clear();
        m_state->kick = true;
        m_state->wake.notify_one();
    }
    m_state->kickDevice();
}

void AudioEngine::setMasterGain(MasterGain gain) {
    if (m_state) {
        m_state->gain.store(static_cast<quint32>(gain.left) | (static_cast<quint32>(gain.right) << 16),
                            std::memory_order_relaxed);
    }
    m_gain = gain;
}

MasterGain AudioEngine::masterGain() const {
    return m_gain;
}

void AudioEngine::render(float* out, int frames) {
    if (m_state && !m_state->config.useDevice) {
        m_state->render(out, frames);
    } else if (frames > 0) {
        std::fill_n(out, static_cast<size_t>(frames) * static_cast<size_t>(m_renderChannels), 0.0f);
    }
}

int AudioEngine::heldStreams() const {
    if (!m_state) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return static_cast<int>(m_state->streams.size());
}

bool AudioEngine::isDecodedAhead(quint32 handle) const {
    if (!m_state) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const Stream* stream = m_state->find(handle);
    return stream != nullptr && stream->opened &&
           (stream->decodeDone.load(std::memory_order_acquire) || stream->ring.writableFrames() == 0);
}

AudioEngine::FirstAudio AudioEngine::firstAudio(quint32 handle) const {
    if (!m_state) {
        return {};
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const Stream* stream = m_state->find(handle);
    if (stream == nullptr) {
        return {};
    }
    FirstAudio first;
    first.nanos = stream->firstAudio.load(std::memory_order_acquire);
    first.period = first.nanos != 0 ? stream->firstAudioPeriod.load(std::memory_order_relaxed) : 0;
    return first;
}

quint64 AudioEngine::periodsRendered() const {
    return m_state ? m_state->periodsRendered.load(std::memory_order_relaxed) : 0;
}

int AudioEngine::deviceOpenings() const {
    return m_state ? m_state->deviceOpenings.load(std::memory_order_relaxed) : 0;
}

} // namespace clavora::audio
