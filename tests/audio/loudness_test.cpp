// Even loudness: the loudness measured of sound files, the gain that evens them out, the measurements kept across
// starts, and two sounds 20 dB apart played at one level.
#include "audio/loudness.h"

#include "audio/soundplayer.h"
#include "platform/fake/fakefallbackplayer.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/systemservices.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

using namespace clavora;
using namespace clavora::audio;
using clavora::test::TempFolder;

namespace {

constexpr int Rate = 44100;
constexpr int Period = 441;

double decibels(double gain) {
    return 20.0 * std::log10(gain);
}

class LoudnessTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_loud = m_folder.file(QStringLiteral("loud.wav"));
        m_quiet = m_folder.file(QStringLiteral("quiet.wav"));
        ASSERT_TRUE(test::writeWav16(m_loud, Rate, 2, test::sineSamples16(1000, Rate, 2 * Rate, 0.5)));
        ASSERT_TRUE(test::writeWav16(m_quiet, Rate, 2, test::sineSamples16(1000, Rate, 2 * Rate, 0.05)));
        m_cache = m_folder.file(QStringLiteral("state/Zemtrak/Clavora/loudness.cache"));
    }

    TempFolder m_folder;
    QString m_loud;
    QString m_quiet;
    QString m_cache;
    platform::FakeFileSystem m_files;
};

TEST_F(LoudnessTest, TheGainBringsASoundToMinusSixteenAndRaisesAQuietOneTwelveDecibelsAtMost) {
    const struct {
        std::optional<double> loudness;
        double gainDb;
    } cases[] = {
        {-16.0, 0.0}, {-6.0, -10.0}, {-20.0, 4.0}, {-28.0, 12.0}, {-60.0, 12.0}, {std::nullopt, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loudness ? *c.loudness : 0.0);
        EXPECT_NEAR(decibels(levellingGain(c.loudness)), c.gainDb, 0.001);
    }
}

TEST_F(LoudnessTest, TheMeasuredLoudnessFollowsTheLevelAndNoSoundHasNone) {
    const std::optional<double> loud = measureLoudness(m_files, m_loud);
    const std::optional<double> quiet = measureLoudness(m_files, m_quiet);
    ASSERT_TRUE(loud && quiet);
    // A 1 kHz sine at half scale on both channels: a mean square of 1/8 on each, summed, is -6 dB, and the
    // weighting at 1 kHz makes up for the scale's offset of -0.691.
    EXPECT_NEAR(*loud, -6.0, 0.2);
    EXPECT_NEAR(*loud - *quiet, 20.0, 0.1);
    // A click shorter than the blocks of the integrated loudness is measured whole.
    const QString click = m_folder.file(QStringLiteral("click.wav"));
    ASSERT_TRUE(test::writeWav16(click, Rate, 2, test::sineSamples16(1000, Rate, Rate / 5, 0.5)));
    const std::optional<double> clicked = measureLoudness(m_files, click);
    ASSERT_TRUE(clicked);
    EXPECT_NEAR(*clicked, *loud, 0.5);

    const QString silent = m_folder.file(QStringLiteral("silent.wav"));
    ASSERT_TRUE(test::writeWav16(silent, Rate, 2, std::vector<qint16>(2 * Rate * 2, 0)));
    const QString text = m_folder.file(QStringLiteral("text.wav"));
    test::writeBytes(text, "not a sound");
    EXPECT_FALSE(measureLoudness(m_files, silent));
    EXPECT_FALSE(measureLoudness(m_files, text));
    EXPECT_FALSE(measureLoudness(m_files, m_folder.file(QStringLiteral("missing.wav"))));
}

// A sound not measured yet plays at its own level; what was measured is kept for the next start, and a file that
// changed is measured again.
TEST_F(LoudnessTest, MeasurementsAreKeptForTheNextStartAndRenewedWhenTheFileChanges) {
    float loudGain = 0;
    {
        LoudnessLevels levels(m_files, m_cache);
        EXPECT_EQ(levels.gainFor(m_loud), 1.0f);
        levels.measure({m_loud, m_quiet, m_loud});
        ASSERT_TRUE(levels.waitUntilIdle(60000));
        EXPECT_EQ(levels.measurements(), 2);
        loudGain = levels.gainFor(m_loud);
        EXPECT_NEAR(decibels(loudGain), -10.0, 0.2);
        EXPECT_NEAR(decibels(levels.gainFor(m_quiet)) - decibels(loudGain), 20.0, 0.1);
    }
    {
        LoudnessLevels levels(m_files, m_cache);
        EXPECT_NEAR(levels.gainFor(m_loud), loudGain, 1e-6) << "known from the cache before any measurement";
        levels.measure({m_loud, m_quiet});
        ASSERT_TRUE(levels.waitUntilIdle(60000));
        EXPECT_EQ(levels.measurements(), 0);
    }
    // The quiet file becomes a loud one of another length.
    ASSERT_TRUE(test::writeWav16(m_quiet, Rate, 2, test::sineSamples16(1000, Rate, 3 * Rate, 0.5)));
    {
        LoudnessLevels levels(m_files, m_cache);
        EXPECT_EQ(levels.gainFor(m_quiet), 1.0f) << "what was measured of the old file is not used";
        levels.measure({m_loud, m_quiet});
        ASSERT_TRUE(levels.waitUntilIdle(60000));
        EXPECT_EQ(levels.measurements(), 1);
        EXPECT_NEAR(levels.gainFor(m_quiet), loudGain, 0.01);
    }
}

// The player with even loudness on and off: the level each sound reaches the output at.
TEST_F(LoudnessTest, TwoSoundsTwentyDecibelsApartPlayAtOneLevelWithEvenLoudness) {
    platform::FakeFallbackPlayer fallback;
    SoundPlayer player(
        {&m_files, &test::systemServices().threadPriority(), &fallback, &test::systemServices().systemInfo()},
        test::pulledEngineConfig());
    ASSERT_TRUE(player.start());
    player.setBoundSounds({m_loud, m_quiet});
    // The level of a sound over its first half second, in dB of full scale.
    const auto levelOf = [&](const QString& path) {
        player.playSoundFile(path, false);
        const quint32 stream = player.newestStream();
        EXPECT_TRUE(test::waitFor([&] { return player.engine().isDecodedAhead(stream); }, 20000));
        std::vector<float> out(static_cast<size_t>(Period) * 2);
        double sum = 0;
        for (int period = 0; period < 50; ++period) {
            player.engine().render(out.data(), Period);
            for (float sample : out) {
                sum += double(sample) * sample;
            }
        }
        return 10.0 * std::log10(sum / (50.0 * Period * 2));
    };

    EXPECT_NEAR(levelOf(m_loud) - levelOf(m_quiet), 20.0, 0.2);
    EXPECT_EQ(player.loudness(), nullptr) << "nothing is measured while the option is off";

    player.setEvenLoudness(true, m_cache);
    ASSERT_NE(player.loudness(), nullptr);
    ASSERT_TRUE(player.loudness()->waitUntilIdle(60000));
    EXPECT_EQ(player.loudness()->measurements(), 2);
    const double loud = levelOf(m_loud);
    const double quiet = levelOf(m_quiet);
    EXPECT_NEAR(loud, quiet, 1.0);
    // Brought down by 10 dB, from the -9 dB of a sine at half scale.
    EXPECT_NEAR(loud, -19.0, 0.5);

    player.setEvenLoudness(false, m_cache);
    EXPECT_NEAR(levelOf(m_loud) - levelOf(m_quiet), 20.0, 0.2);
}

} // namespace
