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

TEST(PeriodTunerTest, TheLargestStepIsTheLast) {
    PeriodTuner tuner(PeriodPolicy{{256, 512}, 1, 10 * S, 30 * S, 600 * S});
    EXPECT_EQ(tuner.onUnderruns(1, S), 512);
    EXPECT_EQ(tuner.onUnderruns(5, 2 * S), 0);
    EXPECT_EQ(tuner.period(), 512);
}

} // namespace
} // namespace clavora::audio
