// The main window's playback calls: the overlap rule, the fallback player, start and shut-down, and the default
// sounds beside the program.
#include "audio/soundplayer.h"

#include "audio/limiter.h"

#include "platform/fake/fakefallbackplayer.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/systemservices.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSet>

using namespace clavora;
using namespace clavora::audio;
using clavora::test::TempFolder;
using clavora::test::waitFor;

namespace {

constexpr int Rate = 44100;
constexpr int Period = 441;

class SoundPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_files.programFile = m_program.file(QStringLiteral("clavora"));
        m_oldCurrent = QDir::currentPath();
        QDir::setCurrent(m_current.path());
        m_long = m_current.file(QStringLiteral("long.wav"));
        test::writeWav16(m_long, Rate, 2, test::sineSamples16(500, Rate, 2 * Rate, 0.5));
    }
    void TearDown() override { QDir::setCurrent(m_oldCurrent); }

    // Pulls `periods` periods once the newest stream is decoded ahead.
    std::vector<float> pull(int periods) {
        AudioEngine& engine = m_player.engine();
        const quint32 newest = m_player.newestStream();
        EXPECT_TRUE(newest == 0 || waitFor([&] { return engine.isDecodedAhead(newest); }, 20000));
        std::vector<float> out(static_cast<size_t>(periods) * Period * 2);
        for (int i = 0; i < periods; ++i) {
            engine.render(out.data() + static_cast<size_t>(i) * Period * 2, Period);
        }
        return out;
    }

    TempFolder m_program;
    TempFolder m_current;
    QString m_oldCurrent;
    QString m_long;
    platform::FakeFileSystem m_files;
    platform::FakeFallbackPlayer m_fallback;
    // The player plays the fakes' files and hands what it cannot take to the fake simple player.
    AudioServices audioServices() {
        return {&m_files, &test::systemServices().threadPriority(), &m_fallback, &test::systemServices().systemInfo()};
    }
    SoundPlayer m_player{audioServices(), test::pulledEngineConfig()};
};

TEST_F(SoundPlayerTest, OverlapOffStopsThePreviousSoundEvenWhenTheNewFileIsMissing) {
    ASSERT_TRUE(m_player.start());
    m_player.playSoundFile(m_long, false);
    const quint32 first = m_player.newestStream();
    ASSERT_NE(first, 0u);
    EXPECT_GT(test::peak(pull(3)), 0.4f);

    m_player.playSoundFile(m_current.file(QStringLiteral("missing.wav")), false);
    EXPECT_EQ(m_player.newestStream(), 0u);
    EXPECT_EQ(test::peak(pull(3)), 0.0f);
    EXPECT_FALSE(m_player.engine().play(first)) << "the previous stream was freed";
    EXPECT_TRUE(m_fallback.played.isEmpty());
}

TEST_F(SoundPlayerTest, OverlapOffKeepsOnlyTheNewestSound) {
    ASSERT_TRUE(m_player.start());
    m_player.playSoundFile(m_long, false);
    const quint32 first = m_player.newestStream();
    pull(2);
    m_player.playSoundFile(m_long, false);
    const quint32 second = m_player.newestStream();
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    EXPECT_FALSE(m_player.engine().play(first));
    const auto out = pull(3);
    EXPECT_GT(test::peak(out), 0.4f);
    EXPECT_LE(test::peak(out), 0.5f) << "two sounds were heard at once";
}

TEST_F(SoundPlayerTest, OverlapOnLetsEverySoundPlayOn) {
    ASSERT_TRUE(m_player.start());
    QSet<quint32> handles;
    for (int i = 0; i < 3; ++i) {
        m_player.playSoundFile(m_long, true);
        handles.insert(m_player.newestStream());
        pull(0);
    }
    EXPECT_EQ(handles.size(), 3);
    EXPECT_EQ(m_player.engine().heldStreams(), 3);
    // Started at the same sample, the three sum to three times one (1.5), which the limiter brings below full
    // scale.
    EXPECT_NEAR(test::peak(pull(3)), audio::limitedLevel(1.5f), 0.002f);
}

// A key held with overlapping on: far more presses than the engine keeps sounds. The oldest give way; none is
// refused and handed to the fallback player, whose sounds nobody could stop.
TEST_F(SoundPlayerTest, PressesBeyondTheCapNeverGoToTheFallbackPlayer) {
    EngineConfig config = test::pulledEngineConfig();
    config.maxStreams = 3;
    SoundPlayer player(audioServices(), config);
    ASSERT_TRUE(player.start());
    std::vector<quint32> handles;
    std::vector<float> period(Period * 2);
    for (int i = 0; i < 10; ++i) {
        player.playSoundFile(m_long, true);
        handles.push_back(player.newestStream());
        player.engine().render(period.data(), Period); // as the device would, between two presses
    }
    EXPECT_TRUE(waitFor(
        [&] {
            player.engine().render(period.data(), Period);
            return player.engine().heldStreams() == 3;
        },
        20000));
    for (size_t i = 0; i < handles.size(); ++i) {
        EXPECT_EQ(player.engine().play(handles[i]), i >= 7) << "sound " << i;
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_fallback.played.isEmpty());
}

TEST_F(SoundPlayerTest, FolderPlaysNothing) {
    ASSERT_TRUE(m_player.start());
    QDir().mkpath(m_current.file(QStringLiteral("Sounds")));
    m_player.playSoundFile(QStringLiteral("Sounds"), true);
    m_player.playSoundFile(m_current.path(), true);
    EXPECT_EQ(m_player.newestStream(), 0u);
    EXPECT_TRUE(m_fallback.played.isEmpty());
}

// The system's player reads what it is given on the GUI thread and plays it at any rate for as long as it claims:
// it gets no file the engine refused, whether the engine found out on its own thread or the output is not running.
TEST_F(SoundPlayerTest, FilesTheEngineRefusesNeverReachTheFallbackPlayer) {
    QStringList refused;
    const auto add = [&](const char* name, const QByteArray& bytes) {
        refused << m_current.file(QString::fromLatin1(name));
        test::writeBytes(refused.back(), bytes);
    };
    add("odd.wav", "RIFF, but nothing FFmpeg can read");
    add("playlist.wav", "ffconcat version 1.0\nfile 'long.wav'\n");
    add("hls.mp3", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nlong.wav\n#EXT-X-ENDLIST\n");
    // A rate of one hertz: half an hour of sound from four samples.
    refused << m_current.file(QStringLiteral("slow.wav"));
    test::writeWav16(refused.back(), 1, 2, test::sineSamples16(0.25, 1, 4, 0.5));

    for (const QString& path : std::as_const(refused)) {
        m_player.playSoundFile(path, true);
        EXPECT_EQ(m_player.newestStream(), 0u) << "not running yet: " << qPrintable(path);
    }
    EXPECT_TRUE(m_fallback.played.isEmpty()) << qPrintable(m_fallback.played.join(QLatin1Char(' ')));

    test::AudioLog log;
    ASSERT_TRUE(m_player.start());
    for (const QString& path : std::as_const(refused)) {
        m_player.playSoundFile(QDir(m_current.path()).relativeFilePath(path), true);
        EXPECT_NE(m_player.newestStream(), 0u) << "probed off this thread: " << qPrintable(path);
    }
    EXPECT_TRUE(waitFor(
        [&] {
            QCoreApplication::processEvents();
            return log.refusedSounds().size() == refused.size();
        },
        20000));
    EXPECT_EQ(log.refusedSounds(), refused);
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_fallback.played.isEmpty()) << qPrintable(m_fallback.played.join(QLatin1Char(' ')));
    // A sound still goes there when the output is not running.
    m_player.stop();
    m_player.playSoundFile(m_long, true);
    EXPECT_EQ(m_fallback.played, QStringList{m_long});
}

TEST_F(SoundPlayerTest, WithoutOutputEverySoundGoesToTheFallbackPlayer) {
    m_player.playSoundFile(m_long, false);
    EXPECT_EQ(m_player.newestStream(), 0u);
    ASSERT_TRUE(m_player.start());
    m_player.stop();
    m_player.playSoundFile(m_long, true);
    EXPECT_EQ(m_player.newestStream(), 0u);
    EXPECT_EQ(m_fallback.played, (QStringList{m_long, m_long}));
}

TEST_F(SoundPlayerTest, StartFailsWhenNoDeviceOpens) {
    const QByteArray old = qgetenv("SDL_AUDIODRIVER");
    qputenv("SDL_AUDIODRIVER", "no-such-driver");
    SoundPlayer playback{audioServices()};
    EXPECT_FALSE(playback.start());
    EXPECT_FALSE(playback.isRunning());
    playback.playSoundFile(m_long, false);
    EXPECT_EQ(m_fallback.played, QStringList{m_long});
    playback.stop();
    qputenv("SDL_AUDIODRIVER", old);
}

TEST_F(SoundPlayerTest, StopSilencesEverything) {
    ASSERT_TRUE(m_player.start());
    m_player.setMasterGain({100, 200});
    m_player.playSoundFile(m_long, true);
    m_player.playSoundFile(m_long, true);
    pull(1);
    m_player.stop();
    EXPECT_EQ(m_player.newestStream(), 0u);
    EXPECT_FALSE(m_player.isRunning());
    EXPECT_EQ(m_player.engine().heldStreams(), 0);
    EXPECT_EQ(m_player.masterGain().left, 100);
    EXPECT_EQ(m_player.masterGain().right, 200);
}

// Pulls `periods` periods of `frames` frames from one output of an engine whose streams are decoded ahead.
std::vector<float> pullDecoded(AudioEngine& engine, quint32 newest, int periods, OutputId output = MainOutput,
                               int frames = Period) {
    EXPECT_TRUE(newest == 0 || waitFor([&] { return engine.isDecodedAhead(newest); }, 20000));
    std::vector<float> out(static_cast<size_t>(periods) * static_cast<size_t>(frames) * 2);
    for (int i = 0; i < periods; ++i) {
        engine.render(output, out.data() + static_cast<size_t>(i) * static_cast<size_t>(frames) * 2, frames);
    }
    return out;
}

TEST_F(SoundPlayerTest, TheVoiceOutputGetsEverySoundAtTheSameVolumeAndFollowsTheOverlapRule) {
    ASSERT_TRUE(m_player.start());
    m_player.setMasterGain({30000, 50000});
    // Pulled like the normal output: the test's engine configuration carries no device.
    ASSERT_TRUE(m_player.startVoiceOutput(QString()));
    ASSERT_TRUE(m_player.isVoiceOutputRunning());
    AudioEngine& engine = m_player.engine();
    const OutputId voice = m_player.voiceOutput();
    ASSERT_NE(voice, InvalidOutput);
    ASSERT_NE(voice, MainOutput);
    for (int i = 0; i < 2; ++i) {
        m_player.playSoundFile(m_long, true);
        ASSERT_NE(m_player.newestStream(), 0u);
        pull(0);
    }
    const auto normal = pull(4);
    const auto voiced = pullDecoded(engine, m_player.newestStream(), 4, voice);
    // One stream per sound, under one handle, heard on both outputs.
    EXPECT_EQ(engine.heldStreams(), 2);
    EXPECT_NE(engine.firstAudio(m_player.newestStream(), voice).nanos, 0);
    EXPECT_GT(test::peak(normal), 0.3f);
    EXPECT_EQ(voiced, normal);
    m_player.setMasterGain({65535, 0});
    EXPECT_EQ(m_player.voiceGain().left, 65535);
    EXPECT_EQ(m_player.voiceGain().right, 0);
    EXPECT_EQ(engine.outputGain(voice).right, 0);

    // Without overlapping, the voice output's previous sound stops along with the normal one.
    m_player.playSoundFile(m_long, false);
    EXPECT_TRUE(waitFor(
        [&] {
            pullDecoded(engine, 0, 1);
            pullDecoded(engine, 0, 1, voice);
            return engine.heldStreams() == 2;
        },
        20000));

    m_player.stopVoiceOutput();
    EXPECT_FALSE(m_player.isVoiceOutputRunning());
    EXPECT_TRUE(m_player.isRunning());
    m_player.playSoundFile(m_long, true);
    EXPECT_GT(test::peak(pull(2)), 0.4f);
    EXPECT_EQ(test::peak(pullDecoded(engine, 0, 2, voice)), 0.0f) << "the voice output plays on after it was closed";
}

// Each output reads a sound at its own pace, in periods of its own: the decoded samples are the same on both
// wherever the periods fall, and the voice output plays a prepared sound from its decoded start in its very first
// period, as the speakers do.
TEST_F(SoundPlayerTest, TheVoiceOutputPlaysTheSameDecodedSamplesInPeriodsOfItsOwn) {
    QDir().mkpath(m_program.file(QStringLiteral("Sounds")));
    test::writeWav16(m_program.file(QStringLiteral("Sounds/13.wav")), Rate, 2,
                     test::sineSamples16(700, Rate, Rate, 0.5));
    m_player.setBoundSounds({QStringLiteral("Sounds\\13.wav")});
    ASSERT_TRUE(m_player.start());
    ASSERT_TRUE(m_player.engine().waitUntilPrepared(20000));
    ASSERT_TRUE(m_player.startVoiceOutput(QString()));
    AudioEngine& engine = m_player.engine();
    const OutputId voice = m_player.voiceOutput();

    m_player.playSoundFile(QStringLiteral("Sounds\\13.wav"), false);
    const quint32 handle = m_player.newestStream();
    ASSERT_NE(handle, 0u);
    // Before anything is decoded behind the start: both first periods come from memory.
    std::vector<float> firstVoice(256 * 2);
    engine.render(voice, firstVoice.data(), 256);
    EXPECT_GT(test::peak(firstVoice), 0.4f) << "the voice output waited for the decoder";
    std::vector<float> firstNormal(Period * 2);
    engine.render(firstNormal.data(), Period);
    EXPECT_GT(test::peak(firstNormal), 0.4f);

    // The rest of the second, in periods of 441 frames on one output and 256 on the other.
    std::vector<float> normal = firstNormal;
    std::vector<float> voiced = firstVoice;
    while (static_cast<int>(normal.size()) < 2 * Rate) {
        const std::vector<float> next = pullDecoded(engine, handle, 1);
        normal.insert(normal.end(), next.begin(), next.end());
    }
    while (static_cast<int>(voiced.size()) < 2 * Rate) {
        const std::vector<float> next = pullDecoded(engine, handle, 1, voice, 256);
        voiced.insert(voiced.end(), next.begin(), next.end());
    }
    normal.resize(2 * Rate);
    voiced.resize(2 * Rate);
    EXPECT_EQ(voiced, normal);
}

TEST_F(SoundPlayerTest, StopAllSilencesBothOutputsAndTheFallbackPlayer) {
    ASSERT_TRUE(m_player.start());
    ASSERT_TRUE(m_player.startVoiceOutput(QString()));
    for (int i = 0; i < 10; ++i) {
        m_player.playSoundFile(m_long, true);
    }
    ASSERT_GT(test::peak(pull(1)), 0.4f);
    const OutputId voice = m_player.voiceOutput();
    ASSERT_GT(test::peak(pullDecoded(m_player.engine(), m_player.newestStream(), 1, voice)), 0.4f);

    m_player.stopAll();
    EXPECT_EQ(m_player.newestStream(), 0u);
    EXPECT_EQ(test::peak(pull(1)), 0.0f);
    EXPECT_EQ(test::peak(pullDecoded(m_player.engine(), 0, 1, voice)), 0.0f);
    EXPECT_EQ(m_fallback.stops, 1);

    m_player.playSoundFile(m_long, false);
    EXPECT_GT(test::peak(pull(2)), 0.4f);
}

// The gain a sound is asked for with scales its samples in the mix, on the voice output as on the speakers; sounds
// asked for at other gains mix side by side, each at its own.
TEST_F(SoundPlayerTest, ARequestsGainReachesTheMixedSamplesOnEveryOutput) {
    ASSERT_TRUE(m_player.start());
    ASSERT_TRUE(m_player.startVoiceOutput(QString()));
    const OutputId voice = m_player.voiceOutput();
    AudioEngine& engine = m_player.engine();
    const struct { float gain; } cases[] = {{1.0f}, {0.25f}, {0.0f}};
    std::vector<std::vector<float>> normal;
    std::vector<std::vector<float>> voiced;
    for (const auto& c : cases) {
        m_player.play(PlayRequest{m_long, c.gain}, false);
        const quint32 handle = m_player.newestStream();
        ASSERT_NE(handle, 0u);
        normal.push_back(pullDecoded(engine, handle, 4));
        voiced.push_back(pullDecoded(engine, handle, 4, voice));
    }
    ASSERT_GT(test::peak(normal[0]), 0.4f);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].gain);
        ASSERT_EQ(normal[i].size(), normal[0].size());
        for (size_t s = 0; s < normal[0].size(); ++s) {
            ASSERT_NEAR(normal[i][s], normal[0][s] * cases[i].gain, 1e-6f) << "sample " << s;
        }
        EXPECT_EQ(voiced[i], normal[i]);
    }

    // Two at once: the mix is the sum of each at its own gain.
    m_player.play(PlayRequest{m_long, 0.5f}, true);
    const quint32 half = m_player.newestStream();
    m_player.play(PlayRequest{m_long, 0.25f}, true);
    ASSERT_TRUE(waitFor([&] { return engine.isDecodedAhead(half); }, 20000));
    const std::vector<float> both = pullDecoded(engine, m_player.newestStream(), 4);
    for (size_t s = 0; s < both.size(); ++s) {
        ASSERT_NEAR(both[s], normal[0][s] * 0.75f, 1e-5f) << "sample " << s;
    }
}

TEST_F(SoundPlayerTest, DefaultBindingsPlayFromTheProgramFolderWhateverTheCurrentFolder) {
    ASSERT_TRUE(m_player.start());
    QDir().mkpath(m_program.file(QStringLiteral("Sounds")));
    test::writeWav16(m_program.file(QStringLiteral("Sounds/11.wav")), Rate, 2,
                     test::sineSamples16(500, Rate, Rate, 0.5));
    m_player.playSoundFile(QStringLiteral("Sounds\\11.wav"), false);
    EXPECT_NE(m_player.newestStream(), 0u);
    EXPECT_GT(test::peak(pull(2)), 0.4f);
}

// The bound sounds, named as keys.db stores them, are prepared once the output runs: a key press is heard in the very
// period after it, without waiting for the file to be opened and decoded.
TEST_F(SoundPlayerTest, BoundSoundsArePreparedSoTheirFirstPeriodIsHeardAtOnce) {
    QDir().mkpath(m_program.file(QStringLiteral("Sounds")));
    test::writeWav16(m_program.file(QStringLiteral("Sounds/12.wav")), Rate, 2,
                     test::sineSamples16(500, Rate, Rate, 0.5));
    m_player.setBoundSounds({QStringLiteral("Sounds\\12.wav"), QStringLiteral("Sounds\\missing.wav")});
    ASSERT_TRUE(m_player.start());
    ASSERT_TRUE(m_player.engine().waitUntilPrepared(20000));

    m_player.playSoundFile(QStringLiteral("Sounds\\12.wav"), false);
    ASSERT_NE(m_player.newestStream(), 0u);
    std::vector<float> first(Period * 2);
    m_player.engine().render(first.data(), Period);
    EXPECT_GT(test::peak(first), 0.4f);
}

} // namespace
