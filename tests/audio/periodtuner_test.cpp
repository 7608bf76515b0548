// The device period chosen at run time: underruns inferred from the callback's timing, and the steps up and down.
#include "audio/periodtuner.h"

#include <gtest/gtest.h>

namespace clavora::audio {
namespace {

constexpr qint64 Ms = 1'000'000;
constexpr qint64 S = 1000 * Ms;

// Callbacks of 480 frames at 48 kHz (10 ms), at these offsets in ms; the count of underruns found.
int underrunsIn(std::initializer_list<double> callbackMs) {
    UnderrunDetector detector;
    int dry = 0;
    for (double at : callbackMs) {
        dry += detector.onCallback(qint64(at * double(Ms)) + 1, 480, 48000);
    }
    return dry;
}

TEST(UnderrunDetectorTest, OnlyACallbackLaterThanTheAudioHeldAheadCounts) {
    const struct {
        const char* what;
        std::initializer_list<double> callbacks;
        int underruns;
    } cases[] = {
        {"steady", {0, 10, 20, 30, 40, 50}, 0},
        {"jitter within half a period", {0, 14, 20, 34, 40}, 0},
        {"one late callback", {0, 10, 20, 36, 46}, 1},
        {"a callback too slow for its period, again and again", {0, 13, 26, 39, 52}, 2},
        {"a burst does not pay for a later stall", {0, 1, 2, 3, 4, 40}, 1},
        {"an early callback gives no credit for a late one", {0, 10, 15, 31, 41}, 1},
        {"a stall, then steady again", {0, 10, 50, 60, 70, 80}, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(underrunsIn(c.callbacks), c.underruns) << c.what;
    }
}

TEST(PeriodTunerTest, GrowsOnRepeatedUnderrunsAndShrinksAfterAQuietWhileThatLengthensWhenItFailsAgain) {
    PeriodTuner tuner;
    EXPECT_EQ(tuner.period(), 128);
    EXPECT_EQ(tuner.onUnderruns(1, 1 * S), 0) << "one underrun alone is no pattern";
    EXPECT_EQ(tuner.onUnderruns(1, 20 * S), 0) << "the first has left the window";
    EXPECT_EQ(tuner.onUnderruns(1, 21 * S), 256);
    EXPECT_EQ(tuner.onUnderruns(3, 22 * S), 512);
    EXPECT_EQ(tuner.underruns(), 6u);

    EXPECT_EQ(tuner.onQuiet(40 * S), 0) << "not quiet long enough";
    EXPECT_EQ(tuner.onQuiet(53 * S), 256);
    // The smaller period fails again soon: back up, and the next step down waits twice as long.
    EXPECT_EQ(tuner.onUnderruns(2, 60 * S), 512);
    EXPECT_EQ(tuner.onQuiet(60 * S + 31 * S), 0);
    EXPECT_EQ(tuner.onQuiet(60 * S + 61 * S), 256);
    EXPECT_EQ(tuner.onQuiet(121 * S + 31 * S), 0) << "the longer wait stays";
    EXPECT_EQ(tuner.onQuiet(121 * S + 61 * S), 128);
    EXPECT_EQ(tuner.onQuiet(500 * S), 0) << "nothing below the smallest";
}

TEST(PeriodTunerTest, ABusyMachineStartsHigherAndTheUnderrunsBuildOnTopOfIt) {
    PeriodPolicy policy;
    policy.underrunsToGrow = 1;
    policy.quietNs = 10 * S;
    policy.busyPeriod = 512;
    PeriodTuner tuner(policy);
    EXPECT_EQ(tuner.onLoad(false), 0);
    EXPECT_EQ(tuner.onLoad(true), 512);
    EXPECT_EQ(tuner.onQuiet(100 * S), 0) << "the load alone holds it";
    EXPECT_EQ(tuner.onUnderruns(1, 101 * S), 1024) << "a step above the busy period, not above the underruns' own";
    EXPECT_EQ(tuner.onLoad(false), 0) << "the underruns still call for it";
    EXPECT_EQ(tuner.onQuiet(112 * S), 512);
    EXPECT_EQ(tuner.onLoad(true), 0);
    EXPECT_EQ(tuner.onLoad(false), 0) << "the underruns alone call for 512 now";
    EXPECT_EQ(tuner.onQuiet(123 * S), 256);

    PeriodTuner unbounded(PeriodPolicy{{128, 256}, 1, 10 * S, 10 * S, 600 * S, 4096});
    EXPECT_EQ(unbounded.onLoad(true), 256) << "no step is larger than the last";
    EXPECT_EQ(unbounded.onLoad(false), 128);
}

TEST(PeriodTunerTest, BusyMeansEveryProcessorIsTakenOrThreadsHaveBeenWaiting) {
    const struct {
        platform::ProcessorLoad load;
        bool busy;
    } cases[] = {
        {{2, 1, 0.0}, false},                        // only the reader runs
        {{2, 2, 0.05}, false},                       // one other thread: a processor is free
        {{2, 3, 0.0}, true},                         // two others fill both processors
        {{2, 5, 0.0}, true},   {{2, 1, 0.35}, true}, // threads kept waiting a third of the last seconds
        {{1, 2, 0.0}, true},   {{0, 9, 0.0}, false}, // nothing known about the processors
        {{}, false},                                 // nothing known at all
    };
    for (const auto& c : cases) {
        EXPECT_EQ(machineBusy(c.load), c.busy)
            << c.load.processors << " processors, " << c.load.runnable << " runnable, " << c.load.waitingShare;
    }
}

// The waiting over the last second decides where the system counts it; a busy moment alone does not.
TEST(LoadWatchTest, JudgesTheWaitingSinceAnEarlierReadingAndTheMomentOnlyWithoutOne) {
    platform::ProcessorLoad load;
    LoadWatch watch([&] { return load; });
    const platform::ProcessorLoad quietMoment{2, 1, 0.0, -1};
    const platform::ProcessorLoad fullMoment{2, 4, 0.0, -1};

    load = fullMoment;
    EXPECT_TRUE(watch.busy(1 * S)) << "nothing earlier to judge by: the moment";
    load = quietMoment;
    EXPECT_FALSE(watch.busy(2 * S)) << "no waiting counted: the moment";

    load = {2, 1, 0.0, 1'000'000};
    watch.tick(10 * S);
    load = {2, 4, 0.0, 1'050'000}; // 50 ms of waiting in the second, though the queue is full right now
    EXPECT_FALSE(watch.busy(11 * S));
    load = {2, 1, 0.0, 1'650'000}; // 600 ms of waiting in the second, though the queue is empty right now
    EXPECT_TRUE(watch.busy(12 * S));
    load = {2, 1, 0.0, 1'651'000}; // 1 ms in the last 50 ms
    EXPECT_TRUE(watch.busy(12 * S + 50 * Ms)) << "too short a time to judge by: judged since the reading before";
}

TEST(PeriodTunerTest, TheLargestStepIsTheLast) {
    PeriodTuner tuner(PeriodPolicy{{256, 512}, 1, 10 * S, 30 * S, 600 * S});
    EXPECT_EQ(tuner.onUnderruns(1, S), 512);
    EXPECT_EQ(tuner.onUnderruns(5, 2 * S), 0);
    EXPECT_EQ(tuner.period(), 512);
}

} // namespace
} // namespace clavora::audio
