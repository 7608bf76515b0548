// The latency the voice path adds: from the call a key press makes (playSoundFile) to the sound's first samples
// read back from the sound server, at "Clavora Microphone" and at the normal output's monitor, measured side by
// side on the same sounds. A private PulseAudio server with null sinks stands in for the machine's; both readers
// are alike (1 ms fragments), so their own latency cancels out of the difference.
#include "audio/soundplayer.h"
#include "platform/pulse/linuxvoicemicrophone.h"
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundserver.h"
#include "tests/support/audio/systemservices.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

using namespace clavora;

namespace {

constexpr int Rate = 48000;
constexpr int FragmentFrames = Rate / 1000;
constexpr qint16 Threshold = 1000;

qint64 nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Reads a source continuously and notes when sound first comes after being armed.
class Onset {
public:
    explicit Onset(const QString& source) {
        const pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, Rate, 1};
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<uint32_t>(-1);
        attributes.fragsize = FragmentFrames * 2;
        int error = 0;
        const QByteArray name = source.toUtf8();
        m_stream = pa_simple_new(nullptr, "voice_bench", PA_STREAM_RECORD, name.constData(), "onset", &sampleSpec,
                                 nullptr, &attributes, &error);
        if (m_stream != nullptr) {
            m_reader = std::thread([this] { read(); });
        }
    }
    ~Onset() {
        m_quit = true;
        if (m_reader.joinable()) {
            m_reader.join();
        }
        if (m_stream != nullptr) {
            pa_simple_free(m_stream);
        }
    }
    bool ok() const { return m_stream != nullptr; }
    void arm() {
        m_at = 0;
        m_armed = true;
    }
    qint64 at() const { return m_at; }
    // Nanoseconds since sound was last heard.
    qint64 quietFor() const { return nowNanos() - m_lastSound; }

private:
    void read() {
        std::vector<qint16> fragment(FragmentFrames);
        while (!m_quit) {
            int error = 0;
            if (pa_simple_read(m_stream, fragment.data(), fragment.size() * 2, &error) < 0) {
                return;
            }
            const qint64 now = nowNanos();
            const auto loud =
                std::find_if(fragment.begin(), fragment.end(), [](qint16 v) { return std::abs(v) > Threshold; });
            if (loud == fragment.end()) {
                continue;
            }
            m_lastSound = now;
            if (m_armed.exchange(false)) {
                // The loud sample arrived as many frames before the read returned as follow it in the fragment.
                const qint64 after = fragment.end() - loud;
                m_at = now - after * 1000000000LL / Rate;
            }
        }
    }

    pa_simple* m_stream = nullptr;
    std::thread m_reader;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_armed{false};
    std::atomic<qint64> m_at{0};
    std::atomic<qint64> m_lastSound{0};
};

QString clickFile;

// Argument 1: the click is prepared (its start decoded ahead, as every bound sound is), so both outputs play it
// from memory in their next period; 0: each press opens and decodes the file first.
void BM_VoicePathLatency(benchmark::State& state) {
    const bool prepared = state.range(0) != 0;
    state.SetLabel(prepared ? "decoded start" : "from the file");
    test::SoundServer server(QString(), test::SoundServer::Kind::PulseAudio, QStringLiteral("speakers"));
    if (!server.start(test::SoundServer::NeverSuspend)) {
        state.SkipWithError("pulseaudio did not start");
        return;
    }
    server.useForThisProcess();
    if (!server.addFakeMicrophone()) {
        state.SkipWithError("pulseaudio did not start");
        return;
    }
    platform::LinuxVoiceMicrophone microphone;
    if (!microphone.create().ok()) {
        state.SkipWithError("the microphone was not made");
        return;
    }
    audio::SoundPlayer player{clavora::test::systemAudioServices()};
    if (!player.start()) {
        state.SkipWithError("no audio output");
        return;
    }
    bool voiceOpen = false;
    for (int attempt = 0; attempt < 100 && !voiceOpen; ++attempt) {
        voiceOpen = player.startVoiceOutput(microphone.mixDeviceName());
        if (!voiceOpen) {
            QThread::msleep(20);
        }
    }
    if (!voiceOpen) {
        state.SkipWithError("the voice output did not open");
        return;
    }
    if (prepared) {
        player.setBoundSounds({clickFile});
        if (!player.engine().waitUntilPrepared(10000)) {
            state.SkipWithError("the click was not prepared");
            return;
        }
    }
    Onset normal(QStringLiteral("speakers.monitor"));
    Onset voice(platform::VoiceSourceName);
    if (!normal.ok() || !voice.ok()) {
        state.SkipWithError("cannot record");
        return;
    }
    // The null sinks stall for up to two seconds when their first stream starts: one sound unmeasured wakes them.
    normal.arm();
    voice.arm();
    player.playSoundFile(clickFile, true);
    const qint64 warmed = nowNanos() + 5000000000LL;
    while ((normal.at() == 0 || voice.at() == 0) && nowNanos() < warmed) {
        QThread::msleep(5);
    }

    std::vector<double> normalMs;
    std::vector<double> voiceMs;
    for (auto _ : state) {
        while (normal.quietFor() < 100000000 || voice.quietFor() < 100000000) {
            QThread::msleep(10);
        }
        normal.arm();
        voice.arm();
        const qint64 pressed = nowNanos();
        player.playSoundFile(clickFile, true);
        const qint64 deadline = pressed + 2000000000LL;
        while ((normal.at() == 0 || voice.at() == 0) && nowNanos() < deadline) {
            QThread::usleep(500);
        }
        if (normal.at() == 0 || voice.at() == 0) {
            state.SkipWithError("a sound was not heard");
            break;
        }
        normalMs.push_back((normal.at() - pressed) / 1e6);
        voiceMs.push_back((voice.at() - pressed) / 1e6);
        state.SetIterationTime((voice.at() - pressed) / 1e9);
    }
    const double periodMs =
        1000.0 * player.engine().periodFrames() / std::max(1, player.engine().outputFormat().sampleRate);
    player.stop();
    microphone.remove();
    state.counters["period_ms"] = periodMs;
    if (normalMs.empty()) {
        return;
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const auto p90 = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() * 9 / 10];
    };
    std::vector<double> added(normalMs.size());
    for (size_t i = 0; i < added.size(); ++i) {
        added[i] = voiceMs[i] - normalMs[i];
    }
    state.counters["normal_median_ms"] = median(normalMs);
    state.counters["voice_median_ms"] = median(voiceMs);
    state.counters["voice_p90_ms"] = p90(voiceMs);
    state.counters["added_median_ms"] = median(added);
    state.counters["added_p90_ms"] = p90(added);
    state.counters["normal_max_ms"] = *std::max_element(normalMs.begin(), normalMs.end());
    state.counters["voice_max_ms"] = *std::max_element(voiceMs.begin(), voiceMs.end());
}
BENCHMARK(BM_VoicePathLatency)->Arg(0)->Arg(1)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("SDL_AUDIODRIVER", "pulseaudio");
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    // A 30 ms click at half scale.
    clickFile = folder.filePath(QStringLiteral("click.wav"));
    if (!test::writeWav16(clickFile, 44100, 2, test::sineSamples16(1000.0, 44100, 44100 * 3 / 100, 16000.0 / 32767))) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
