// The engine's contract, pulled without a device (the test acts as the audio thread), and through SDL's dummy and
// disk drivers.
#include "audio/audioengine.h"

#include "audio/ffmpegsource.h"

#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/systemservices.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

using namespace clavora;
using namespace clavora::audio;
using clavora::test::TempFolder;
using clavora::test::waitFor;

namespace {

constexpr int Rate = 44100;
constexpr int Period = 441;
constexpr int WaitMs = 20000;

// True once the worker has decoded every stream ahead (no time is asserted on).
bool waitDecoded(AudioEngine& engine, std::initializer_list<quint32> handles) {
    return waitFor(
        [&] {
            return std::all_of(handles.begin(), handles.end(),
                               [&](quint32 handle) { return engine.isDecodedAhead(handle); });
        },
        WaitMs);
}

std::vector<float> pull(AudioEngine& engine, int periods) {
    std::vector<float> out;
    std::vector<float> period(Period * 2);
    for (int i = 0; i < periods; ++i) {
        engine.render(period.data(), Period);
        out.insert(out.end(), period.begin(), period.end());
    }
    return out;
}

// Pulls until the engine holds `held` streams: ended streams are let go of by the audio thread and released by the
// worker.
bool waitReleased(AudioEngine& engine, int held) {
    return waitFor(
        [&] {
            pull(engine, 1);
            return engine.heldStreams() == held;
        },
        WaitMs);
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_tone = m_folder.file(QStringLiteral("tone.wav"));
        test::writeWav16(m_tone, Rate, 2, test::sineSamples16(1000, Rate, Rate / 2, 0.5));
        m_loud = m_folder.file(QStringLiteral("loud.wav"));
        test::writeWav16(m_loud, Rate, 2, test::sineSamples16(1000, Rate, Rate / 2, 0.9));
        m_engine.setUnplayableHandler([this](quint32 handle, const QString& path, Unplayable) {
            std::lock_guard<std::mutex> lock(m_reportedMutex);
            m_reported.emplace_back(handle, path);
        });
        ASSERT_TRUE(m_engine.start(test::pulledEngineConfig()));
    }

    std::vector<std::pair<quint32, QString>> reported() {
        std::lock_guard<std::mutex> lock(m_reportedMutex);
        return m_reported;
    }

    std::mutex m_reportedMutex;
    std::vector<std::pair<quint32, QString>> m_reported;
    TempFolder m_folder;
    QString m_tone;
    QString m_loud;
    AudioEngine m_engine{test::systemAudioServices()};
};

TEST_F(EngineTest, HandlesAreNonzeroAndNeverReused) {
    const quint32 first = m_engine.openStream(m_tone);
    const quint32 second = m_engine.openStream(m_tone);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    m_engine.free(first);
    EXPECT_FALSE(m_engine.play(first));
    const quint32 third = m_engine.openStream(m_tone);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    // Dead or unknown handles are ignored.
    m_engine.stop(first);
    m_engine.free(first);
    m_engine.free(0);
    m_engine.stop(0xDEADBEEF);
    EXPECT_TRUE(m_engine.play(second));
    m_engine.shutdown();
    ASSERT_TRUE(m_engine.start(test::pulledEngineConfig()));
    const quint32 afterRestart = m_engine.openStream(m_tone);
    EXPECT_NE(afterRestart, 0u);
    EXPECT_NE(afterRestart, first);
    EXPECT_NE(afterRestart, second);
    EXPECT_NE(afterRestart, third);
    EXPECT_FALSE(m_engine.play(second));
}

// Pulls `periods` periods from one output.
std::vector<float> pullOutput(AudioEngine& engine, OutputId output, int periods) {
    std::vector<float> out(static_cast<size_t>(periods) * Period * 2);
    for (int i = 0; i < periods; ++i) {
        engine.render(output, out.data() + static_cast<size_t>(i) * Period * 2, Period);
    }
    return out;
}

// A second output gets every stream played after it came, under the same handle and decoded once: a stream is
// released only once every output it went to is through with it, and one that plays on an output closed under it
// plays on, to its end, on the others.
TEST_F(EngineTest, OutputsShareTheStreamsPlayedWhileTheyRun) {
    const quint32 before = m_engine.openStream(m_tone);
    ASSERT_TRUE(m_engine.play(before));
    const OutputId second = m_engine.addOutput(test::pulledEngineConfig());
    ASSERT_NE(second, InvalidOutput);
    ASSERT_NE(second, MainOutput);
    ASSERT_TRUE(waitDecoded(m_engine, {before}));
    EXPECT_EQ(test::peak(pullOutput(m_engine, second, 2)), 0.0f) << "a sound played before the output came";
    EXPECT_GT(test::peak(pull(m_engine, 2)), 0.4f);
    m_engine.free(before);

    // Played on both; the second output's gain is its own.
    const quint32 shared = m_engine.openStream(m_tone);
    ASSERT_TRUE(waitDecoded(m_engine, {shared}));
    ASSERT_TRUE(m_engine.play(shared));
    m_engine.setOutputGain(second, MasterGain{0, 0});
    EXPECT_EQ(test::peak(pullOutput(m_engine, second, 1)), 0.0f);
    m_engine.setOutputGain(second, MasterGain{});
    EXPECT_GT(test::peak(pullOutput(m_engine, second, 1)), 0.4f);
    EXPECT_GT(test::peak(pull(m_engine, 2)), 0.4f);
    EXPECT_EQ(m_engine.masterGain().left, 65535) << "the main output's gain followed the other's";

    // Ended on the main output, still held for the second until it has played it too.
    ASSERT_TRUE(waitFor([&] { return test::peak(pull(m_engine, 1)) == 0.0f; }, WaitMs));
    pull(m_engine, 5);
    EXPECT_EQ(m_engine.heldStreams(), 1);
    ASSERT_TRUE(waitFor(
        [&] {
            pullOutput(m_engine, second, 1);
            return m_engine.heldStreams() == 0;
        },
        WaitMs));

    // Closed while a sound plays on it: the main output plays the sound on and lets go of it alone.
    const quint32 cut = m_engine.openStream(m_tone);
    ASSERT_TRUE(waitDecoded(m_engine, {cut}));
    ASSERT_TRUE(m_engine.play(cut));
    ASSERT_GT(test::peak(pullOutput(m_engine, second, 1)), 0.4f);
    m_engine.removeOutput(second);
    EXPECT_EQ(test::peak(pullOutput(m_engine, second, 1)), 0.0f);
    EXPECT_GT(test::peak(pull(m_engine, 2)), 0.4f);
    EXPECT_TRUE(waitReleased(m_engine, 0));
}

// Outputs are bounded; a slot freed is taken again.
TEST_F(EngineTest, OutputsBeyondTheBoundAreRefused) {
    std::vector<OutputId> added;
    for (int i = 1; i < MaxOutputs; ++i) {
        added.push_back(m_engine.addOutput(test::pulledEngineConfig()));
        ASSERT_NE(added.back(), InvalidOutput);
    }
    EXPECT_EQ(m_engine.addOutput(test::pulledEngineConfig()), InvalidOutput);
    m_engine.removeOutput(added.front());
    EXPECT_EQ(m_engine.addOutput(test::pulledEngineConfig()), added.front());
    m_engine.shutdown();
    EXPECT_EQ(m_engine.addOutput(test::pulledEngineConfig()), InvalidOutput) << "an output without an engine";
}

TEST_F(EngineTest, WhatIsNoFileGivesNoHandle) {
    QDir().mkpath(m_folder.file(QStringLiteral("folder.mp3")));
    EXPECT_EQ(m_engine.openStream(m_folder.file(QStringLiteral("missing.wav"))), 0u);
    EXPECT_EQ(m_engine.openStream(m_folder.file(QStringLiteral("folder.mp3"))), 0u);
    EXPECT_EQ(m_engine.openStream(QString()), 0u);
    EXPECT_EQ(m_engine.heldStreams(), 0);
    EXPECT_TRUE(reported().empty());
}

// The file is probed off the calling thread: the handle comes at once, dies when the file turns out to be no sound,
// and the owner hears of it to hand the file to the fallback player. Played or not, the stream is released.
TEST_F(EngineTest, FileThatCannotBeDecodedDiesAndIsReported) {
    const QString text = m_folder.file(QStringLiteral("text.wav"));
    test::writeBytes(text, "not a sound at all");
    const quint32 played = m_engine.openStream(text);
    ASSERT_NE(played, 0u);
    m_engine.play(played);
    const quint32 unplayed = m_engine.openStream(text);
    ASSERT_NE(unplayed, 0u);
    ASSERT_TRUE(waitFor([&] { return reported().size() == 2; }, WaitMs));
    EXPECT_EQ(reported()[0], std::make_pair(played, text));
    EXPECT_EQ(reported()[1], std::make_pair(unplayed, text));
    EXPECT_FALSE(m_engine.play(unplayed));
    EXPECT_TRUE(waitReleased(m_engine, 0));
    EXPECT_FALSE(m_engine.play(played));
    EXPECT_EQ(test::peak(pull(m_engine, 2)), 0.0f);
}

// The opener takes one file at a time, and files that are no sound keep it busy probing. Streams freed while they
// wait for their turn or while their file is being probed, played or not, are released without being opened, and
// neither the opener nor the worker touches them after the other has destroyed them.
TEST_F(EngineTest, StreamsFreedBeforeTheirFileIsOpenAreReleased) {
    m_engine.shutdown();
    EngineConfig config = test::pulledEngineConfig();
    config.streamBufferFrames = 4096; // quick to set up, so all is done before the opener is through the first file
    ASSERT_TRUE(m_engine.start(config));
    const QString junk = m_folder.file(QStringLiteral("junk.wav"));
    test::writeBytes(junk, QByteArray(1 << 20, 'x'));
    std::vector<quint32> slow;
    for (int i = 0; i < 40; ++i) {
        slow.push_back(m_engine.openStream(junk));
        ASSERT_NE(slow.back(), 0u);
        // A fast machine may have found the file to be no sound already, and then the stream is dead and will not
        // play; either way it must be released.
        m_engine.play(slow.back());
    }
    std::vector<quint32> waiting;
    for (int i = 0; i < 20; ++i) {
        waiting.push_back(m_engine.openStream(m_tone));
        ASSERT_NE(waiting.back(), 0u);
        if (i % 2 == 0) {
            ASSERT_TRUE(m_engine.play(waiting.back()));
        }
    }
    // The file being probed now is freed under the opener, and the audio thread lets go of it; the frees after that
    // have the worker release it at once.
    for (quint32 handle : slow) {
        m_engine.free(handle);
    }
    pull(m_engine, 1);
    for (quint32 handle : waiting) {
        m_engine.free(handle);
    }
    EXPECT_TRUE(waitReleased(m_engine, 0));

    // Only the files probed before they were freed were reported, in order.
    const auto reports = reported();
    ASSERT_LE(reports.size(), slow.size());
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i], std::make_pair(slow[i], junk)) << "report " << i;
    }
    const quint32 next = m_engine.openStream(m_tone);
    ASSERT_TRUE(waitDecoded(m_engine, {next}));
    m_engine.play(next);
    EXPECT_GT(test::peak(pull(m_engine, 2)), 0.4f);
}

TEST_F(EngineTest, NothingOpensWhileTheOutputIsDown) {
    m_engine.shutdown();
    EXPECT_FALSE(m_engine.isRunning());
    EXPECT_EQ(m_engine.openStream(m_tone), 0u);
    AudioEngine neverStarted{test::systemAudioServices()};
    EXPECT_EQ(neverStarted.openStream(m_tone), 0u);
    EXPECT_FALSE(neverStarted.play(1));
}

TEST_F(EngineTest, StreamPlaysWholeAndIsReleasedWhenItEnds) {
    const quint32 handle = m_engine.openStream(m_tone);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(waitDecoded(m_engine, {handle}));
    EXPECT_EQ(test::peak(pull(m_engine, 3)), 0.0f) << "an opened stream is silent until played";
    ASSERT_TRUE(m_engine.play(handle));
    const auto out = pull(m_engine, 60); // 0.6 s for a 0.5 s sound
    const auto left = test::channelOf(out, 2, 0);
    EXPECT_EQ(test::audibleFrames(left), Rate / 2 - 1); // the sine starts at a zero sample
    EXPECT_NEAR(test::estimateFrequency(left, Rate), 1000, 0.5);
    EXPECT_EQ(left, test::channelOf(out, 2, 1));
    ASSERT_TRUE(waitReleased(m_engine, 0));
    EXPECT_FALSE(m_engine.play(handle));
    m_engine.stop(handle);
    m_engine.free(handle);
}

TEST_F(EngineTest, RingSmallerThanTheSoundDeliversEverySampleInOrder) {
    m_engine.shutdown();
    EngineConfig config = test::pulledEngineConfig();
    config.streamBufferFrames = 1000; // wraps every two or three periods
    ASSERT_TRUE(m_engine.start(config));
    const QString exact = m_folder.file(QStringLiteral("exact.wav"));
    // Just below the limiter's threshold, which it must leave untouched.
    const auto samples = test::sineSamples16(777, Rate, Rate / 4, 0.89);
    test::writeWav16(exact, Rate, 2, samples);
    const quint32 handle = m_engine.openStream(exact);
    ASSERT_TRUE(m_engine.play(handle));
    std::vector<float> out;
    std::vector<float> period(Period * 2);
    for (size_t periods = 0; periods * Period < samples.size() / 2; ++periods) {
        // A full ring (or the whole rest), so no period runs short.
        ASSERT_TRUE(waitDecoded(m_engine, {handle})) << "period " << periods;
        m_engine.render(period.data(), Period);
        out.insert(out.end(), period.begin(), period.end());
    }
    ASSERT_GE(out.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(out[i], samples[i] / 32768.0f) << "sample " << i;
    }
}

TEST_F(EngineTest, StopSilencesFromTheNextPeriodAndPlayResumes) {
    const quint32 handle = m_engine.openStream(m_tone);
    ASSERT_TRUE(waitDecoded(m_engine, {handle}));
    m_engine.play(handle);
    EXPECT_GT(test::peak(pull(m_engine, 2)), 0.4f);
    m_engine.stop(handle);
    EXPECT_EQ(test::peak(pull(m_engine, 5)), 0.0f);
    EXPECT_EQ(m_engine.heldStreams(), 1) << "a stopped stream is kept until freed";
    EXPECT_TRUE(m_engine.play(handle));
    EXPECT_GT(test::peak(pull(m_engine, 2)), 0.4f);
    m_engine.free(handle);
    EXPECT_EQ(test::peak(pull(m_engine, 2)), 0.0f);
    EXPECT_TRUE(waitReleased(m_engine, 0));
}

TEST_F(EngineTest, OverlappingStreamsSumExactlyBelowTheLimiterThreshold) {
    const QString quiet = m_folder.file(QStringLiteral("quiet.wav"));
    test::writeWav16(quiet, Rate, 2, test::sineSamples16(1000, Rate, Rate / 2, 0.4));
    const quint32 single = m_engine.openStream(quiet);
    ASSERT_TRUE(waitDecoded(m_engine, {single}));
    m_engine.play(single);
    const auto alone = pull(m_engine, 10);
    m_engine.free(single);

    const quint32 a = m_engine.openStream(quiet);
    const quint32 b = m_engine.openStream(quiet);
    ASSERT_TRUE(waitDecoded(m_engine, {a, b}));
    m_engine.play(a);
    m_engine.play(b);
    const auto both = pull(m_engine, 10);
    ASSERT_EQ(both.size(), alone.size());
    for (size_t i = 0; i < both.size(); ++i) {
        ASSERT_EQ(both[i], 2 * alone[i]) << "sample " << i;
    }
}

// Sixty presses of a key bound to a loud tone, one per device period (all in phase, the worst case): the mix is
// turned down as a whole instead of being cut off at full scale.
TEST_F(EngineTest, SixtyOverlappingSoundsStayBelowFullScaleWithNoFlatTops) {
    std::vector<float> out;
    std::vector<quint32> handles;
    for (int i = 0; i < 60; ++i) {
        handles.push_back(m_engine.openStream(m_loud));
        ASSERT_TRUE(waitDecoded(m_engine, {handles.back()}));
        m_engine.play(handles.back());
        const auto period = pull(m_engine, 1);
        out.insert(out.end(), period.begin(), period.end());
    }
    const auto rest = pull(m_engine, 30);
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_LT(test::peak(out), 1.0f);
    EXPECT_GT(test::peak(out), 0.95f);
    EXPECT_FALSE(test::hasFlatTop(out, 2));
}

// A full-scale file at a low rate comes out of the resampler above full scale (the ripple of its filter); it is
// limited, not cut.
TEST_F(EngineTest, ResamplerOvershootOfAFullScaleFileIsLimitedNotCut) {
    constexpr int LowRate = 11025;
    const QString low = m_folder.file(QStringLiteral("low.wav"));
    std::vector<qint16> square;
    for (int i = 0; i < LowRate / 2; ++i) {
        const qint16 value = (i / 4) % 2 == 0 ? 32767 : -32767;
        square.push_back(value);
        square.push_back(value);
    }
    test::writeWav16(low, LowRate, 2, square);
    auto decoded = audio::FfmpegSource::open(test::systemServices().fileSystem(), low, AudioFormat{Rate, 2});
    ASSERT_TRUE(decoded);
    ASSERT_GT(test::peak(test::decodeAll(*decoded)), 1.05f) << "the case this test is about does not arise";

    const quint32 handle = m_engine.openStream(low);
    ASSERT_TRUE(waitDecoded(m_engine, {handle}));
    m_engine.play(handle);
    const auto out = pull(m_engine, 55);
    EXPECT_LT(test::peak(out), 1.0f);
    EXPECT_GT(test::peak(out), 0.9f);
    EXPECT_FALSE(test::hasFlatTop(out, 2));
}

// Beyond the cap the oldest sound makes room, playing or not, and the new one plays: nothing is refused and nothing
// goes to the fallback.
TEST_F(EngineTest, TheOldestSoundGivesWayAtTheCap) {
    m_engine.shutdown();
    EngineConfig config = test::pulledEngineConfig();
    config.maxStreams = 4;
    ASSERT_TRUE(m_engine.start(config));
    std::vector<quint32> handles;
    for (int i = 0; i < 4; ++i) {
        handles.push_back(m_engine.openStream(m_tone));
        ASSERT_NE(handles.back(), 0u);
        m_engine.play(handles.back());
    }
    m_engine.stop(handles[1]); // stopped sounds count too
    for (int i = 0; i < 3; ++i) {
        handles.push_back(m_engine.openStream(m_tone));
        ASSERT_NE(handles.back(), 0u) << "refused at the cap";
        ASSERT_TRUE(m_engine.play(handles.back()));
    }
    for (size_t i = 0; i < handles.size(); ++i) {
        EXPECT_EQ(m_engine.play(handles[i]), i >= 3) << "sound " << i;
    }
    EXPECT_TRUE(waitReleased(m_engine, 4));
    ASSERT_TRUE(waitDecoded(m_engine, {handles[3], handles[4], handles[5], handles[6]}));
    EXPECT_GT(test::peak(pull(m_engine, 2)), 0.4f);
    EXPECT_TRUE(reported().empty());
}

TEST_F(EngineTest, MasterGainIsAppliedPerChannel) {
    m_engine.setMasterGain({0, 65535});
    const quint32 handle = m_engine.openStream(m_tone);
    ASSERT_TRUE(waitDecoded(m_engine, {handle}));
    m_engine.play(handle);
    const auto out = pull(m_engine, 5);
    EXPECT_EQ(test::peak(test::channelOf(out, 2, 0)), 0.0f);
    EXPECT_GT(test::peak(test::channelOf(out, 2, 1)), 0.4f);
    EXPECT_EQ(m_engine.masterGain().left, 0);
    EXPECT_EQ(m_engine.masterGain().right, 65535);
}

TEST_F(EngineTest, ShutdownSilencesEverythingForGood) {
    const quint32 a = m_engine.openStream(m_tone);
    const quint32 b = m_engine.openStream(m_tone);
    const quint32 unplayed = m_engine.openStream(m_tone);
    ASSERT_NE(unplayed, 0u);
    ASSERT_TRUE(waitDecoded(m_engine, {a, b, unplayed}));
    m_engine.play(a);
    m_engine.play(b);
    ASSERT_GT(test::peak(pull(m_engine, 2)), 0.9f);
    m_engine.shutdown();
    EXPECT_FALSE(m_engine.isRunning());
    EXPECT_EQ(m_engine.heldStreams(), 0);
    EXPECT_FALSE(m_engine.play(a));

    // Whatever was in the buffer is overwritten: a pull after shut-down is silence, not stale or freed audio.
    std::vector<float> out(Period * 2, 0.5f);
    m_engine.render(out.data(), Period);
    EXPECT_EQ(test::peak(out), 0.0f);

    // Nothing of the old run comes back after a restart, and the old handles stay dead.
    ASSERT_TRUE(m_engine.start(test::pulledEngineConfig()));
    EXPECT_EQ(test::peak(pull(m_engine, 5)), 0.0f);
    EXPECT_EQ(m_engine.heldStreams(), 0);
    EXPECT_FALSE(m_engine.play(a));
    EXPECT_FALSE(m_engine.play(unplayed));
    EXPECT_EQ(test::peak(pull(m_engine, 5)), 0.0f);
}

TEST_F(EngineTest, StopAllSilencesTenOverlappingSoundsFromTheNextPeriod) {
    std::vector<quint32> handles;
    for (int i = 0; i < 10; ++i) {
        handles.push_back(m_engine.openStream(m_tone));
        ASSERT_NE(handles.back(), 0u);
    }
    ASSERT_TRUE(waitFor(
        [&] {
            return std::all_of(handles.begin(), handles.end(),
                               [&](quint32 handle) { return m_engine.isDecodedAhead(handle); });
        },
        WaitMs));
    // Started a period apart, so they overlap at different points of the wave.
    for (quint32 handle : handles) {
        ASSERT_TRUE(m_engine.play(handle));
        pull(m_engine, 1);
    }
    ASSERT_GT(test::peak(pull(m_engine, 1)), 0.4f);

    m_engine.stopAll();
    EXPECT_EQ(test::peak(pull(m_engine, 1)), 0.0f) << "sound in the first period after the command";
    EXPECT_EQ(test::peak(pull(m_engine, 5)), 0.0f);
    for (quint32 handle : handles) {
        EXPECT_FALSE(m_engine.play(handle)) << "handle " << handle << " outlived the command";
    }
    EXPECT_TRUE(waitReleased(m_engine, 0));

    // The output itself plays on.
    const quint32 next = m_engine.openStream(m_tone);
    ASSERT_TRUE(waitDecoded(m_engine, {next}));
    m_engine.play(next);
    EXPECT_GT(test::peak(pull(m_engine, 2)), 0.4f);
}

TEST_F(EngineTest, ManyShortSoundsDoNotAccumulate) {
    const QString blip = m_folder.file(QStringLiteral("blip.wav"));
    test::writeWav16(blip, Rate, 2, test::sineSamples16(2000, Rate, 300, 0.5));
    for (int i = 0; i < 300; ++i) {
        const quint32 handle = m_engine.openStream(blip);
        ASSERT_NE(handle, 0u);
        m_engine.play(handle);
        if (i % 8 == 0) {
            pull(m_engine, 1);
        }
    }
    EXPECT_TRUE(waitReleased(m_engine, 0)) << m_engine.heldStreams() << " streams still held";
}

// Hundreds of streams decoded ahead while another thread renders, as when a key bound to a long sound is held with
// overlapping on. All but one wait full; the render thread keeps draining that one a little at a time, so its level
// changes while the worker puts the streams in order, the case that used to send the worker's sort past the ends of
// its array (a crash within a few seconds).
TEST(EngineStressTest, LevelsChangingWhileTheWorkerOrdersTheStreams) {
    TempFolder folder;
    const QString longTone = folder.file(QStringLiteral("long.wav"));
    // Longer than the twenty thousand periods of 64 frames rendered below (29 s at the engine's 44.1 kHz), so the
    // playing stream is still held when they are counted, however fast the decoder keeps up.
    test::writeWav16(longTone, Rate, 2, test::sineSamples16(1000, Rate, Rate * 40, 0.5));
    EngineConfig config = test::pulledEngineConfig();
    config.streamBufferFrames = 512;
    AudioEngine engine{test::systemAudioServices()};
    ASSERT_TRUE(engine.start(config));
    constexpr int Streams = 300;
    std::vector<quint32> handles;
    for (int i = 0; i < Streams; ++i) {
        handles.push_back(engine.openStream(longTone));
        ASSERT_NE(handles.back(), 0u);
    }
    ASSERT_TRUE(engine.play(handles[Streams / 2]));

    std::atomic<bool> done{false};
    std::atomic<bool> heard{false};
    std::atomic<int> renders{0};
    std::thread renderer([&] {
        constexpr int Frames = 64;
        std::vector<float> out(Frames * 2);
        while (!done.load()) {
            engine.render(out.data(), Frames);
            renders.fetch_add(1, std::memory_order_relaxed);
            if (test::peak(out) > 0.0f) {
                heard = true;
            }
            // Spinning rather than sleeping keeps this thread on its core on a busy machine.
            const auto next = std::chrono::steady_clock::now() + std::chrono::microseconds(100);
            while (std::chrono::steady_clock::now() < next) {
            }
        }
    });
    // Twenty thousand periods of sorting under changing levels, and on until the playing stream has been decoded and
    // heard, however slowly a loaded machine gets there.
    waitFor([&] { return renders.load() >= 20000 && heard.load(); }, 120000);
    done = true;
    renderer.join();

    EXPECT_TRUE(heard.load());
    EXPECT_EQ(engine.heldStreams(), Streams);
    for (quint32 handle : handles) {
        engine.free(handle);
    }
    EXPECT_TRUE(waitReleased(engine, 0));
}

// Two outputs pull one stream on threads of their own, in periods of different sizes, through a ring far smaller
// than the sound: the decoder waits for the slower one, and each hears every frame once, in order, unchanged.
TEST(EngineStressTest, TwoOutputsReadOneDecodeEachAtItsOwnPace) {
    TempFolder folder;
    const QString ramp = folder.file(QStringLiteral("ramp.wav"));
    constexpr int Frames = Rate * 2;
    // Never zero, so a frame left out, repeated or overwritten shows, and silence between them does not count.
    const auto sampleAt = [](int frame) { return static_cast<qint16>(1000 + frame % 15000); };
    std::vector<qint16> samples;
    for (int frame = 0; frame < Frames; ++frame) {
        samples.push_back(sampleAt(frame));
        samples.push_back(sampleAt(frame));
    }
    test::writeWav16(ramp, Rate, 2, samples);
    EngineConfig config = test::pulledEngineConfig();
    config.streamBufferFrames = 512;
    AudioEngine engine{test::systemAudioServices()};
    ASSERT_TRUE(engine.start(config));
    const OutputId second = engine.addOutput(config);
    ASSERT_NE(second, InvalidOutput);
    const quint32 handle = engine.openStream(ramp);
    ASSERT_TRUE(engine.play(handle));

    std::atomic<bool> stop{false};
    struct Heard {
        std::vector<float> left;
        std::atomic<bool> whole{false};
    } heard[2];
    const auto pullOn = [&](OutputId output, int period, Heard& into) {
        std::vector<float> out(static_cast<size_t>(period) * 2);
        while (!stop.load() && into.left.size() < static_cast<size_t>(Frames)) {
            engine.render(output, out.data(), period);
            for (int frame = 0; frame < period; ++frame) {
                if (out[static_cast<size_t>(frame) * 2] != 0.0f) {
                    into.left.push_back(out[static_cast<size_t>(frame) * 2]);
                }
            }
        }
        into.whole = true;
    };
    std::thread main([&] { pullOn(MainOutput, 64, heard[0]); });
    std::thread other([&] { pullOn(second, 97, heard[1]); });
    waitFor([&] { return heard[0].whole.load() && heard[1].whole.load(); }, 120000);
    stop = true;
    main.join();
    other.join();

    for (const Heard& output : heard) {
        ASSERT_EQ(output.left.size(), static_cast<size_t>(Frames));
        for (int frame = 0; frame < Frames; ++frame) {
            ASSERT_EQ(output.left[static_cast<size_t>(frame)], sampleAt(frame) / 32768.0f) << "frame " << frame;
        }
    }
    engine.free(handle);
    EXPECT_TRUE(waitFor(
        [&] {
            pull(engine, 1);
            pullOutput(engine, second, 1);
            return engine.heldStreams() == 0;
        },
        WaitMs));
}

// Sounds prepared ahead: their first period comes from memory, before the decoder has delivered anything, and what
// the decoder adds behind it continues the sound exactly.
class PreparedSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineConfig config = test::pulledEngineConfig();
        config.headSeconds = 0.1;
        ASSERT_TRUE(m_engine.start(config));
    }

    // Renders one period at once (unless told to wait for the decoder), then the rest once the stream is decoded
    // ahead, until the sound is released.
    std::vector<float> playWhole(const QString& path, std::vector<float>& firstPeriod, bool waitForTheDecoder = false) {
        const quint32 handle = m_engine.openStream(path);
        EXPECT_NE(handle, 0u);
        EXPECT_TRUE(m_engine.play(handle));
        if (waitForTheDecoder) {
            EXPECT_TRUE(waitDecoded(m_engine, {handle}));
        }
        firstPeriod = pull(m_engine, 1);
        EXPECT_TRUE(waitDecoded(m_engine, {handle}));
        std::vector<float> out = firstPeriod;
        while (m_engine.heldStreams() > 0 && out.size() < 10u * Rate * 2) {
            const auto more = pull(m_engine, 10);
            out.insert(out.end(), more.begin(), more.end());
        }
        return out;
    }

    static std::vector<float> decodeFile(const QString& path) {
        auto source = audio::FfmpegSource::open(test::systemServices().fileSystem(), path, AudioFormat{Rate, 2});
        return source ? test::decodeAll(*source) : std::vector<float>();
    }

    TempFolder m_folder;
    AudioEngine m_engine{test::systemAudioServices()};
};

TEST_F(PreparedSoundTest, FirstPeriodComesFromMemoryAndTheDecoderContinuesItExactly) {
    // Resampled from 48 kHz, at a frequency whose period is no whole number of frames: a join a frame off shows.
    const QString tone = test::makeTone(
        m_folder.path(), QStringLiteral("tone.mp3"),
        {QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-ar"), QStringLiteral("48000")}, 997.3,
        1.0);
    ASSERT_FALSE(tone.isEmpty());
    const std::vector<float> reference = decodeFile(tone);
    ASSERT_GT(reference.size(), size_t(Rate));
    m_engine.prepareSounds({tone});
    ASSERT_TRUE(m_engine.waitUntilPrepared(WaitMs));

    std::vector<float> first;
    const std::vector<float> out = playWhole(tone, first);
    EXPECT_GT(test::peak(first), 0.1f) << "the first period waited for the decoder";
    ASSERT_GE(out.size(), reference.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        ASSERT_EQ(out[i], reference[i]) << "frame " << i / 2;
    }
    EXPECT_EQ(test::peak(std::vector<float>(out.begin() + static_cast<long>(reference.size()), out.end())), 0.0f);
}

TEST_F(PreparedSoundTest, ShortSoundPlaysFromMemoryAndAChangedFileIsNotPlayedFromItsOldStart) {
    const QString path = m_folder.file(QStringLiteral("short.wav"));
    const auto before = test::sineSamples16(700, Rate, Rate / 40, 0.5); // shorter than the prepared start
    test::writeWav16(path, Rate, 2, before);
    m_engine.prepareSounds({path});
    ASSERT_TRUE(m_engine.waitUntilPrepared(WaitMs));

    std::vector<float> first;
    std::vector<float> out = playWhole(path, first);
    EXPECT_GT(test::peak(first), 0.1f);
    ASSERT_GE(out.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        ASSERT_EQ(out[i], before[i] / 32768.0f) << "sample " << i;
    }

    const auto after = test::sineSamples16(300, Rate, Rate / 10, 0.3);
    test::writeWav16(path, Rate, 2, after);
    out = playWhole(path, first, true);
    ASSERT_GE(out.size(), after.size());
    for (size_t i = 0; i < after.size(); ++i) {
        ASSERT_EQ(out[i], after[i] / 32768.0f) << "sample " << i << " of the changed file";
    }
    EXPECT_EQ(test::peak(std::vector<float>(out.begin() + static_cast<long>(after.size()), out.end())), 0.0f);
}

// Through a real SDL device driver.
class EngineDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { m_oldDriver = qgetenv("SDL_AUDIODRIVER"); }
    void TearDown() override {
        qputenv("SDL_AUDIODRIVER", m_oldDriver);
        qunsetenv("SDL_DISKAUDIOFILE");
    }
    // A 1 kHz tone of Frames frames, written once per test.
    QString tone(int frames) {
        const QString path = m_folder.file(QStringLiteral("tone.wav"));
        test::writeWav16(path, Rate, 2, test::sineSamples16(1000, Rate, frames, 0.5));
        return path;
    }
    QByteArray m_oldDriver;
    TempFolder m_folder;
};

TEST_F(EngineDeviceTest, StartFailsWithoutAnOutput) {
    qputenv("SDL_AUDIODRIVER", "no-such-driver");
    AudioEngine engine{test::systemAudioServices()};
    EXPECT_FALSE(engine.start());
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(engine.openStream(QStringLiteral("/dev/null")), 0u);
}

// An opening in the background: the engine takes no sound until the controlling thread takes the device up, and
// then runs as after start(); an opening that fails leaves it stopped, as a failed start() does.
TEST_F(EngineDeviceTest, OutputOpenedInTheBackgroundIsTakenUpByFinishStart) {
    const struct {
        const char* driver;
        bool opens;
    } cases[] = {{"dummy", true}, {"no-such-driver", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.driver);
        qputenv("SDL_AUDIODRIVER", c.driver);
        const QString tone = this->tone(Rate / 20);
        std::atomic<int> over{0};
        AudioEngine engine{test::systemAudioServices()};
        engine.setMasterGain(MasterGain{1000, 2000});
        ASSERT_TRUE(engine.startInBackground(EngineConfig(), [&] { ++over; }));
        EXPECT_FALSE(engine.startInBackground(EngineConfig(), [] {})) << "a second opening while one is under way";
        EXPECT_FALSE(engine.start()) << "a start while an opening is under way";
        ASSERT_TRUE(engine.waitForOpening(std::chrono::milliseconds(WaitMs)));
        EXPECT_EQ(over, 1);
        // Not taken up yet: nothing runs and nothing is taken.
        EXPECT_EQ(engine.outputState(), OutputState::Opening);
        EXPECT_FALSE(engine.isRunning());
        EXPECT_EQ(engine.openStream(tone), 0u);
        EXPECT_EQ(engine.outputFormat().sampleRate, 0);

        EXPECT_EQ(engine.finishStart(), c.opens);
        EXPECT_EQ(engine.isRunning(), c.opens);
        EXPECT_FALSE(engine.finishStart()) << "taken up twice";
        if (!c.opens) {
            EXPECT_EQ(engine.outputState(), OutputState::Stopped);
            EXPECT_EQ(engine.openStream(tone), 0u);
            continue;
        }
        EXPECT_EQ(engine.outputState(), OutputState::Running);
        EXPECT_EQ(engine.outputDriver(), QStringLiteral("dummy"));
        EXPECT_EQ(engine.masterGain().left, 1000);
        const quint32 handle = engine.openStream(tone);
        ASSERT_TRUE(engine.play(handle));
        EXPECT_TRUE(waitFor([&] { return engine.firstAudio(handle).nanos != 0; }, WaitMs));
        engine.shutdown();
        EXPECT_EQ(engine.outputState(), OutputState::Stopped);
    }
}

// Shut down before the device is taken up: what the opening made is let go of, and the engine starts again.
TEST_F(EngineDeviceTest, ShutdownBeforeTheOpeningIsTakenUpReleasesIt) {
    qputenv("SDL_AUDIODRIVER", "dummy");
    AudioEngine engine{test::systemAudioServices()};
    ASSERT_TRUE(engine.startInBackground(EngineConfig(), [] {}));
    engine.shutdown();
    EXPECT_EQ(engine.outputState(), OutputState::Stopped);
    EXPECT_FALSE(engine.finishStart());
    ASSERT_TRUE(engine.start());
    EXPECT_EQ(engine.outputState(), OutputState::Running);
}

TEST_F(EngineDeviceTest, ADeviceNameTheDriverDoesNotListOpensNothing) {
    qputenv("SDL_AUDIODRIVER", "dummy");
    EngineConfig config;
    config.deviceName = QStringLiteral("No Such Device");
    AudioEngine engine{test::systemAudioServices()};
    EXPECT_FALSE(engine.start(config));
    EXPECT_FALSE(engine.isRunning());
}

TEST_F(EngineDeviceTest, DummyDriverRunsAndSoundsEndOnTheirOwn) {
    qputenv("SDL_AUDIODRIVER", "dummy");
    const QString tone = this->tone(Rate / 10);
    AudioEngine engine{test::systemAudioServices()};
    ASSERT_TRUE(engine.start());
    EXPECT_GT(engine.outputFormat().sampleRate, 0);
    EXPECT_EQ(engine.outputFormat().channels, 2);
    EXPECT_GT(engine.periodFrames(), 0);
    const quint32 handle = engine.openStream(tone);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(engine.play(handle));
    EXPECT_TRUE(waitFor([&] { return engine.heldStreams() == 0; }, WaitMs));
    EXPECT_EQ(engine.firstAudio(handle).nanos, 0); // released: nothing known any more
    EXPECT_GT(engine.periodsRendered(), 0u);
    engine.shutdown();
}

// After the idle time without a sound the device is closed (the sound server can suspend its sink); the next sound
// opens it again and is heard.
TEST_F(EngineDeviceTest, IdleOutputIsClosedAndTheNextSoundOpensItAgain) {
    qputenv("SDL_AUDIODRIVER", "dummy");
    const QString tone = this->tone(Rate / 20);
    EngineConfig config;
    config.idleTimeout = std::chrono::milliseconds(200);
    AudioEngine engine{test::systemAudioServices()};
    ASSERT_TRUE(engine.start(config));
    EXPECT_EQ(engine.outputState(), OutputState::Running);
    EXPECT_EQ(engine.deviceOpenings(), 1);

    for (int round = 2; round <= 3; ++round) {
        ASSERT_TRUE(waitFor([&] { return engine.outputState() == OutputState::Paused; }, WaitMs));
        const quint64 periods = engine.periodsRendered();
        // Stopping and freeing while closed are taken care of without opening the device.
        const quint32 unplayed = engine.openStream(tone);
        engine.free(unplayed);
        EXPECT_TRUE(waitFor([&] { return engine.heldStreams() == 0; }, WaitMs));
        EXPECT_EQ(engine.outputState(), OutputState::Paused);
        EXPECT_EQ(engine.periodsRendered(), periods) << "the device pulled while closed";

        const quint32 handle = engine.openStream(tone);
        ASSERT_TRUE(engine.play(handle));
        EXPECT_TRUE(waitFor([&] { return engine.firstAudio(handle).nanos != 0; }, WaitMs));
        EXPECT_EQ(engine.deviceOpenings(), round);
        EXPECT_TRUE(waitFor([&] { return engine.heldStreams() == 0; }, WaitMs)) << "the sound did not end";
    }
    engine.shutdown();
    EXPECT_EQ(engine.outputState(), OutputState::Stopped);
}

// Records who asks for which thread's priority, and how far the output had got by then.
class RecordingThreadPriority : public platform::IThreadPriority {
public:
    struct Call {
        QByteArray caller; // the name of the asking thread
        QByteArray target; // the name of the thread raised
        quint64 periods = 0;
    };
    static QByteArray currentThreadName() { return nameOf(QStringLiteral("/proc/thread-self/comm")); }

    platform::PriorityResult raiseCurrentThread(const char*, int) override {
        record(currentThreadName(), currentThreadName(), false);
        return {platform::PriorityOutcome::Raised, QStringLiteral("recorded")};
    }
    platform::PriorityResult raiseThread(qint64 threadId, const char*, int) override {
        record(currentThreadName(), nameOf(QStringLiteral("/proc/self/task/%1/comm").arg(threadId)), true);
        return {granted, QStringLiteral("recorded")};
    }
    // The system's own look-up: the thread to raise must be the real one.
    qint64 findThread(const QByteArray& name) override {
        return test::systemServices().threadPriority().findThread(name);
    }

    std::vector<Call> calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    std::atomic<const AudioEngine*> engine{nullptr};
    // What raiseThread() answers.
    platform::PriorityOutcome granted = platform::PriorityOutcome::RealTime;

private:
    static QByteArray nameOf(const QString& commFile) {
        QFile file(commFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    }
    // Periods: how far the output had got, asked of the engine only from its device thread, which runs once the
    // engine does.
    void record(QByteArray caller, QByteArray target, bool periods) {
        const AudioEngine* running = periods ? engine.load() : nullptr;
        const quint64 rendered = running ? running->periodsRendered() : 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back({std::move(caller), std::move(target), rendered});
    }
    std::mutex m_mutex;
    std::vector<Call> m_calls;
};

// The audio thread of every opening is raised from outside before it first calls back (asking may wait on the
// system's bus, which the callback must never do), and the callback itself never asks. A refusal stands for the
// run: the openings after it do not ask again.
TEST_F(EngineDeviceTest, EachOpeningsAudioThreadIsRaisedBeforeItsFirstCallbackAndNeverFromIt) {
    qputenv("SDL_AUDIODRIVER", "dummy");
    if (test::systemServices().threadPriority().findThread(RecordingThreadPriority::currentThreadName()) == 0) {
        GTEST_SKIP() << "threads cannot be looked up by name on this system";
    }
    const struct {
        platform::PriorityOutcome granted;
        const char* diagnostics;
        size_t raised;
    } cases[] = {
        {platform::PriorityOutcome::RealTime, "audio thread real-time", 2},
        {platform::PriorityOutcome::Unchanged, "audio thread at normal priority", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.diagnostics);
        RecordingThreadPriority priority;
        priority.granted = c.granted;
        const QString tone = this->tone(Rate / 20);
        AudioServices services = test::systemAudioServices();
        services.priority = &priority;
        EngineConfig config;
        config.idleTimeout = std::chrono::milliseconds(200);
        AudioEngine engine{services};
        priority.engine = &engine;
        ASSERT_TRUE(engine.start(config));
        ASSERT_TRUE(waitFor([&] { return engine.periodsRendered() > 0; }, WaitMs));
        EXPECT_TRUE(engine.diagnostics().contains(QString::fromLatin1(c.diagnostics)))
            << engine.diagnostics().toStdString();
        // Closed when idle; the next sound opens it again, on a new audio thread.
        ASSERT_TRUE(waitFor([&] { return engine.outputState() == OutputState::Paused; }, WaitMs));
        const quint64 periodsWhileClosed = engine.periodsRendered();
        const quint32 handle = engine.openStream(tone);
        ASSERT_TRUE(engine.play(handle));
        ASSERT_TRUE(waitFor([&] { return engine.firstAudio(handle).nanos != 0; }, WaitMs));
        ASSERT_EQ(engine.deviceOpenings(), 2);
        engine.shutdown();

        std::vector<RecordingThreadPriority::Call> audioThreads;
        for (const RecordingThreadPriority::Call& call : priority.calls()) {
            EXPECT_FALSE(call.caller.startsWith("SDLAudio")) << "asked from the audio thread itself";
            if (call.target.startsWith("SDLAudioP")) {
                audioThreads.push_back(call);
            }
        }
        ASSERT_EQ(audioThreads.size(), c.raised);
        EXPECT_EQ(audioThreads[0].periods, 0u) << "raised after it began to call back";
        if (c.raised > 1) {
            EXPECT_EQ(audioThreads[1].periods, periodsWhileClosed) << "raised after it began to call back";
        }
    }
}

// Opened at start only to prove it works, the device stays closed until the first sound.
TEST_F(EngineDeviceTest, OutputClosedUntilTheFirstSoundOpensForIt) {
    qputenv("SDL_AUDIODRIVER", "dummy");
    const QString tone = this->tone(Rate / 20);
    EngineConfig config;
    config.closedUntilFirstSound = true;
    AudioEngine engine{test::systemAudioServices()};
    ASSERT_TRUE(engine.start(config));
    EXPECT_EQ(engine.outputState(), OutputState::Paused);
    EXPECT_EQ(engine.periodsRendered(), 0u);

    const quint32 handle = engine.openStream(tone);
    ASSERT_TRUE(engine.play(handle));
    EXPECT_TRUE(waitFor([&] { return engine.firstAudio(handle).nanos != 0; }, WaitMs));
    EXPECT_EQ(engine.outputState(), OutputState::Running);
    EXPECT_EQ(engine.deviceOpenings(), 2);
}

// Without an idle time the device stays open, as long as nothing plays.
TEST_F(EngineDeviceTest, ZeroIdleTimeKeepsTheOutputOpen) {
    qputenv("SDL_AUDIODRIVER", "dummy");
    EngineConfig config;
    config.idleTimeout = std::chrono::milliseconds(0);
    AudioEngine engine{test::systemAudioServices()};
    ASSERT_TRUE(engine.start(config));
    const quint64 periods = engine.periodsRendered();
    EXPECT_TRUE(waitFor([&] { return engine.periodsRendered() > periods + 30; }, WaitMs));
    EXPECT_EQ(engine.outputState(), OutputState::Running);
    EXPECT_EQ(engine.deviceOpenings(), 1);
}

// Callbacks that come late while a sound plays mean it was cut: the period grows a step and the device is opened
// again at it; after a quiet while without sound it comes back down. Running dry in silence is not heard.
TEST_F(EngineDeviceTest, AdaptivePeriodGrowsWhenTheDeviceRunsDryAndShrinksWhenQuiet) {
    qputenv("SDL_AUDIODRIVER", "dummy");
    std::atomic<bool> late{false};
    std::atomic<qint64> clock{1};
    EngineConfig config;
    config.idleTimeout = std::chrono::milliseconds(0);
    config.adaptivePeriod = true;
    config.periodPolicy.ladder = {256, 1024};
    config.periodPolicy.quietNs = 100'000'000;
    // The callbacks' timing as the engine sees it, whatever the machine's load: on time (never later than the last
    // one) until `late` is set, then each 100 ms after the one before.
    config.callbackClock = [&] { return clock += late.load() ? 100'000'000 : 0; };
    AudioEngine engine{test::systemAudioServices()};
    ASSERT_TRUE(engine.start(config));
    EXPECT_EQ(engine.periodFrames(), 256);
    EXPECT_TRUE(waitFor([&] { return engine.periodsRendered() > 20; }, WaitMs));
    EXPECT_EQ(engine.underruns(), 0u) << "callbacks on time taken for underruns";

    late = true;
    const quint64 silent = engine.periodsRendered();
    EXPECT_TRUE(waitFor([&] { return engine.periodsRendered() > silent + 20; }, WaitMs));
    EXPECT_EQ(engine.underruns(), 0u) << "late callbacks in silence counted";
    EXPECT_EQ(engine.periodFrames(), 256);

    const quint32 handle = engine.openStream(tone(Rate * 30));
    ASSERT_TRUE(engine.play(handle));
    ASSERT_TRUE(waitFor([&] { return engine.periodFrames() == 1024; }, WaitMs));
    late = false;
    engine.free(handle);
    EXPECT_GE(engine.underruns(), 2u);
    EXPECT_EQ(engine.deviceOpenings(), 2);
    EXPECT_EQ(engine.outputState(), OutputState::Running);
    EXPECT_NE(engine.diagnostics().indexOf(QStringLiteral("1024 frames per period")), -1)
        << engine.diagnostics().toStdString();

    ASSERT_TRUE(waitFor([&] { return engine.periodFrames() == 256; }, WaitMs)) << "never tried the small period again";
    EXPECT_EQ(engine.deviceOpenings(), 3);
    const quint64 periods = engine.periodsRendered();
    EXPECT_TRUE(waitFor([&] { return engine.periodsRendered() > periods + 20; }, WaitMs)) << "not running again";
}

// On a busy machine the device opens at the larger period straight away, and at the small one again once the
// machine is quiet at the next opening.
TEST_F(EngineDeviceTest, AdaptivePeriodOpensLargerWhileTheMachineIsBusy) {
    qputenv("SDL_AUDIODRIVER", "dummy");
    const QString tone = this->tone(Rate / 20);
    std::atomic<bool> busy{true};
    EngineConfig config;
    config.idleTimeout = std::chrono::milliseconds(200);
    config.closedUntilFirstSound = true;
    config.adaptivePeriod = true;
    config.periodPolicy.ladder = {256, 512, 1024};
    config.periodPolicy.busyPeriod = 1024;
    config.machineBusy = [&] { return busy.load(); };
    AudioEngine engine{test::systemAudioServices()};
    ASSERT_TRUE(engine.start(config));

    for (const bool busyNow : {true, false, true}) {
        busy = busyNow;
        ASSERT_TRUE(waitFor([&] { return engine.outputState() == OutputState::Paused; }, WaitMs));
        const quint32 handle = engine.openStream(tone);
        ASSERT_TRUE(engine.play(handle));
        EXPECT_TRUE(waitFor([&] { return engine.firstAudio(handle).nanos != 0; }, WaitMs));
        EXPECT_EQ(engine.periodFrames(), busyNow ? 1024 : 256);
        EXPECT_TRUE(waitFor([&] { return engine.heldStreams() == 0; }, WaitMs));
    }
}

TEST_F(EngineDeviceTest, DiskDriverReceivesTheSamplesExactly) {
    TempFolder folder;
    const QString disk = folder.file(QStringLiteral("out.raw"));
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(disk));
    const QString tone = folder.file(QStringLiteral("tone.wav"));
    const auto samples = test::sineSamples16(441, Rate, Rate / 5, 0.6);
    test::writeWav16(tone, Rate, 2, samples);

    AudioEngine engine{test::systemAudioServices()};
    ASSERT_TRUE(engine.start());
    ASSERT_EQ(engine.outputFormat().sampleRate, Rate);
    const quint32 handle = engine.openStream(tone);
    ASSERT_NE(handle, 0u);
    engine.play(handle);
    EXPECT_TRUE(waitFor([&] { return engine.heldStreams() == 0; }, WaitMs));
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
