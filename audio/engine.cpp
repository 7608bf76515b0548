// The audio engine: device, decode worker, stream table and the period render.
#include "audio/engine.h"

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

struct TStream {
    TStream(quint32 handle, std::unique_ptr<IDataSource> source, int bufferFrames, int channels)
        : Handle(handle), Source(std::move(source)), Ring(bufferFrames, channels) {}

    const quint32 Handle;
    std::unique_ptr<IDataSource> Source; // worker only once the stream is published
    TSampleRing Ring;                    // worker writes, audio thread reads
    std::atomic<bool> Playing{false};    // set by the controlling thread
    std::atomic<bool> FreeRequested{false};
    std::atomic<bool> DecodeDone{false}; // set by the worker after the last frame is in the ring
    std::atomic<qint64> FirstAudio{0};   // set by the audio thread
    std::atomic<quint64> FirstAudioPeriod{0};
    bool Submitted = false; // handed to the audio thread; under the mutex
    bool LetGo = false;     // the audio thread will never touch it again; under the mutex
};

// Counts SDL audio users in this process, so several engines (tests) do not shut the subsystem under each other.
std::mutex SdlMutex;
int SdlUsers = 0;

bool acquireSdlAudio() {
    std::lock_guard<std::mutex> lock(SdlMutex);
    if (SdlUsers == 0) {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Clavora");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, OutputStreamName);
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            qCWarning(lcAudio) << "Audio subsystem unavailable:" << SDL_GetError();
            return false;
        }
    }
    ++SdlUsers;
    return true;
}

void releaseSdlAudio() {
    std::lock_guard<std::mutex> lock(SdlMutex);
    if (--SdlUsers == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

} // namespace

struct TAudioEngine::TState {
    TEngineConfig Config;
    TAudioFormat Output;
    int Period = 0;
    QString Driver;
    SDL_AudioDeviceID Device = 0;
    bool HoldsSdl = false;
    std::atomic<quint32> Gain{0xFFFFFFFFu}; // left in the low half, right in the high half
    std::atomic<quint64> Periods{0};

    // Shared by the controlling thread and the worker; the audio thread never takes it.
    mutable std::mutex Mutex;
    std::condition_variable Wake;
    bool Kick = false;
    bool Quit = false;
    // Set with Kick; read by the worker between two chunks without the lock, so a new sound need not wait for a
    // whole round over the sounds already playing.
    std::atomic<bool> NewStream{false};
    std::vector<std::unique_ptr<TStream>> Streams;
    std::unordered_map<quint32, TStream*> Handles;
    std::thread Worker;

    // Controlling thread -> audio thread: streams to mix. Audio thread -> worker: streams it let go of.
    std::unique_ptr<TPointerQueue<TStream>> Added;
    std::unique_ptr<TPointerQueue<TStream>> Released;

    // Audio thread only, allocated before the first period.
    std::vector<TStream*> Active;
    std::vector<TMixInput> Inputs;
    std::vector<std::pair<TStream*, int>> Consumed;

    explicit TState(const TEngineConfig& config) : Config(config) {
        const int limit = std::max(1, config.MaxStreams);
        Added = std::make_unique<TPointerQueue<TStream>>(limit);
        Released = std::make_unique<TPointerQueue<TStream>>(limit);
        Active.reserve(static_cast<size_t>(limit));
        Inputs.reserve(static_cast<size_t>(limit) * 2);
        Consumed.reserve(static_cast<size_t>(limit));
    }

    TStream* find(quint32 handle) const {
        auto it = Handles.find(handle);
        return it == Handles.end() ? nullptr : it->second;
    }

    void render(float* out, int frames);
    void workerLoop();
    static void SDLCALL deviceCallback(void* user, Uint8* stream, int length);
};

void SDLCALL TAudioEngine::TState::deviceCallback(void* user, Uint8* stream, int length) {
    auto* state = static_cast<TState*>(user);
    const int frames = length / static_cast<int>(sizeof(float) * static_cast<size_t>(state->Output.Channels));
    state->render(reinterpret_cast<float*>(stream), frames);
}

void TAudioEngine::TState::render(float* out, int frames) {
    TStream* stream = nullptr;
    while (Active.size() < Active.capacity() && Added->pop(stream)) {
        Active.push_back(stream);
    }

    Inputs.clear();
    Consumed.clear();
    const qint64 now = nowNanos();
    const quint64 period = Periods.fetch_add(1, std::memory_order_relaxed) + 1;
    for (size_t i = 0; i < Active.size();) {
        stream = Active[i];
        bool letGo = stream->FreeRequested.load(std::memory_order_acquire);
        if (!letGo && stream->Playing.load(std::memory_order_acquire)) {
            // Read the flag before the fill level: once decoding is done, an empty ring means the sound is over.
            const bool decodeDone = stream->DecodeDone.load(std::memory_order_acquire);
            const int count = std::min(stream->Ring.readableFrames(), frames);
            if (count > 0) {
                const float* first = nullptr;
                const float* second = nullptr;
                int firstFrames = 0;
                int secondFrames = 0;
                stream->Ring.readPieces(count, first, firstFrames, second, secondFrames);
                Inputs.push_back(TMixInput{first, firstFrames, 0});
                if (secondFrames > 0) {
                    Inputs.push_back(TMixInput{second, secondFrames, firstFrames});
                }
                Consumed.emplace_back(stream, count);
                if (stream->FirstAudio.load(std::memory_order_relaxed) == 0) {
                    stream->FirstAudioPeriod.store(period, std::memory_order_relaxed);
                    stream->FirstAudio.store(now, std::memory_order_release);
                }
            } else if (decodeDone) {
                letGo = true;
            }
        }
        if (letGo && Released->push(stream)) {
            Active[i] = Active.back();
            Active.pop_back();
            continue;
        }
        ++i;
    }

    const quint32 gain = Gain.load(std::memory_order_relaxed);
    MixStreams(out, frames, Output.Channels, Inputs.data(), Inputs.size(),
               TMasterGain{static_cast<quint16>(gain & 0xFFFFu), static_cast<quint16>(gain >> 16)});
    for (const auto& [consumedStream, count] : Consumed) {
        consumedStream->Ring.consume(count);
    }
}

void TAudioEngine::TState::workerLoop() {
    std::vector<TStream*> work;
    std::vector<std::unique_ptr<TStream>> graveyard;
    std::unique_lock<std::mutex> lock(Mutex);
    while (!Quit) {
        TStream* released = nullptr;
        while (Released->pop(released)) {
            released->LetGo = true;
        }
        work.clear();
        for (auto it = Streams.begin(); it != Streams.end();) {
            TStream* stream = it->get();
            const bool freed = stream->FreeRequested.load(std::memory_order_relaxed);
            if (stream->LetGo || (freed && !stream->Submitted)) {
                auto handle = Handles.find(stream->Handle);
                if (handle != Handles.end() && handle->second == stream) {
                    Handles.erase(handle);
                }
                graveyard.push_back(std::move(*it));
                it = Streams.erase(it);
                continue;
            }
            if (!freed && !stream->DecodeDone.load(std::memory_order_relaxed)) {
                work.push_back(stream);
            }
            ++it;
        }
        Kick = false;
        NewStream.store(false, std::memory_order_relaxed);
        lock.unlock();

        // Closing decoders and files happens here, outside the lock and far from the audio thread.
        graveyard.clear();
        // The emptiest rings first: a sound just started, or one about to run dry.
        std::sort(work.begin(), work.end(), [](const TStream* a, const TStream* b) {
            return a->Ring.readableFrames() < b->Ring.readableFrames();
        });
        bool wrote = false;
        for (TStream* stream : work) {
            // Start over at once with a newcomer, but only after some progress: a flood of opens must not stall.
            if (stream != work.front() && NewStream.load(std::memory_order_relaxed)) {
                wrote = true;
                break;
            }
            if (stream->FreeRequested.load(std::memory_order_relaxed)) {
                continue;
            }
            int space = 0;
            float* target = stream->Ring.writeSpace(space);
            if (space <= 0) {
                continue;
            }
            const int wanted = std::min(space, DecodeChunkFrames);
            const int got = stream->Source->read(target, wanted);
            if (got > 0) {
                stream->Ring.commit(got);
                wrote = true;
            }
            if (got < wanted) {
                stream->Source.reset();
                stream->DecodeDone.store(true, std::memory_order_release);
            }
        }

        lock.lock();
        if (!wrote && !Kick && !Quit) {
            if (Streams.empty()) {
                Wake.wait(lock, [this] { return Quit || Kick; });
            } else {
                Wake.wait_for(lock, RefillInterval, [this] { return Quit || Kick; });
            }
        }
    }
}

TAudioEngine::TAudioEngine() = default;

TAudioEngine::~TAudioEngine() {
    shutdown();
}

bool TAudioEngine::start(const TEngineConfig& config) {
    if (FState) {
        return true;
    }
    if (config.SampleRate <= 0 || config.Channels <= 0 || config.PeriodFrames <= 0 || config.StreamBufferFrames <= 0) {
        qCWarning(lcAudio) << "Invalid audio output settings";
        return false;
    }
    auto state = std::make_unique<TState>(config);
    state->Output = TAudioFormat{config.SampleRate, config.Channels};
    state->Period = config.PeriodFrames;
    state->Gain.store(static_cast<quint32>(FGain.Left) | (static_cast<quint32>(FGain.Right) << 16));

    if (config.UseDevice) {
        if (!acquireSdlAudio()) {
            return false;
        }
        state->HoldsSdl = true;
        SDL_AudioSpec wanted{};
        wanted.freq = config.SampleRate;
        wanted.format = AUDIO_F32SYS;
        wanted.channels = static_cast<Uint8>(config.Channels);
        wanted.samples = static_cast<Uint16>(config.PeriodFrames);
        wanted.callback = &TState::deviceCallback;
        wanted.userdata = state.get();
        SDL_AudioSpec obtained{};
        // The period size is not left to the driver: SDL 2.26's dummy driver corrupts the heap on close when it
        // changes it, and a driver's own choice is often far above the 10 ms we want.
        state->Device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (state->Device == 0) {
            qCWarning(lcAudio) << "Cannot open the audio output:" << SDL_GetError();
            releaseSdlAudio();
            return false;
        }
        state->Output.SampleRate = obtained.freq;
        state->Period = obtained.samples;
        state->Driver = QString::fromUtf8(SDL_GetCurrentAudioDriver());
        qCInfo(lcAudio) << "Audio output:" << SDL_GetCurrentAudioDriver() << obtained.freq << "Hz," << obtained.samples
                        << "frames per period";
    }

    TState* raw = state.get();
    state->Worker = std::thread([raw] { raw->workerLoop(); });
    FState = std::move(state);
    if (FState->Device != 0) {
        SDL_PauseAudioDevice(FState->Device, 0);
    }
    return true;
}

void TAudioEngine::shutdown() {
    if (!FState) {
        return;
    }
    // Closing the device waits for a running callback to return; after it nothing reads the rings.
    if (FState->Device != 0) {
        SDL_CloseAudioDevice(FState->Device);
        FState->Device = 0;
    }
    {
        std::lock_guard<std::mutex> lock(FState->Mutex);
        FState->Quit = true;
    }
    FState->Wake.notify_all();
    FState->Worker.join();
    const bool holdsSdl = FState->HoldsSdl;
    FState.reset();
    if (holdsSdl) {
        releaseSdlAudio();
    }
}

bool TAudioEngine::isRunning() const {
    return FState != nullptr;
}

TAudioFormat TAudioEngine::outputFormat() const {
    return FState ? FState->Output : TAudioFormat{};
}

int TAudioEngine::periodFrames() const {
    return FState ? FState->Period : 0;
}

QString TAudioEngine::outputDriver() const {
    return FState ? FState->Driver : QString();
}

quint32 TAudioEngine::openStream(const QString& path) {
    if (!FState || !isRegularFile(path)) {
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(FState->Mutex);
        if (FState->Streams.size() >= static_cast<size_t>(std::max(1, FState->Config.MaxStreams))) {
            qCWarning(lcAudio) << "Too many sounds at once; not playing" << path;
            return 0;
        }
    }
    QString error;
    std::unique_ptr<IDataSource> source = TFfmpegSource::open(path, FState->Output, &error);
    if (!source) {
        qCDebug(lcAudio) << "Cannot decode" << path << ":" << error;
        return 0;
    }
    std::lock_guard<std::mutex> lock(FState->Mutex);
    const quint32 handle = FNextHandle++;
    if (FNextHandle == 0) {
        FNextHandle = 1;
    }
    auto stream = std::make_unique<TStream>(handle, std::move(source), FState->Config.StreamBufferFrames,
                                            FState->Output.Channels);
    FState->Handles.emplace(handle, stream.get());
    FState->Streams.push_back(std::move(stream));
    FState->Kick = true;
    FState->NewStream.store(true, std::memory_order_relaxed);
    FState->Wake.notify_one();
    return handle;
}

bool TAudioEngine::play(quint32 handle) {
    if (!FState) {
        return false;
    }
    std::lock_guard<std::mutex> lock(FState->Mutex);
    TStream* stream = FState->find(handle);
    if (stream == nullptr) {
        return false;
    }
    stream->Playing.store(true, std::memory_order_release);
    if (!stream->Submitted) {
        if (!FState->Added->push(stream)) {
            stream->Playing.store(false, std::memory_order_release);
            return false;
        }
        stream->Submitted = true;
    }
    return true;
}

void TAudioEngine::stop(quint32 handle) {
    if (!FState) {
        return;
    }
    std::lock_guard<std::mutex> lock(FState->Mutex);
    if (TStream* stream = FState->find(handle)) {
        stream->Playing.store(false, std::memory_order_release);
    }
}

void TAudioEngine::free(quint32 handle) {
    if (!FState) {
        return;
    }
    std::lock_guard<std::mutex> lock(FState->Mutex);
    if (TStream* stream = FState->find(handle)) {
        stream->Playing.store(false, std::memory_order_release);
        stream->FreeRequested.store(true, std::memory_order_release);
        FState->Handles.erase(handle);
        FState->Kick = true;
        FState->Wake.notify_one();
    }
}

void TAudioEngine::setMasterGain(TMasterGain gain) {
    if (FState) {
        FState->Gain.store(static_cast<quint32>(gain.Left) | (static_cast<quint32>(gain.Right) << 16),
                           std::memory_order_relaxed);
    }
    FGain = gain;
}

TMasterGain TAudioEngine::masterGain() const {
    return FGain;
}

void TAudioEngine::render(float* out, int frames) {
    if (!FState || FState->Device != 0) {
        return;
    }
    FState->render(out, frames);
}

int TAudioEngine::heldStreams() const {
    if (!FState) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(FState->Mutex);
    return static_cast<int>(FState->Streams.size());
}

bool TAudioEngine::isDecodedAhead(quint32 handle) const {
    if (!FState) {
        return false;
    }
    std::lock_guard<std::mutex> lock(FState->Mutex);
    const TStream* stream = FState->find(handle);
    return stream != nullptr &&
           (stream->DecodeDone.load(std::memory_order_acquire) || stream->Ring.writableFrames() == 0);
}

TAudioEngine::TFirstAudio TAudioEngine::firstAudio(quint32 handle) const {
    if (!FState) {
        return {};
    }
    std::lock_guard<std::mutex> lock(FState->Mutex);
    const TStream* stream = FState->find(handle);
    if (stream == nullptr) {
        return {};
    }
    TFirstAudio first;
    first.Nanos = stream->FirstAudio.load(std::memory_order_acquire);
    first.Period = first.Nanos != 0 ? stream->FirstAudioPeriod.load(std::memory_order_relaxed) : 0;
    return first;
}

quint64 TAudioEngine::periodsRendered() const {
    return FState ? FState->Periods.load(std::memory_order_relaxed) : 0;
}

} // namespace clavora::audio
