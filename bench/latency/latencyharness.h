// What the latency benchmarks share: the click whose onset they time, the search for onsets in a recording of the
// sink's monitor, and the report of the figures.
#pragma once

#include <benchmark/benchmark.h>

#include <QtGlobal>

#include <vector>

namespace clavora::bench {

// The rate of the click, the reference stream and the recording.
inline constexpr int LatencyRate = 48000;

// 20 ms of a loud 1 kHz square wave: an onset no detector can place wrong by more than a sample or two.
std::vector<qint16> click();

// Sample positions in a mono recording at LatencyRate where sound starts after at least 100 ms of silence.
std::vector<qint64> onsets(const std::vector<qint16>& samples);

// The reference click's onset and the event's one second after it, paired in the onsets of a recording: each pair's
// gap less the second, in milliseconds, appended to Latencies.
void addLatencies(const std::vector<qint64>& starts, std::vector<double>& latencies);

// The trials of a row: its second argument, or CLAVORA_BENCH_TRIALS when set (a short run of the harness itself).
int trialCount(const benchmark::State& state);

// The figures of one row, in milliseconds: how many were heard of Trials, the median, p95, the least and the most.
// The row is skipped with an error when none was heard.
void report(benchmark::State& state, std::vector<double> ms, int trials);

} // namespace clavora::bench
