// The master bus limiter, offline: untouched below its threshold, never at or beyond full scale above it, and no
// flat tops however many sounds pile up.
#include "audio/limiter.h"

#include "tests/support/audio/audiotestsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using clavora::audio::limitedLevel;
using clavora::audio::Limiter;
using clavora::test::hasFlatTop;

namespace {

constexpr int Rate = 44100;
constexpr int Period = 441;

// Runs interleaved audio through a limiter period by period, as the engine does.
std::vector<float> limit(std::vector<float> samples, int channels, Limiter& limiter) {
    const int frames = static_cast<int>(samples.size()) / channels;
    for (int start = 0; start < frames; start += Period) {
        limiter.process(samples.data() + static_cast<size_t>(start) * channels, std::min(Period, frames - start),
                        channels);
    }
    return samples;
}

TEST(LimiterTest, AudioBelowTheThresholdPassesSampleExact) {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> below(-Limiter::Threshold, Limiter::Threshold);
    for (int channels : {1, 2, 6}) {
        std::vector<float> noise(static_cast<size_t>(Rate) * channels);
        for (float& sample : noise) {
            sample = below(random);
        }
        noise[channels * 100] = Limiter::Threshold; // the threshold itself is still untouched
        noise[channels * 200 + channels - 1] = -Limiter::Threshold;
        Limiter limiter(Rate);
        EXPECT_EQ(limit(noise, channels, limiter), noise) << channels << " channels";
    }
}

TEST(LimiterTest, LevelCurveRisesTowardsFullScaleWithoutReachingIt) {
    EXPECT_EQ(limitedLevel(0.5f), 0.5f);
    EXPECT_EQ(limitedLevel(Limiter::Threshold), Limiter::Threshold);
    // Slope 1 where the curve leaves the straight line, so the knee does not kink the wave.
    const float step = 1e-3f;
    EXPECT_NEAR((limitedLevel(Limiter::Threshold + step) - Limiter::Threshold) / step, 1.0f, 0.02f);
    float previous = limitedLevel(Limiter::Threshold);
    for (float level = 0.91f; level < 300.0f; level *= 1.01f) {
        const float limited = limitedLevel(level);
        ASSERT_GT(limited, previous) << level;
        ASSERT_LT(limited, 1.0f) << level;
        previous = limited;
    }
}

TEST(LimiterTest, SixtyOverlappingSoundsStayBelowFullScaleWithNoFlatTops) {
    // Sixty copies of one tone at 0.5 started 10 ms apart, all in phase: the sum climbs to 30 times full scale.
    constexpr int Sounds = 60;
    constexpr int Frames = Rate * 1;
    std::vector<float> sum(static_cast<size_t>(Frames) * 2, 0.0f);
    for (int sound = 0; sound < Sounds; ++sound) {
        for (int frame = sound * Period; frame < Frames; ++frame) {
            const float value =
                0.5f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * (frame - sound * Period) / Rate));
            sum[static_cast<size_t>(frame) * 2] += value;
            sum[static_cast<size_t>(frame) * 2 + 1] += value * 0.5f;
        }
    }
    Limiter limiter(Rate);
    const auto out = limit(sum, 2, limiter);
    EXPECT_LT(clavora::test::peak(out), 1.0f);
    EXPECT_GT(clavora::test::peak(out), 0.95f) << "turned down far more than needed";
    EXPECT_FALSE(hasFlatTop(out, 2));
    // One gain for both channels: the right stays half the left, so the sound does not wander.
    for (size_t i = 0; i < out.size(); i += 2) {
        ASSERT_NEAR(out[i + 1], out[i] * 0.5f, 1e-6f) << "frame " << i / 2;
    }
}

TEST(LimiterTest, AfterABurstTheGainComesBackToExactlyOne) {
    Limiter limiter(Rate);
    std::vector<float> loud(Period * 2, 3.0f);
    limit(loud, 2, limiter);
    EXPECT_GT(limiter.envelope(), Limiter::Threshold);
    // Hold and release: well under half a second later, quiet audio passes untouched again.
    std::vector<float> quiet(static_cast<size_t>(Rate) / 2 * 2);
    for (size_t i = 0; i < quiet.size(); ++i) {
        quiet[i] = 0.3f * static_cast<float>(std::sin(static_cast<double>(i) * 0.01));
    }
    const auto out = limit(quiet, 2, limiter);
    const size_t settled = static_cast<size_t>(Rate) * 2 / 5 * 2; // 0.4 s
    EXPECT_LT(std::fabs(out[2]), std::fabs(quiet[2]) + 1e-9f);
    for (size_t i = settled; i < out.size(); ++i) {
        ASSERT_EQ(out[i], quiet[i]) << "sample " << i;
    }
}

} // namespace
