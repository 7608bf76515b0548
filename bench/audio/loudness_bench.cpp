// What Even Out Loudness costs: the time one core takes to measure the loudness of a minute of MP3 audio (stereo,
// 44.1 kHz, 192 kbit/s, noise), decoded and resampled as the measurement does it. Run on the measuring thread alone,
// so the CPU time is that of one core.
#include "audio/loudness.h"
#include "tests/support/audio/systemservices.h"

#include <benchmark/benchmark.h>

#include <QProcess>
#include <QTemporaryDir>

namespace {

QString makeMinuteOfMp3(const QTemporaryDir& folder) {
    const QString path = folder.filePath(QStringLiteral("minute.mp3"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                            "anoisesrc=color=pink:amplitude=0.3:sample_rate=44100:duration=60", "-ac",
                                            "2", "-c:a", "libmp3lame", "-b:a", "192k", path});
    ffmpeg.waitForFinished(120000);
    return ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0 ? path : QString();
}

void BM_MeasureMinuteOfMp3(benchmark::State& state) {
    QTemporaryDir folder;
    const QString file = makeMinuteOfMp3(folder);
    if (file.isEmpty()) {
        state.SkipWithError("ffmpeg could not make the test file");
        return;
    }
    for (auto _ : state) {
        const std::optional<double> loudness =
            clavora::audio::measureLoudness(clavora::test::systemServices().fileSystem(), file);
        if (!loudness) {
            state.SkipWithError("the test file could not be measured");
            return;
        }
        benchmark::DoNotOptimize(*loudness);
    }
}
BENCHMARK(BM_MeasureMinuteOfMp3)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(10);

} // namespace

BENCHMARK_MAIN();
