// Benchmarks of sound player: the cost of playSoundFile per format, the delay until a new sound reaches the
// device, the mixer's and the decoders' cost per stream, and memory per stream and over many short sounds.
// Test sounds are made with the ffmpeg command-line tool in a temporary folder. Output goes to SDL's dummy driver
// unless SDL_AUDIODRIVER says otherwise.
#include "audio/audioengine.h"
#include "audio/ffmpegsource.h"
#include "audio/limiter.h"
#include "audio/mixer.h"
#include "audio/soundplayer.h"
#include "tests/support/audio/systemservices.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <random>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace clavora::audio;

namespace {

QTemporaryDir* testFolder = nullptr;
QMap<QString, QString> testFiles; // format name -> file of a 2 s stereo tone

struct Format {
    const char* name;
    const char* file;
    QStringList encoder;
};

const Format Formats[] = {
    {"wav", "tone.wav", {}},
    {"aiff", "tone.aiff", {}},
    {"mp3", "tone.mp3", {"-c:a", "libmp3lame"}},
    {"mp2", "tone.mp2", {"-c:a", "mp2"}},
    {"ogg", "tone.ogg", {"-c:a", "libvorbis"}},
    {"opus", "tone.opus", {"-c:a", "libopus", "-ar", "48000"}},
    {"flac", "tone.flac", {}},
    {"m4a", "tone.m4a", {"-c:a", "aac"}},
};

QString makeTone(const QString& file, const QStringList& encoder, double seconds) {
    const QString path = testFolder->filePath(file);
    QStringList arguments{
        "-nostdin", "-v",
        "error",    "-y",
        "-f",       "lavfi",
        "-i",       QStringLiteral("aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*440*t):s=44100:d=%1").arg(seconds)};
    arguments << encoder << path;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", arguments);
    ffmpeg.waitForFinished(60000);
    return ffmpeg.exitCode() == 0 ? path : QString();
}

double residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

void report(benchmark::State& state, std::vector<double> micros, const char* prefix = "") {
    if (micros.empty()) {
        return;
    }
    std::sort(micros.begin(), micros.end());
    const std::string p(prefix);
    state.counters[p + "median_us"] = micros[micros.size() / 2];
    state.counters[p + "p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters[p + "max_us"] = micros.back();
}

// CPU time of the calling thread: what the GUI thread itself spends, apart from waiting for a busy machine.
double threadCpuMicros() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double microsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

// playSoundFile as the key handlers call it, overlap off: each call stops and frees the previous stream, checks
// the file, opens it and starts it.
void BM_PlaySoundFile(benchmark::State& state) {
    const Format& format = Formats[state.range(0)];
    state.SetLabel(format.name);
    const QString file = testFiles.value(format.name);
    SoundPlayer player{clavora::test::systemAudioServices()};
    if (file.isEmpty() || !player.start()) {
        state.SkipWithError("no test file or no audio output");
        return;
    }
    std::vector<double> micros;
    std::vector<double> cpuMicros;
    for (auto _ : state) {
        const double cpuStart = threadCpuMicros();
        const auto start = std::chrono::steady_clock::now();
        player.playSoundFile(file, false);
        const double spent = microsSince(start);
        cpuMicros.push_back(threadCpuMicros() - cpuStart);
        micros.push_back(spent);
        state.SetIterationTime(spent / 1e6);
        if (player.newestStream() == 0) {
            state.SkipWithError("the engine refused the file");
            break;
        }
    }
    report(state, micros);
    report(state, cpuMicros, "thread_cpu_");
    player.stop();
}
BENCHMARK(BM_PlaySoundFile)
    ->DenseRange(0, std::size(Formats) - 1)
    ->UseManualTime()
    ->Iterations(300)
    ->Unit(benchmark::kMicrosecond);

// What a key press bound to a file that is no sound costs the calling (GUI) thread: random bytes under several
// names, and an MP3 cut off after its first frames. The engine must not spend the key handler's time finding out.
struct HostileFile {
    const char* name;
    const char* file;
};

const HostileFile HostileFiles[] = {
    {"random bytes", "random.bin"},
    {"random bytes named .mp3", "random.mp3"},
    {"random bytes named .wav", "random.wav"},
    {"truncated mp3", "truncated.mp3"},
};

void BM_OpenHostileFile(benchmark::State& state) {
    const HostileFile& hostile = HostileFiles[state.range(0)];
    state.SetLabel(hostile.name);
    const QString file = testFiles.value(hostile.file);
    EngineConfig config;
    config.useDevice = false;
    AudioEngine engine{clavora::test::systemAudioServices()};
    // When the engine has found out, off the calling thread: how long its opener was busy with the file.
    std::atomic<qint64> reportedAt{0};
    engine.setUnplayableHandler([&reportedAt](quint32, const QString&, Unplayable) {
        reportedAt = std::chrono::steady_clock::now().time_since_epoch().count();
    });
    if (file.isEmpty() || !engine.start(config)) {
        state.SkipWithError("no test file or no engine");
        return;
    }
    std::vector<double> micros;
    std::vector<double> cpuMicros;
    std::vector<double> probeMicros;
    for (auto _ : state) {
        reportedAt = 0;
        const double cpuStart = threadCpuMicros();
        const auto start = std::chrono::steady_clock::now();
        const quint32 handle = engine.openStream(file);
        const double spent = microsSince(start);
        cpuMicros.push_back(threadCpuMicros() - cpuStart);
        micros.push_back(spent);
        state.SetIterationTime(spent / 1e6);
        state.PauseTiming();
        // A file that opens after all (the truncated one) is never reported; it is decoded instead.
        while (reportedAt.load() == 0 && !engine.isDecodedAhead(handle)) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        if (reportedAt.load() != 0) {
            probeMicros.push_back(std::chrono::duration<double, std::micro>(
                                      std::chrono::steady_clock::duration(reportedAt.load()) - start.time_since_epoch())
                                      .count());
        }
        engine.free(handle);
        state.ResumeTiming();
    }
    report(state, micros);
    report(state, cpuMicros, "thread_cpu_");
    report(state, probeMicros, "found_out_");
    engine.shutdown();
}
BENCHMARK(BM_OpenHostileFile)
    ->DenseRange(0, std::size(HostileFiles) - 1)
    ->UseManualTime()
    ->Iterations(50)
    ->Unit(benchmark::kMicrosecond);

// From the call to the first period that carries the new sound to the device (with a sound server: the moment it is
// written to the server), in time and in periods: 1 means the sound was in the very next period the device asked
// for. Warm: the device is running. After idle (second argument 1): the device was closed after a short idle time,
// as it is after 30 s without a sound, and the call has to open it again.
void BM_TimeToFirstAudio(benchmark::State& state) {
    const QString file = testFiles.value("mp3");
    const bool afterIdle = state.range(1) != 0;
    EngineConfig config;
    if (afterIdle) {
        config.idleTimeout = std::chrono::milliseconds(50);
    }
    SoundPlayer player(clavora::test::systemAudioServices(), config);
    if (file.isEmpty() || !player.start()) {
        state.SkipWithError("no test file or no audio output");
        return;
    }
    AudioEngine& engine = player.engine();
    const AudioFormat output = engine.outputFormat();
    // Sounds already playing, which the decoder has to keep fed meanwhile.
    const QString background = testFiles.value("long");
    for (int i = 0; i < state.range(0); ++i) {
        player.playSoundFile(background, true);
    }
    const int periodMicros = static_cast<int>(1e6 * engine.periodFrames() / output.sampleRate);
    std::mt19937 random(42);
    std::vector<double> micros;
    std::vector<double> periodsWaited;
    for (auto _ : state) {
        state.PauseTiming();
        if (afterIdle) {
            // The previous sound has to end and the idle time to pass.
            while (engine.outputState() != OutputState::Paused) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        } else {
            // Calls land anywhere in a period, as key presses do; right after the previous sound's first period
            // they would all start in step with the device.
            std::this_thread::sleep_for(std::chrono::microseconds(random() % static_cast<unsigned>(periodMicros)));
        }
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        const qint64 startNanos =
            std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
        const quint64 periodAtCall = engine.periodsRendered();
        // After idle a short sound, so the next idle time comes soon.
        player.playSoundFile(afterIdle ? testFiles.value("short") : file, false);
        AudioEngine::FirstAudio first;
        for (int i = 0; i < 100000 && (first = engine.firstAudio(player.newestStream())).nanos == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        const double spent = static_cast<double>(first.nanos - startNanos) / 1000.0;
        micros.push_back(spent);
        periodsWaited.push_back(static_cast<double>(first.period - periodAtCall));
        state.SetIterationTime(spent / 1e6);
    }
    const auto next = std::count(periodsWaited.begin(), periodsWaited.end(), 1.0);
    state.counters["in_next_period_pct"] = micros.empty() ? 0.0 : 100.0 * static_cast<double>(next) / micros.size();
    state.counters["max_periods_waited"] = *std::max_element(periodsWaited.begin(), periodsWaited.end());
    report(state, micros);
    state.counters["period_us"] = periodMicros;
    state.counters["device_openings"] = engine.deviceOpenings();
    state.SetLabel(qEnvironmentVariable("SDL_AUDIODRIVER").toStdString() + ", " + std::to_string(output.sampleRate) +
                   " Hz, " + std::to_string(engine.periodFrames()) + " frames per period" +
                   (afterIdle ? ", after idle" : ""));
    player.stop();
}
BENCHMARK(BM_TimeToFirstAudio)
    ->Args({0, 0})
    ->Args({100, 0})
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimeToFirstAudio)->Args({0, 1})->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);

// What the idle program's playback costs: the process's CPU time over a few seconds without a sound while the device
// is still open (before the idle time, here 1 s, has passed) and once it is closed. Its own figures only: the sound
// server's share (a running sink against a suspended one) comes on top of the first.
void BM_IdleCpu(benchmark::State& state) {
    EngineConfig config;
    config.idleTimeout = std::chrono::milliseconds(1000);
    SoundPlayer player(clavora::test::systemAudioServices(), config);
    if (!player.start()) {
        state.SkipWithError("no audio output");
        return;
    }
    auto processCpuSeconds = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    };
    auto cpuPercentOver = [&](std::chrono::milliseconds span) {
        const double cpuStart = processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(span);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return 100.0 * (processCpuSeconds() - cpuStart) / wall;
    };
    for (auto _ : state) {
        state.counters["cpu_pct_device_open"] = cpuPercentOver(std::chrono::milliseconds(900));
        while (player.engine().outputState() != OutputState::Paused) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        state.counters["cpu_pct_device_closed"] = cpuPercentOver(std::chrono::milliseconds(5000));
    }
    state.SetLabel(qEnvironmentVariable("SDL_AUDIODRIVER").toStdString());
    player.stop();
}
BENCHMARK(BM_IdleCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

// The limiter over one 10 ms stereo period: audio below its threshold (the usual case, passed through) and a mix
// far beyond full scale (every frame turned down).
void BM_LimiterPerPeriod(benchmark::State& state) {
    constexpr int Frames = 441;
    const float level = state.range(0) == 0 ? 0.5f : 8.0f;
    state.SetLabel(state.range(0) == 0 ? "below the threshold" : "8 times full scale");
    std::vector<float> source(Frames * 2);
    for (int i = 0; i < Frames; ++i) {
        source[i * 2] = source[i * 2 + 1] = level * static_cast<float>(std::sin(2 * M_PI * 1000.0 * i / 44100.0));
    }
    Limiter limiter(44100);
    std::vector<float> out(Frames * 2);
    for (auto _ : state) {
        std::copy(source.begin(), source.end(), out.begin());
        limiter.process(out.data(), Frames, 2);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_LimiterPerPeriod)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The mixer alone: N streams into one 10 ms stereo period.
void BM_MixStreams(benchmark::State& state) {
    const int streams = static_cast<int>(state.range(0));
    constexpr int Frames = 441;
    std::vector<float> source(static_cast<size_t>(streams) * Frames * 2);
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<float>((i * 7919) % 2000) / 2000.0f - 0.5f;
    }
    std::vector<MixInput> inputs;
    for (int s = 0; s < streams; ++s) {
        inputs.push_back(MixInput{source.data() + static_cast<size_t>(s) * Frames * 2, Frames, 0});
    }
    std::vector<float> out(Frames * 2);
    for (auto _ : state) {
        mixStreams(out.data(), Frames, 2, inputs.data(), inputs.size(), MasterGain{40000, 50000});
        benchmark::DoNotOptimize(out.data());
    }
    const double secondsPerPeriod = 441.0 / 44100.0;
    state.counters["streams_per_core_realtime"] =
        benchmark::Counter(streams * secondsPerPeriod, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MixStreams)->Arg(1)->Arg(64)->Arg(256)->Unit(benchmark::kMicrosecond);

// Decoding plus mixing: N MP3 streams decoded and mixed for one 10 ms period, the whole work one second of those
// streams costs, on one core.
void BM_DecodeAndMixMp3(benchmark::State& state) {
    const int streams = static_cast<int>(state.range(0));
    constexpr int Frames = 441;
    const QString file = testFiles.value("mp3");
    std::vector<std::unique_ptr<FfmpegSource>> sources;
    for (int s = 0; s < streams; ++s) {
        sources.push_back(
            FfmpegSource::open(clavora::test::systemServices().fileSystem(), file, AudioFormat{44100, 2}));
        if (!sources.back()) {
            state.SkipWithError("cannot open the test file");
            return;
        }
    }
    std::vector<float> decoded(static_cast<size_t>(streams) * Frames * 2);
    std::vector<MixInput> inputs(static_cast<size_t>(streams));
    std::vector<float> out(Frames * 2);
    int periods = 0;
    for (auto _ : state) {
        for (int s = 0; s < streams; ++s) {
            float* target = decoded.data() + static_cast<size_t>(s) * Frames * 2;
            int got = sources[s]->read(target, Frames);
            if (got < Frames) {
                state.PauseTiming();
                sources[s] =
                    FfmpegSource::open(clavora::test::systemServices().fileSystem(), file, AudioFormat{44100, 2});
                state.ResumeTiming();
                got = sources[s]->read(target, Frames);
            }
            inputs[s] = MixInput{target, got, 0};
        }
        mixStreams(out.data(), Frames, 2, inputs.data(), inputs.size(), MasterGain{});
        benchmark::DoNotOptimize(out.data());
        ++periods;
    }
    state.counters["streams_per_core_realtime"] =
        benchmark::Counter(streams * (441.0 / 44100.0), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DecodeAndMixMp3)->Arg(16)->Arg(64)->Unit(benchmark::kMicrosecond);

// CPU per playing stream with the voice output off and on: the whole process's CPU time (the decoder, the opener,
// the mix of every output) while 16 MP3 streams play for 3 s, pulled without a device at the pace of 10 ms periods
// (the benchmark's thread stands in for each output's audio thread). Mode 0: the speakers alone; 1: the voice output
// added to the same engine, fed from the same decode; 2: for comparison, a second engine that opens and decodes
// every sound once more, as two separate outputs would.
void BM_CpuPerStreamWithVoice(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    state.SetLabel(mode == 0 ? "voice off" : mode == 1 ? "voice on, one engine" : "voice on, second engine");
    constexpr int Streams = 16;
    constexpr int Periods = 300;
    const QString file = testFiles.value("long");
    EngineConfig config;
    config.useDevice = false;
    config.headSeconds = 0;
    SoundPlayer player(clavora::test::systemAudioServices(), config);
    AudioEngine second{clavora::test::systemAudioServices()};
    if (file.isEmpty() || !player.start() || (mode == 1 && !player.startVoiceOutput(QString())) ||
        (mode == 2 && !second.start(config))) {
        state.SkipWithError("no test file or no output");
        return;
    }
    AudioEngine& engine = player.engine();
    const OutputId voice = player.voiceOutput();
    std::vector<float> period(441 * 2);
    double cpuSeconds = 0;
    double wallSeconds = 0;
    for (auto _ : state) {
        for (int s = 0; s < Streams; ++s) {
            player.playSoundFile(file, true);
            if (mode == 2) {
                second.play(second.openStream(file));
            }
        }
        timespec cpuBefore{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuBefore);
        const auto start = std::chrono::steady_clock::now();
        auto next = start;
        for (int p = 0; p < Periods; ++p) {
            engine.render(period.data(), 441);
            if (mode == 1) {
                engine.render(voice, period.data(), 441);
            } else if (mode == 2) {
                second.render(period.data(), 441);
            }
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
        }
        timespec cpuAfter{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuAfter);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpuSeconds += static_cast<double>(cpuAfter.tv_sec - cpuBefore.tv_sec) +
                      static_cast<double>(cpuAfter.tv_nsec - cpuBefore.tv_nsec) / 1e9;
        wallSeconds += wall;
        state.SetIterationTime(wall);
        player.stopAll();
        second.stopAll();
        while (engine.heldStreams() > 0 || second.heldStreams() > 0) {
            engine.render(period.data(), 441);
            engine.render(voice, period.data(), 441);
            second.render(period.data(), 441);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Percent of one core per stream playing.
    state.counters["cpu_percent_per_stream"] = 100.0 * cpuSeconds / wallSeconds / Streams;
}
BENCHMARK(BM_CpuPerStreamWithVoice)->DenseRange(0, 2)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Resident memory each playing stream adds (decoder, file, decode-ahead ring), pulled without a device so the
// streams stay alive.
void BM_MemoryPerPlayingStream(benchmark::State& state) {
    const int streams = static_cast<int>(state.range(0));
    const QString file = testFiles.value("mp3");
    for (auto _ : state) {
        EngineConfig config;
        config.useDevice = false;
        SoundPlayer player(clavora::test::systemAudioServices(), config);
        player.start();
        std::vector<float> period(441 * 2);
        player.engine().render(period.data(), 441);
        const double before = residentBytes();
        std::vector<quint32> handles;
        for (int s = 0; s < streams; ++s) {
            player.playSoundFile(file, true);
            handles.push_back(player.newestStream());
        }
        for (quint32 handle : handles) {
            while (!player.engine().isDecodedAhead(handle)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        player.engine().render(period.data(), 441);
        state.counters["bytes_per_stream"] = (residentBytes() - before) / streams;
        player.stop();
    }
}
BENCHMARK(BM_MemoryPerPlayingStream)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);

// 10,000 short sounds played and ended, overlapping allowed (a key held in hotkey mode): memory must stay flat.
void BM_MemoryOverManyShortSounds(benchmark::State& state) {
    const QString file = testFiles.value("blip");
    for (auto _ : state) {
        EngineConfig config;
        config.useDevice = false;
        SoundPlayer player(clavora::test::systemAudioServices(), config);
        player.start();
        std::vector<float> period(441 * 2);
        double afterFirstThousand = 0;
        for (int i = 1; i <= 10000; ++i) {
            player.playSoundFile(file, true);
            if (i % 20 == 0) {
                // Let the twenty end, as the device would.
                while (player.engine().heldStreams() > 0) {
                    player.engine().render(period.data(), 441);
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            }
            if (i == 1000) {
                afterFirstThousand = residentBytes();
            }
        }
        state.counters["rss_after_1000_MiB"] = afterFirstThousand / (1 << 20);
        state.counters["rss_after_10000_MiB"] = residentBytes() / (1 << 20);
        state.counters["held_streams_at_end"] = player.engine().heldStreams();
        player.stop();
    }
}
BENCHMARK(BM_MemoryOverManyShortSounds)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) {
        qputenv("SDL_AUDIODRIVER", "dummy");
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    testFolder = &folder;
    for (const Format& format : Formats) {
        testFiles.insert(format.name, makeTone(format.file, format.encoder, 2.0));
    }
    testFiles.insert("blip", makeTone("blip.wav", {}, 0.005));
    testFiles.insert("short", makeTone("short.mp3", {"-c:a", "libmp3lame"}, 0.2));
    testFiles.insert("long", makeTone("long.mp3", {"-c:a", "libmp3lame"}, 60.0));
    {
        // Four megabytes of noise, and the same noise under the names of formats whose demuxers search it.
        std::mt19937 random(7);
        QByteArray noise(4 << 20, Qt::Uninitialized);
        for (char& byte : noise) {
            byte = static_cast<char>(random());
        }
        for (const char* name : {"random.bin", "random.mp3", "random.wav"}) {
            QFile out(folder.filePath(name));
            if (out.open(QIODevice::WriteOnly)) {
                out.write(noise);
                testFiles.insert(name, out.fileName());
            }
        }
        QFile whole(testFiles.value("mp3"));
        QFile cut(folder.filePath("truncated.mp3"));
        if (whole.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly)) {
            cut.write(whole.read(1500));
            testFiles.insert("truncated.mp3", cut.fileName());
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
