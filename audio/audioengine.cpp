// The audio engine: device and its supervision, opener, decode worker, stream table and the period render.
#include "audio/audioengine.h"

#include "audio/audiolog.h"
#include "audio/ffmpegsource.h"
#include "audio/limiter.h"
#include "audio/ringbuffer.h"
#include "platform/threadpriority.h"

#include <QFile>

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sys/stat.h>
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
// A device whose callback has not run for this long is taken as lost even when SDL does not say so. Longer than the
// two seconds a PulseAudio null sink may hold up a new stream.
constexpr auto StallTimeout = 3000ms;

qint64 nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

bool isRegularFile(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

struct Stream {
    Stream(quint32 handle, QString path, int bufferFrames, int channels)
        : handle(handle), path(std::move(path)), ring(bufferFrames, channels) {}

    const quint32 handle;
    const QString path;
    std::unique_ptr<IDataSource> source; // set by the opener, then the worker's
    SampleRing ring;                     // worker writes, audio thread reads
    std::atomic<bool> playing{false};    // set by the controlling thread
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
bool acquireSdlAudio() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Clavora");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, OutputStreamName);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        qCWarning(lcAudio) << "Audio subsystem unavailable:" << SDL_GetError();
        return false;
    }
    return true;
}

void releaseSdlAudio() {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

} // namespace

struct AudioEngine::State {
    EngineConfig config;
    AudioFormat output;
    int periodFrames = 0;
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

    // Shared by the controlling thread, the opener and the worker; the audio thread never takes it.
    mutable std::mutex mutex;
    std::condition_variable wake;     // the worker's
    std::condition_variable openWake; // the opener's
    bool kick = false;
    bool quit = false;
    // Set with kick; read by the worker between two chunks without the lock, so a new sound need not wait for a
    // whole round over the sounds already playing.
    std::atomic<bool> newStream{false};
    std::vector<std::unique_ptr<Stream>> streams; // in the order they were opened
    std::unordered_map<quint32, Stream*> handles;
    std::deque<Stream*> toOpen;
    std::thread worker;
    std::thread opener;

    // The device. Opened by start() on the controlling thread, from then on the device thread's alone.
    SDL_AudioDeviceID device = 0;
    std::mutex deviceMutex;
    std::condition_variable deviceWake;
    bool deviceKick = false; // a stream was played or freed
    bool deviceQuit = false;
    std::atomic<OutputState> outputState{OutputState::Running};
    std::atomic<int> deviceOpenings{0};
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

    explicit State(const EngineConfig& config) : config(config) {
        maxLive = static_cast<size_t>(std::max(1, config.maxStreams));
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

    void deviceLoop();
    bool openDevice();
    void closeDevice();
    bool deviceLost(quint64& lastPeriods, Clock::time_point& lastProgress);
    bool idleLongEnough() const;
    // Audio-thread work while the device is closed: takes in the streams played meanwhile and lets go of those
    // freed. With `dropPlaying`, also of those played: no device can play them. True when a stream waits to play.
    bool tendWhileClosed(bool dropPlaying);

    static void SDLCALL deviceCallback(void* user, Uint8* stream, int length);
};

void SDLCALL AudioEngine::State::deviceCallback(void* user, Uint8* stream, int length) {
    auto* state = static_cast<State*>(user);
    const int frames = length / static_cast<int>(sizeof(float) * static_cast<size_t>(state->output.channels));
    if (state->freshDeviceThread.exchange(false, std::memory_order_relaxed) && state->priority != nullptr) {
        state->priority->raiseCurrentThread("Audio output thread", AudioThreadPriority);
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
            const int count = std::min(stream->ring.readableFrames(), frames);
            if (count > 0) {
                const float* first = nullptr;
                const float* second = nullptr;
                int firstFrames = 0;
                int secondFrames = 0;
                stream->ring.readPieces(count, first, firstFrames, second, secondFrames);
                inputs.push_back(MixInput{first, firstFrames, 0});
                if (secondFrames > 0) {
                    inputs.push_back(MixInput{second, secondFrames, firstFrames});
                }
                consumed.emplace_back(stream, count);
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
        std::unique_ptr<IDataSource> source = FfmpegSource::open(path, output, &error);

        lock.lock();
        stream->opening = false;
        if (source) {
            stream->source = std::move(source);
            stream->opened = true;
            newStream.store(true, std::memory_order_relaxed);
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
                unplayable(handle, path);
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
    const QByteArray name = config.deviceName.toUtf8();
    device = SDL_OpenAudioDevice(name.isEmpty() ? nullptr : name.constData(), 0, &wanted, &obtained, 0);
    if (device == 0) {
        return false;
    }
    deviceOpenings.fetch_add(1, std::memory_order_relaxed);
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
        unplayable(handle, path);
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
            }
            lock.lock();
        } else if (state == OutputState::Paused) {
            deviceWake.wait(lock, [this] { return deviceQuit || deviceKick; });
            if (deviceQuit) {
                break;
            }
            deviceKick = false;
            lock.unlock();
            if (tendWhileClosed(false)) {
                if (openDevice()) {
                    outputState.store(OutputState::Running, std::memory_order_relaxed);
                    lastPeriods = periodsRendered.load(std::memory_order_relaxed);
                    lastProgress = Clock::now();
                    qCDebug(lcAudio) << "Audio output opened again for a sound";
                } else {
                    outputState.store(OutputState::Lost, std::memory_order_relaxed);
                    qCWarning(lcAudio) << "Audio output cannot be opened again:" << SDL_GetError()
                                       << "; sounds go to the system player until it can";
                    tendWhileClosed(true);
                    lastAttempt = Clock::now();
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
}

AudioEngine::AudioEngine() = default;

AudioEngine::~AudioEngine() {
    shutdown();
}

void AudioEngine::setUnplayableHandler(UnplayableHandler handler) {
    m_unplayable = std::move(handler);
}

bool AudioEngine::start(const EngineConfig& config) {
    if (m_state) {
        return true;
    }
    if (config.sampleRate <= 0 || config.channels <= 0 || config.periodFrames <= 0 || config.streamBufferFrames <= 0) {
        qCWarning(lcAudio) << "Invalid audio output settings";
        return false;
    }
    auto state = std::make_unique<State>(config);
    state->output = AudioFormat{config.sampleRate, config.channels};
    state->periodFrames = config.periodFrames;
    state->unplayable = m_unplayable;
    state->priority = &platform::threadPriority();
    state->gain.store(static_cast<quint32>(m_gain.left) | (static_cast<quint32>(m_gain.right) << 16));

    if (config.useDevice) {
        if (!acquireSdlAudio()) {
            return false;
        }
        state->holdsSdl = true;
        SDL_AudioSpec wanted{};
        wanted.freq = config.sampleRate;
        wanted.format = AUDIO_F32SYS;
        wanted.channels = static_cast<Uint8>(config.channels);
        wanted.samples = static_cast<Uint16>(config.periodFrames);
        wanted.callback = &State::deviceCallback;
        wanted.userdata = state.get();
        SDL_AudioSpec obtained{};
        // The period size is not left to the driver: SDL 2.26's dummy driver corrupts the heap on close when it
        // changes it, and a driver's own choice is often far above the 10 ms we want.
        const QByteArray deviceName = config.deviceName.toUtf8();
        state->device = SDL_OpenAudioDevice(deviceName.isEmpty() ? nullptr : deviceName.constData(), 0, &wanted,
                                            &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (state->device == 0) {
            qCWarning(lcAudio) << "Cannot open the audio output:" << SDL_GetError();
            releaseSdlAudio();
            return false;
        }
        state->deviceOpenings = 1;
        state->output.sampleRate = obtained.freq;
        state->periodFrames = obtained.samples;
        state->driver = QString::fromUtf8(SDL_GetCurrentAudioDriver());
        qCInfo(lcAudio) << "Audio output:" << SDL_GetCurrentAudioDriver() << obtained.freq << "Hz," << obtained.samples
                        << "frames per period";
    }
    state->limiter = Limiter(state->output.sampleRate);
    state->lastBusy = nowNanos();

    m_renderChannels = state->output.channels;
    State* raw = state.get();
    state->worker = std::thread([raw] { raw->workerLoop(); });
    state->opener = std::thread([raw] { raw->openerLoop(); });
    m_state = std::move(state);
    if (m_state->device != 0) {
        SDL_PauseAudioDevice(m_state->device, 0);
        m_state->deviceThread = std::thread([raw] { raw->deviceLoop(); });
    }
    return true;
}

void AudioEngine::shutdown() {
    if (!m_state) {
        return;
    }
    // The device thread closes the device on its way out; closing waits for a running callback to return, and after
    // it nothing reads the rings.
    if (m_state->deviceThread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_state->deviceMutex);
            m_state->deviceQuit = true;
        }
        m_state->deviceWake.notify_all();
        m_state->deviceThread.join();
    }
    m_state->closeDevice();
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

bool AudioEngine::isRunning() const {
    return m_state != nullptr;
}

OutputState AudioEngine::outputState() const {
    return m_state ? m_state->outputState.load(std::memory_order_relaxed) : OutputState::Stopped;
}

AudioFormat AudioEngine::outputFormat() const {
    return m_state ? m_state->output : AudioFormat{};
}

int AudioEngine::periodFrames() const {
    return m_state ? m_state->periodFrames : 0;
}

QString AudioEngine::outputDriver() const {
    return m_state ? m_state->driver : QString();
}

quint32 AudioEngine::openStream(const QString& path) {
    if (!m_state || !isRegularFile(path)) {
        return 0;
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
    m_state->toOpen.push_back(stream.get());
    m_state->streams.push_back(std::move(stream));
    m_state->openWake.notify_one();
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
