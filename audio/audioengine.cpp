// The audio engine: device, decode worker, stream table and the period render.
#include "audio/audioengine.h"

#include "audio/audiolog.h"
#include "audio/ffmpegsource.h"
#include "audio/ringbuffer.h"

#include <QFile>

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>
#include <vector>

namespace clavora::audio {

namespace {

// Decoded per step of the worker, so a new stream gets its first audio without waiting for others to fill up.
constexpr int DecodeChunkFrames = 1024;
// How often the worker tops up the rings while anything is held.
constexpr auto RefillInterval = std::chrono::milliseconds(4);

qint64 nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool isRegularFile(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

struct Stream {
    Stream(quint32 handle, std::unique_ptr<IDataSource> source, int bufferFrames, int channels)
        : handle(handle), source(std::move(source)), ring(bufferFrames, channels) {}

    const quint32 handle;
    std::unique_ptr<IDataSource> source; // worker only once the stream is published
    SampleRing ring;                     // worker writes, audio thread reads
    std::atomic<bool> playing{false};    // set by the controlling thread
    std::atomic<bool> freeRequested{false};
    std::atomic<bool> decodeDone{false}; // set by the worker after the last frame is in the ring
    std::atomic<qint64> firstAudio{0};   // set by the audio thread
    std::atomic<quint64> firstAudioPeriod{0};
    bool submitted = false; // handed to the audio thread; under the mutex
    bool letGo = false;     // the audio thread will never touch it again; under the mutex
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
    QString driver;
    SDL_AudioDeviceID device = 0;
    bool holdsSdl = false;
    std::atomic<quint32> gain{0xFFFFFFFFu}; // left in the low half, right in the high half
    std::atomic<quint64> periodsRendered{0};

    // Shared by the controlling thread and the worker; the audio thread never takes it.
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool kick = false;
    bool quit = false;
    // Set with kick; read by the worker between two chunks without the lock, so a new sound need not wait for a
    // whole round over the sounds already playing.
    std::atomic<bool> newStream{false};
    std::vector<std::unique_ptr<Stream>> streams;
    std::unordered_map<quint32, Stream*> handles;
    std::thread worker;

    // Controlling thread -> audio thread: streams to mix. Audio thread -> worker: streams it let go of.
    std::unique_ptr<PointerQueue<Stream>> added;
    std::unique_ptr<PointerQueue<Stream>> released;

    // Audio thread only, allocated before the first period.
    std::vector<Stream*> active;
    std::vector<MixInput> inputs;
    std::vector<std::pair<Stream*, int>> consumed;

    explicit State(const EngineConfig& config) : config(config) {
        const int limit = std::max(1, config.maxStreams);
        added = std::make_unique<PointerQueue<Stream>>(limit);
        released = std::make_unique<PointerQueue<Stream>>(limit);
        active.reserve(static_cast<size_t>(limit));
        inputs.reserve(static_cast<size_t>(limit) * 2);
        consumed.reserve(static_cast<size_t>(limit));
    }

    Stream* find(quint32 handle) const {
        auto it = handles.find(handle);
        return it == handles.end() ? nullptr : it->second;
    }

    void render(float* out, int frames);
    void workerLoop();
    static void SDLCALL deviceCallback(void* user, Uint8* stream, int length);
};

void SDLCALL AudioEngine::State::deviceCallback(void* user, Uint8* stream, int length) {
    auto* state = static_cast<State*>(user);
    const int frames = length / static_cast<int>(sizeof(float) * static_cast<size_t>(state->output.channels));
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
    for (size_t i = 0; i < active.size();) {
        stream = active[i];
        bool letGo = stream->freeRequested.load(std::memory_order_acquire);
        if (!letGo && stream->playing.load(std::memory_order_acquire)) {
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

    const quint32 packedGain = gain.load(std::memory_order_relaxed);
    mixStreams(out, frames, output.channels, inputs.data(), inputs.size(),
               MasterGain{static_cast<quint16>(packedGain & 0xFFFFu), static_cast<quint16>(packedGain >> 16)});
    for (const auto& [consumedStream, count] : consumed) {
        consumedStream->ring.consume(count);
    }
}

void AudioEngine::State::workerLoop() {
    // Streams to decode for, with the fill level each had when the round began.
    std::vector<std::pair<int, Stream*>> work;
    std::vector<std::unique_ptr<Stream>> graveyard;
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
            if (stream->letGo || (freed && !stream->submitted)) {
                auto handle = handles.find(stream->handle);
                if (handle != handles.end() && handle->second == stream) {
                    handles.erase(handle);
                }
                graveyard.push_back(std::move(*it));
                it = streams.erase(it);
                continue;
            }
            if (!freed && !stream->decodeDone.load(std::memory_order_relaxed)) {
                work.emplace_back(stream->ring.readableFrames(), stream);
            }
            ++it;
        }
        kick = false;
        newStream.store(false, std::memory_order_relaxed);
        lock.unlock();

        // Closing decoders and files happens here, outside the lock and far from the audio thread.
        graveyard.clear();
        // The emptiest rings first: a sound just started, or one about to run dry. Ordered by the levels taken
        // above, never by live ones: the audio thread drains the rings meanwhile, and a sort whose order changes
        // under it runs off the ends of its array.
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

AudioEngine::AudioEngine() = default;

AudioEngine::~AudioEngine() {
    shutdown();
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
        state->output.sampleRate = obtained.freq;
        state->periodFrames = obtained.samples;
        state->driver = QString::fromUtf8(SDL_GetCurrentAudioDriver());
        qCInfo(lcAudio) << "Audio output:" << SDL_GetCurrentAudioDriver() << obtained.freq << "Hz," << obtained.samples
                        << "frames per period";
    }

    m_renderChannels = state->output.channels;
    State* raw = state.get();
    state->worker = std::thread([raw] { raw->workerLoop(); });
    m_state = std::move(state);
    if (m_state->device != 0) {
        SDL_PauseAudioDevice(m_state->device, 0);
    }
    return true;
}

void AudioEngine::shutdown() {
    if (!m_state) {
        return;
    }
    // Closing the device waits for a running callback to return; after it nothing reads the rings.
    if (m_state->device != 0) {
        SDL_CloseAudioDevice(m_state->device);
        m_state->device = 0;
    }
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->quit = true;
    }
    m_state->wake.notify_all();
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
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->streams.size() >= static_cast<size_t>(std::max(1, m_state->config.maxStreams))) {
            qCWarning(lcAudio) << "Too many sounds at once; not playing" << path;
            return 0;
        }
    }
    QString error;
    std::unique_ptr<IDataSource> source = FfmpegSource::open(path, m_state->output, &error);
    if (!source) {
        qCDebug(lcAudio) << "Cannot decode" << path << ":" << error;
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const quint32 handle = m_nextHandle++;
    if (m_nextHandle == 0) {
        m_nextHandle = 1;
    }
    auto stream = std::make_unique<Stream>(handle, std::move(source), m_state->config.streamBufferFrames,
                                           m_state->output.channels);
    m_state->handles.emplace(handle, stream.get());
    m_state->streams.push_back(std::move(stream));
    m_state->kick = true;
    m_state->newStream.store(true, std::memory_order_relaxed);
    m_state->wake.notify_one();
    return handle;
}

bool AudioEngine::play(quint32 handle) {
    if (!m_state) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    Stream* stream = m_state->find(handle);
    if (stream == nullptr) {
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
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (Stream* stream = m_state->find(handle)) {
        stream->playing.store(false, std::memory_order_release);
        stream->freeRequested.store(true, std::memory_order_release);
        m_state->handles.erase(handle);
        m_state->kick = true;
        m_state->wake.notify_one();
    }
}

void AudioEngine::stopAll() {
    if (!m_state) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    for (const auto& [handle, stream] : m_state->handles) {
        stream->playing.store(false, std::memory_order_release);
        stream->freeRequested.store(true, std::memory_order_release);
    }
    m_state->handles.clear();
    m_state->kick = true;
    m_state->wake.notify_one();
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
    if (m_state && m_state->device == 0) {
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
    return stream != nullptr &&
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

} // namespace clavora::audio
