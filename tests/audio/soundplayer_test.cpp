// The main window's playback calls: the overlap rule, the fallback player, start and shut-down, and the default
// sounds beside the program.
#include "audio/soundplayer.h"

#include "audio/limiter.h"

#include "platform/fake/fakefallbackplayer.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/support/audio/audiotestsupport.h"
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
    platform::ScopedService<platform::IFileSystem> m_filesInPlace{m_files};
    platform::ScopedService<platform::IFallbackPlayer> m_fallbackInPlace{m_fallback};
    SoundPlayer m_player{test::pulledEngineConfig()};
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
    SoundPlayer player(config);
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
    SoundPlayer playback;
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

// Pulls `periods` periods of an engine whose streams are decoded ahead.
std::vector<float> pullDecoded(AudioEngine& engine, quint32 newest, int periods) {
    EXPECT_TRUE(newest == 0 || waitFor([&] { return engine.isDecodedAhead(newest); }, 20000));
    std::vector<float> out(static_cast<size_t>(periods) * Period * 2);
    for (int i = 0; i < periods; ++i) {
        engine.render(out.data() + static_cast<size_t>(i) * Period * 2, Period);
    }
    return out;
}

TEST_F(SoundPlayerTest, TheVoiceOutputGetsEverySoundAtTheSameVolumeAndFollowsTheOverlapRule) {
    ASSERT_TRUE(m_player.start());
    m_player.setMasterGain({30000, 50000});
    // Pulled like the normal output: the test's engine configuration carries no device.
    ASSERT_TRUE(m_player.startVoiceOutput(QString()));
    ASSERT_TRUE(m_player.isVoiceOutputRunning());
    AudioEngine& voice = m_player.voiceEngine();
    for (int i = 0; i < 2; ++i) {
        m_player.playSoundFile(m_long, true);
        ASSERT_NE(m_player.newestVoiceStream(), 0u);
        pull(0);
        pullDecoded(voice, m_player.newestVoiceStream(), 0);
    }
    const auto normal = pull(4);
    const auto voiced = pullDecoded(voice, m_player.newestVoiceStream(), 4);
    EXPECT_EQ(voice.heldStreams(), 2);
    EXPECT_GT(test::peak(normal), 0.3f);
    EXPECT_EQ(voiced, normal);
    m_player.setMasterGain({65535, 0});
    EXPECT_EQ(voice.masterGain().left, 65535);
    EXPECT_EQ(voice.masterGain().right, 0);

    // Without overlapping, the voice output's previous sound stops along with the normal one.
    m_player.playSoundFile(m_long, false);
    EXPECT_TRUE(waitFor(
        [&] {
            pullDecoded(voice, 0, 1);
            return voice.heldStreams() == 2;
        },
        20000));

    m_player.stopVoiceOutput();
    EXPECT_FALSE(m_player.isVoiceOutputRunning());
    EXPECT_TRUE(m_player.isRunning());
    m_player.playSoundFile(m_long, true);
    EXPECT_GT(test::peak(pull(2)), 0.4f);
    EXPECT_EQ(voice.heldStreams(), 0);
}

TEST_F(SoundPlayerTest, StopAllSilencesBothOutputsAndTheFallbackPlayer) {
    ASSERT_TRUE(m_player.start());
    ASSERT_TRUE(m_player.startVoiceOutput(QString()));
    for (int i = 0; i < 10; ++i) {
        m_player.playSoundFile(m_long, true);
    }
    ASSERT_GT(test::peak(pull(1)), 0.4f);
    ASSERT_GT(test::peak(pullDecoded(m_player.voiceEngine(), m_player.newestVoiceStream(), 1)), 0.4f);

    m_player.stopAll();
    EXPECT_EQ(m_player.newestStream(), 0u);
    EXPECT_EQ(test::peak(pull(1)), 0.0f);
    EXPECT_EQ(test::peak(pullDecoded(m_player.voiceEngine(), 0, 1)), 0.0f);
    EXPECT_EQ(m_fallback.stops, 1);

    m_player.playSoundFile(m_long, false);
    EXPECT_GT(test::peak(pull(2)), 0.4f);
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
