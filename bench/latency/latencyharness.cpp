// What the latency benchmarks share.
#include "bench/latency/latencyharness.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdlib>

namespace clavora::bench {

std::vector<qint16> click() {
    std::vector<qint16> samples(LatencyRate / 50);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = (i / 24) % 2 ? 20000 : -20000;
    }
    return samples;
}

std::vector<qint64> onsets(const std::vector<qint16>& samples) {
    std::vector<qint64> result;
    qint64 lastLoud = -LatencyRate;
    for (qint64 i = 0; i < qint64(samples.size()); ++i) {
        if (std::abs(int(samples[size_t(i)])) > 4000) {
            if (i - lastLoud > LatencyRate / 10) {
                result.push_back(i);
            }
            lastLoud = i;
        }
    }
    return result;
}

void addLatencies(const std::vector<qint64>& starts, std::vector<double>& latencies) {
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
        const double gapMs = double(starts[i + 1] - starts[i]) * 1000.0 / LatencyRate;
        if (gapMs > 900 && gapMs < 1500) {
            latencies.push_back(gapMs - 1000.0);
            ++i;
        }
    }
}

int trialCount(const benchmark::State& state) {
    const int shortened = qEnvironmentVariableIntValue("CLAVORA_BENCH_TRIALS");
    return shortened > 0 ? shortened : int(state.range(1));
}

void report(benchmark::State& state, std::vector<double> ms, int trials) {
    std::sort(ms.begin(), ms.end());
    state.counters["heard"] = double(ms.size());
    state.counters["trials"] = trials;
    if (ms.empty()) {
        state.SkipWithError("no event was heard");
        return;
    }
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    state.counters["min_ms"] = ms.front();
    state.counters["max_ms"] = ms.back();
}

} // namespace clavora::bench
