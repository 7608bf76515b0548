// The mixer, offline: sums, offsets, master gain and broken samples.
#include "audio/mixer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using clavora::audio::MasterGain;
using clavora::audio::MixInput;
using clavora::audio::mixStreams;

namespace {

std::vector<float> mix(int frames, int channels, const std::vector<MixInput>& inputs, MasterGain gain = {}) {
    std::vector<float> out(static_cast<size_t>(frames * channels), 123.0f);
    mixStreams(out.data(), frames, channels, inputs.data(), inputs.size(), gain);
    return out;
}

TEST(MixerTest, NoInputIsSilence) {
    for (float s : mix(64, 2, {})) {
        EXPECT_EQ(s, 0.0f);
    }
}

TEST(MixerTest, OverlappingInputsSumAndPiecesLandAtTheirOffsets) {
    const std::vector<float> a{0.1f, -0.1f, 0.2f, -0.2f, 0.3f, -0.3f, 0.4f, -0.4f};
    const std::vector<float> b{0.05f, 0.05f, 0.06f, 0.06f};
    // A ring that wraps hands its audio over in two pieces; the second starts where the first ends.
    const std::vector<float> wrapFirst{0.01f, 0.01f};
    const std::vector<float> wrapSecond{0.02f, 0.02f, 0.03f, 0.03f};
    const auto out = mix(5, 2,
                         {MixInput{a.data(), 4, 0}, MixInput{b.data(), 2, 1}, MixInput{wrapFirst.data(), 1, 0},
                          MixInput{wrapSecond.data(), 2, 1}});
    const std::vector<float> expected{0.11f, -0.09f, 0.27f, -0.13f, 0.39f, -0.21f, 0.4f, -0.4f, 0.0f, 0.0f};
    ASSERT_EQ(out.size(), expected.size());
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_NEAR(out[i], expected[i], 1e-6f) << "sample " << i;
    }
}

// A stream's gain scales its own samples, before they are summed with the others and before the master gain.
TEST(MixerTest, EachInputIsScaledByItsOwnGain) {
    const std::vector<float> a{0.8f, -0.8f, 0.4f, -0.4f};
    const std::vector<float> b{0.1f, 0.1f, 0.1f, 0.1f};
    const auto out = mix(2, 2, {MixInput{a.data(), 2, 0, 0.25f}, MixInput{b.data(), 2, 0, 1.0f}}, {32767, 65535});
    const float half = 32767.0f / 65535.0f;
    const std::vector<float> expected{(0.2f + 0.1f) * half, -0.2f + 0.1f, (0.1f + 0.1f) * half, -0.1f + 0.1f};
    ASSERT_EQ(out.size(), expected.size());
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_NEAR(out[i], expected[i], 1e-6f) << "sample " << i;
    }
    EXPECT_EQ(mix(2, 2, {MixInput{a.data(), 2, 0, 0.0f}}), std::vector<float>(4, 0.0f));
}

TEST(MixerTest, InputsReachingPastThePeriodAreCut) {
    const std::vector<float> a(20, 0.5f);
    const auto out = mix(4, 2, {MixInput{a.data(), 10, 2}, MixInput{a.data(), 3, 9}, MixInput{a.data(), 3, -1}});
    const std::vector<float> expected{0, 0, 0, 0, 0.5f, 0.5f, 0.5f, 0.5f};
    EXPECT_EQ(out, expected);
}

TEST(MixerTest, MasterGainPerChannel) {
    const std::vector<float> a{0.8f, 0.8f, -0.8f, -0.8f};
    struct Case {
        MasterGain gain;
        float left;
        float right;
    };
    const Case cases[] = {
        {{65535, 65535}, 0.8f, 0.8f},
        {{0, 65535}, 0.0f, 0.8f},
        {{65535, 0}, 0.8f, 0.0f},
        {{0, 0}, 0.0f, 0.0f},
        {{32768, 16384}, 0.8f * 32768 / 65535, 0.8f * 16384 / 65535},
    };
    for (const Case& c : cases) {
        const auto out = mix(2, 2, {MixInput{a.data(), 2, 0}}, c.gain);
        EXPECT_NEAR(out[0], c.left, 1e-6f) << c.gain.left << "/" << c.gain.right;
        EXPECT_NEAR(out[1], c.right, 1e-6f) << c.gain.left << "/" << c.gain.right;
        EXPECT_NEAR(out[2], -c.left, 1e-6f);
        EXPECT_NEAR(out[3], -c.right, 1e-6f);
    }
}

TEST(MixerTest, MonoOutputFollowsTheLeftGainAndWiderOutputsAlternate) {
    const std::vector<float> mono{0.5f};
    EXPECT_NEAR(mix(1, 1, {MixInput{mono.data(), 1, 0}}, {0, 65535})[0], 0.0f, 1e-6f);
    const std::vector<float> six(6, 0.5f);
    const auto out = mix(1, 6, {MixInput{six.data(), 1, 0}}, {65535, 0});
    EXPECT_EQ(out, (std::vector<float>{0.5f, 0, 0.5f, 0, 0.5f, 0}));
}

TEST(MixerTest, SumsBeyondFullScaleArePassedOnWholeForTheLimiter) {
    const std::vector<float> loud{0.9f, -0.9f, 0.6f, -0.6f};
    const auto out = mix(2, 2, {MixInput{loud.data(), 2, 0}, MixInput{loud.data(), 2, 0}, MixInput{loud.data(), 2, 0}});
    EXPECT_NEAR(out[0], 2.7f, 1e-6f);
    EXPECT_NEAR(out[1], -2.7f, 1e-6f);
    EXPECT_NEAR(out[2], 1.8f, 1e-6f);
    // The master gain comes first: a loud sum turned down is not limited at all.
    const auto softer = mix(1, 2, {MixInput{loud.data(), 1, 0}, MixInput{loud.data(), 1, 0}}, {32767, 32767});
    EXPECT_NEAR(softer[0], 0.9f, 1e-4f);
}

TEST(MixerTest, BrokenSamplesComeOutSilent) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> broken{nan, inf, -inf, 0.25f};
    const auto out = mix(2, 2, {MixInput{broken.data(), 2, 0}});
    EXPECT_EQ(out, (std::vector<float>{0.0f, 0.0f, 0.0f, 0.25f}));
}

} // namespace
