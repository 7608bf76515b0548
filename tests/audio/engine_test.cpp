// The engine's contract, pulled without a device (the test acts as the audio thread), and through SDL's dummy and
// disk drivers.
#include "audio/engine.h"

#include "tests/audio/audiotestsupport.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <chrono>
#include <thread>

using namespace clavora;
using namespace clavora::audio;
using clavora::test::TempFolder;

namespace {

constexpr int Rate = 44100;
constexpr int Period = 441;

// Waits (without asserting on time) until the worker has decoded the streams ahead.
void WaitDecoded(TAudioEngine& engine, std::initializer_list<quint32> handles) {
    for (int i = 0; i < 20000; ++i) {
        bool all = true;
        for (quint32 handle : handles) {
            all = all && engine.isDecodedAhead(handle);
        }
        if (all) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    FAIL() << "the decoder never got ahead";
}

std::vector<float> Pull(TAudioEngine& engine, int periods) {
    std::vector<float> out;
    std::vector<float> period(Period * 2);
    for (int i = 0; i < periods; ++i) {
        engine.render(period.data(), Period);
        out.insert(out.end(), period.begin(), period.end());
    }
    return out;
}

bool WaitReleased(TAudioEngine& engine, int held) {
    for (int i = 0; i < 20000 && engine.heldStreams() != held; ++i) {
        std::vector<float> period(Period * 2);
        engine.render(period.data(), Period);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return engine.heldStreams() == held;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        FTone = FFolder.file(QStringLiteral("tone.wav"));
        test::WriteWav16(FTone, Rate, 2, test::SineSamples16(1000, Rate, Rate / 2, 0.5));
        FLoud = FFolder.file(QStringLiteral("loud.wav"));
        test::WriteWav16(FLoud, Rate, 2, test::SineSamples16(1000, Rate, Rate / 2, 0.9));
        ASSERT_TRUE(FEngine.start(test::PulledEngineConfig()));
    }

    TempFolder FFolder;
    QString FTone;
    QString FLoud;
    TAudioEngine FEngine;
};

TEST_F(EngineTest, HandlesAreNonzeroAndNeverReused) {
    const quint32 first = FEngine.openStream(FTone);
    const quint32 second = FEngine.openStream(FTone);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    FEngine.free(first);
    EXPECT_FALSE(FEngine.play(first));
    const quint32 third = FEngine.openStream(FTone);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    // Dead or unknown handles are ignored.
    FEngine.stop(first);
    FEngine.free(first);
    FEngine.free(0);
    FEngine.stop(0xDEADBEEF);
    EXPECT_TRUE(FEngine.play(second));
    FEngine.shutdown();
    ASSERT_TRUE(FEngine.start(test::PulledEngineConfig()));
    const quint32 afterRestart = FEngine.openStream(FTone);
    EXPECT_NE(afterRestart, 0u);
    EXPECT_NE(afterRestart, first);
    EXPECT_NE(afterRestart, second);
    EXPECT_NE(afterRestart, third);
    EXPECT_FALSE(FEngine.play(second));
}

TEST_F(EngineTest, WhatCannotBePlayedGivesNoHandle) {
    const QString text = FFolder.file(QStringLiteral("text.wav"));
    test::writeBytes(text, "not a sound at all");
    QDir().mkpath(FFolder.file(QStringLiteral("folder.mp3")));
    EXPECT_EQ(FEngine.openStream(FFolder.file(QStringLiteral("missing.wav"))), 0u);
    EXPECT_EQ(FEngine.openStream(FFolder.file(QStringLiteral("folder.mp3"))), 0u);
    EXPECT_EQ(FEngine.openStream(text), 0u);
    EXPECT_EQ(FEngine.openStream(QString()), 0u);
    EXPECT_EQ(FEngine.heldStreams(), 0);
}

TEST_F(EngineTest, NothingOpensWhileTheOutputIsDown) {
    FEngine.shutdown();
    EXPECT_FALSE(FEngine.isRunning());
    EXPECT_EQ(FEngine.openStream(FTone), 0u);
    TAudioEngine neverStarted;
    EXPECT_EQ(neverStarted.openStream(FTone), 0u);
    EXPECT_FALSE(neverStarted.play(1));
}

TEST_F(EngineTest, StreamPlaysWholeAndIsReleasedWhenItEnds) {
    const quint32 handle = FEngine.openStream(FTone);
    ASSERT_NE(handle, 0u);
    WaitDecoded(FEngine, {handle});
    EXPECT_EQ(test::Peak(Pull(FEngine, 3)), 0.0f) << "an opened stream is silent until played";
    ASSERT_TRUE(FEngine.play(handle));
    const auto out = Pull(FEngine, 60); // 0.6 s for a 0.5 s sound
    const auto left = test::ChannelOf(out, 2, 0);
    EXPECT_EQ(test::AudibleFrames(left), Rate / 2 - 1); // the sine starts at a zero sample
    EXPECT_NEAR(test::EstimateFrequency(left, Rate), 1000, 0.5);
    EXPECT_EQ(left, test::ChannelOf(out, 2, 1));
    ASSERT_TRUE(WaitReleased(FEngine, 0));
    EXPECT_FALSE(FEngine.play(handle));
    FEngine.stop(handle);
    FEngine.free(handle);
}

TEST_F(EngineTest, RingSmallerThanTheSoundDeliversEverySampleInOrder) {
    FEngine.shutdown();
    TEngineConfig config = test::PulledEngineConfig();
    config.StreamBufferFrames = 1000; // wraps every two or three periods
    ASSERT_TRUE(FEngine.start(config));
    const QString exact = FFolder.file(QStringLiteral("exact.wav"));
    const auto samples = test::SineSamples16(777, Rate, Rate / 4, 0.7);
    test::WriteWav16(exact, Rate, 2, samples);
    const quint32 handle = FEngine.openStream(exact);
    ASSERT_TRUE(FEngine.play(handle));
    std::vector<float> out;
    std::vector<float> period(Period * 2);
    for (size_t periods = 0; periods * Period < samples.size() / 2; ++periods) {
        WaitDecoded(FEngine, {handle}); // a full ring (or the whole rest), so no period runs short
        FEngine.render(period.data(), Period);
        out.insert(out.end(), period.begin(), period.end());
    }
    ASSERT_GE(out.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(out[i], samples[i] / 32768.0f) << "sample " << i;
    }
}

TEST_F(EngineTest, StopSilencesFromTheNextPeriodAndPlayResumes) {
    const quint32 handle = FEngine.openStream(FTone);
    WaitDecoded(FEngine, {handle});
    FEngine.play(handle);
    EXPECT_GT(test::Peak(Pull(FEngine, 2)), 0.4f);
    FEngine.stop(handle);
    EXPECT_EQ(test::Peak(Pull(FEngine, 5)), 0.0f);
    EXPECT_EQ(FEngine.heldStreams(), 1) << "a stopped stream is kept until freed";
    EXPECT_TRUE(FEngine.play(handle));
    EXPECT_GT(test::Peak(Pull(FEngine, 2)), 0.4f);
    FEngine.free(handle);
    EXPECT_EQ(test::Peak(Pull(FEngine, 2)), 0.0f);
    EXPECT_TRUE(WaitReleased(FEngine, 0));
}

TEST_F(EngineTest, OverlappingStreamsSumAndClipCleanly) {
    const quint32 single = FEngine.openStream(FTone);
    WaitDecoded(FEngine, {single});
    FEngine.play(single);
    const auto alone = Pull(FEngine, 10);
    FEngine.free(single);

    const quint32 a = FEngine.openStream(FTone);
    const quint32 b = FEngine.openStream(FTone);
    WaitDecoded(FEngine, {a, b});
    FEngine.play(a);
    FEngine.play(b);
    const auto both = Pull(FEngine, 10);
    ASSERT_EQ(both.size(), alone.size());
    for (size_t i = 0; i < both.size(); ++i) {
        ASSERT_EQ(both[i], 2 * alone[i]) << "sample " << i;
    }
    FEngine.free(a);
    FEngine.free(b);

    const quint32 c = FEngine.openStream(FLoud);
    const quint32 d = FEngine.openStream(FLoud);
    WaitDecoded(FEngine, {c, d});
    FEngine.play(c);
    FEngine.play(d);
    const auto clipped = Pull(FEngine, 10);
    EXPECT_EQ(test::Peak(clipped), 1.0f);
    // Held at the limit while the sum is beyond it, and following the wave where it is not: no wrap-around.
    for (size_t i = 0; i < clipped.size(); ++i) {
        const float sum = 2 * alone[i] * (0.9f / 0.5f);
        if (std::fabs(sum) > 1.01f) {
            ASSERT_EQ(clipped[i], sum > 0 ? 1.0f : -1.0f) << "sample " << i;
        } else if (std::fabs(sum) < 0.99f) {
            ASSERT_NEAR(clipped[i], sum, 0.01f) << "sample " << i;
        }
    }
}

TEST_F(EngineTest, MasterGainIsAppliedPerChannel) {
    FEngine.setMasterGain({0, 65535});
    const quint32 handle = FEngine.openStream(FTone);
    WaitDecoded(FEngine, {handle});
    FEngine.play(handle);
    const auto out = Pull(FEngine, 5);
    EXPECT_EQ(test::Peak(test::ChannelOf(out, 2, 0)), 0.0f);
    EXPECT_GT(test::Peak(test::ChannelOf(out, 2, 1)), 0.4f);
    EXPECT_EQ(FEngine.masterGain().Left, 0);
    EXPECT_EQ(FEngine.masterGain().Right, 65535);
}

TEST_F(EngineTest, ShutdownStopsAndReleasesEverything) {
    const quint32 a = FEngine.openStream(FTone);
    const quint32 b = FEngine.openStream(FTone);
    const quint32 unplayed = FEngine.openStream(FTone);
    ASSERT_NE(unplayed, 0u);
    FEngine.play(a);
    FEngine.play(b);
    Pull(FEngine, 2);
    FEngine.shutdown();
    EXPECT_FALSE(FEngine.isRunning());
    EXPECT_EQ(FEngine.heldStreams(), 0);
    EXPECT_FALSE(FEngine.play(a));
    std::vector<float> out(Period * 2, 0.5f);
    FEngine.render(out.data(), Period); // nothing to pull from; must not touch freed streams
}

TEST_F(EngineTest, ManyShortSoundsDoNotAccumulate) {
    const QString blip = FFolder.file(QStringLiteral("blip.wav"));
    test::WriteWav16(blip, Rate, 2, test::SineSamples16(2000, Rate, 300, 0.5));
    for (int i = 0; i < 300; ++i) {
        const quint32 handle = FEngine.openStream(blip);
        ASSERT_NE(handle, 0u);
        FEngine.play(handle);
        if (i % 8 == 0) {
            Pull(FEngine, 1);
        }
    }
    EXPECT_TRUE(WaitReleased(FEngine, 0)) << FEngine.heldStreams() << " streams still held";
}

// Through a real SDL device driver.
class EngineDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { FOldDriver = qgetenv("SDL_AUDIODRIVER"); }
    void TearDown() override {
        qputenv("SDL_AUDIODRIVER", FOldDriver);
        qunsetenv("SDL_DISKAUDIOFILE");
    }
    QByteArray FOldDriver;
};

TEST_F(EngineDeviceTest, StartFailsWithoutAnOutput) {
    qputenv("SDL_AUDIODRIVER", "no-such-driver");
    TAudioEngine engine;
    EXPECT_FALSE(engine.start());
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(engine.openStream(QStringLiteral("/dev/null")), 0u);
}

TEST_F(EngineDeviceTest, DummyDriverRunsAndSoundsEndOnTheirOwn) {
    qputenv("SDL_AUDIODRIVER", "dummy");
    TempFolder folder;
    const QString tone = folder.file(QStringLiteral("tone.wav"));
    test::WriteWav16(tone, Rate, 2, test::SineSamples16(1000, Rate, Rate / 10, 0.5));
    TAudioEngine engine;
    ASSERT_TRUE(engine.start());
    EXPECT_GT(engine.outputFormat().SampleRate, 0);
    EXPECT_EQ(engine.outputFormat().Channels, 2);
    EXPECT_GT(engine.periodFrames(), 0);
    const quint32 handle = engine.openStream(tone);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(engine.play(handle));
    for (int i = 0; i < 10000 && engine.heldStreams() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(engine.heldStreams(), 0);
    EXPECT_EQ(engine.firstAudio(handle).Nanos, 0); // released: nothing known any more
    EXPECT_GT(engine.periodsRendered(), 0u);
    engine.shutdown();
}

TEST_F(EngineDeviceTest, DiskDriverReceivesTheSamplesExactly) {
    TempFolder folder;
    const QString disk = folder.file(QStringLiteral("out.raw"));
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(disk));
    const QString tone = folder.file(QStringLiteral("tone.wav"));
    const auto samples = test::SineSamples16(441, Rate, Rate / 5, 0.6);
    test::WriteWav16(tone, Rate, 2, samples);

    TAudioEngine engine;
    ASSERT_TRUE(engine.start());
    ASSERT_EQ(engine.outputFormat().SampleRate, Rate);
    const quint32 handle = engine.openStream(tone);
    ASSERT_NE(handle, 0u);
    engine.play(handle);
    for (int i = 0; i < 10000 && engine.heldStreams() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    engine.shutdown();

    const QByteArray raw = test::readBytes(disk);
    const auto* written = reinterpret_cast<const float*>(raw.constData());
    const size_t count = static_cast<size_t>(raw.size()) / sizeof(float);
    // The sound begins with a zero sample, so it starts at the first nonzero sample minus one frame.
    size_t first = 0;
    while (first < count && written[first] == 0.0f) {
        ++first;
    }
    ASSERT_LT(first, count) << "nothing was heard";
    ASSERT_GE(first, 2u);
    first = (first / 2 - 1) * 2;
    ASSERT_GE(count - first, samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(written[first + i], samples[i] / 32768.0f) << "sample " << i;
    }
    for (size_t i = first + samples.size(); i < count; ++i) {
        ASSERT_EQ(written[i], 0.0f) << "after the end, at " << i;
    }
}

} // namespace
