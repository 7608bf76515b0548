// The main window's playback calls: the overlap rule, the fallback player, start and shut-down, and where sound
// files are looked for.
#include "audio/playback.h"
#include "audio/soundpath.h"

#include "platform/fake/fakefallbackplayer.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/audio/audiotestsupport.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSet>

#include <chrono>
#include <thread>

using namespace clavora;
using namespace clavora::audio;
using clavora::test::TempFolder;

namespace {

constexpr int Rate = 44100;
constexpr int Period = 441;

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        FFiles.programFile = FProgram.file(QStringLiteral("clavora"));
        FOldCurrent = QDir::currentPath();
        QDir::setCurrent(FCurrent.path());
        FLong = FCurrent.file(QStringLiteral("long.wav"));
        test::WriteWav16(FLong, Rate, 2, test::SineSamples16(500, Rate, 2 * Rate, 0.5));
    }
    void TearDown() override { QDir::setCurrent(FOldCurrent); }

    // Pulls until the newest stream is decoded ahead, then a few periods more.
    std::vector<float> Pull(int periods) {
        for (int i = 0; i < 20000 && FPlayback.Channel != 0 && !FPlayback.engine().isDecodedAhead(FPlayback.Channel);
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::vector<float> out(static_cast<size_t>(periods) * Period * 2);
        for (int i = 0; i < periods; ++i) {
            FPlayback.engine().render(out.data() + static_cast<size_t>(i) * Period * 2, Period);
        }
        return out;
    }

    TempFolder FProgram;
    TempFolder FCurrent;
    QString FOldCurrent;
    QString FLong;
    platform::FakeFileSystem FFiles;
    platform::FakeFallbackPlayer FFallback;
    platform::ScopedService<platform::IFileSystem> FFilesInPlace{FFiles};
    platform::ScopedService<platform::IFallbackPlayer> FFallbackInPlace{FFallback};
    TSoundPlayback FPlayback{test::PulledEngineConfig()};
};

TEST_F(PlaybackTest, OverlapOffStopsThePreviousSoundEvenWhenTheNewFileIsMissing) {
    ASSERT_TRUE(FPlayback.InitAudio());
    FPlayback.PlaySoundFile(FLong, false);
    const quint32 first = FPlayback.Channel;
    ASSERT_NE(first, 0u);
    EXPECT_GT(test::Peak(Pull(3)), 0.4f);

    FPlayback.PlaySoundFile(FCurrent.file(QStringLiteral("missing.wav")), false);
    EXPECT_EQ(FPlayback.Channel, 0u);
    EXPECT_EQ(test::Peak(Pull(3)), 0.0f);
    EXPECT_FALSE(FPlayback.engine().play(first)) << "the previous stream was freed";
    EXPECT_TRUE(FFallback.played.isEmpty());
}

TEST_F(PlaybackTest, OverlapOffKeepsOnlyTheNewestSound) {
    ASSERT_TRUE(FPlayback.InitAudio());
    FPlayback.PlaySoundFile(FLong, false);
    const quint32 first = FPlayback.Channel;
    Pull(2);
    FPlayback.PlaySoundFile(FLong, false);
    const quint32 second = FPlayback.Channel;
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    EXPECT_FALSE(FPlayback.engine().play(first));
    const auto out = Pull(3);
    EXPECT_GT(test::Peak(out), 0.4f);
    EXPECT_LE(test::Peak(out), 0.5f) << "two sounds were heard at once";
}

TEST_F(PlaybackTest, OverlapOnLetsEverySoundPlayOn) {
    ASSERT_TRUE(FPlayback.InitAudio());
    QSet<quint32> handles;
    for (int i = 0; i < 3; ++i) {
        FPlayback.PlaySoundFile(FLong, true);
        handles.insert(FPlayback.Channel);
        Pull(0);
    }
    EXPECT_EQ(handles.size(), 3);
    EXPECT_EQ(FPlayback.engine().heldStreams(), 3);
    // Started at the same sample, the three sum to three times one.
    EXPECT_NEAR(test::Peak(Pull(3)), 1.0f, 0.001f);
}

TEST_F(PlaybackTest, FolderPlaysNothing) {
    ASSERT_TRUE(FPlayback.InitAudio());
    QDir().mkpath(FCurrent.file(QStringLiteral("Sounds")));
    FPlayback.PlaySoundFile(QStringLiteral("Sounds"), true);
    FPlayback.PlaySoundFile(FCurrent.path(), true);
    EXPECT_EQ(FPlayback.Channel, 0u);
    EXPECT_TRUE(FFallback.played.isEmpty());
}

TEST_F(PlaybackTest, FileTheEngineCannotDecodeGoesToTheFallbackPlayer) {
    ASSERT_TRUE(FPlayback.InitAudio());
    const QString odd = FCurrent.file(QStringLiteral("odd.wav"));
    test::writeBytes(odd, "RIFF, but nothing FFmpeg can read");
    FPlayback.PlaySoundFile(QStringLiteral("odd.wav"), true);
    EXPECT_EQ(FPlayback.Channel, 0u);
    EXPECT_EQ(FFallback.played, QStringList{odd});
}

TEST_F(PlaybackTest, WithoutOutputEverySoundGoesToTheFallbackPlayer) {
    FPlayback.PlaySoundFile(FLong, false);
    EXPECT_EQ(FPlayback.Channel, 0u);
    ASSERT_TRUE(FPlayback.InitAudio());
    FPlayback.FreeAudio();
    FPlayback.PlaySoundFile(FLong, true);
    EXPECT_EQ(FPlayback.Channel, 0u);
    EXPECT_EQ(FFallback.played, (QStringList{FLong, FLong}));
}

TEST_F(PlaybackTest, InitAudioFailsWhenNoDeviceOpens) {
    const QByteArray old = qgetenv("SDL_AUDIODRIVER");
    qputenv("SDL_AUDIODRIVER", "no-such-driver");
    TSoundPlayback playback;
    EXPECT_FALSE(playback.InitAudio());
    EXPECT_FALSE(playback.isAudioRunning());
    playback.PlaySoundFile(FLong, false);
    EXPECT_EQ(FFallback.played, QStringList{FLong});
    playback.FreeAudio();
    qputenv("SDL_AUDIODRIVER", old);
}

TEST_F(PlaybackTest, FreeAudioSilencesEverything) {
    ASSERT_TRUE(FPlayback.InitAudio());
    FPlayback.setMasterGain({100, 200});
    FPlayback.PlaySoundFile(FLong, true);
    FPlayback.PlaySoundFile(FLong, true);
    Pull(1);
    FPlayback.FreeAudio();
    EXPECT_EQ(FPlayback.Channel, 0u);
    EXPECT_FALSE(FPlayback.isAudioRunning());
    EXPECT_EQ(FPlayback.engine().heldStreams(), 0);
    EXPECT_EQ(FPlayback.masterGain().Left, 100);
    EXPECT_EQ(FPlayback.masterGain().Right, 200);
}

TEST_F(PlaybackTest, DefaultBindingsPlayFromTheProgramFolderWhateverTheCurrentFolder) {
    ASSERT_TRUE(FPlayback.InitAudio());
    QDir().mkpath(FProgram.file(QStringLiteral("Sounds")));
    test::WriteWav16(FProgram.file(QStringLiteral("Sounds/11.wav")), Rate, 2,
                     test::SineSamples16(500, Rate, Rate, 0.5));
    FPlayback.PlaySoundFile(QStringLiteral("Sounds\\11.wav"), false);
    EXPECT_NE(FPlayback.Channel, 0u);
    EXPECT_GT(test::Peak(Pull(2)), 0.4f);
}

TEST(SoundPathTest, StoredPathsAreFoundAsAUserExpects) {
    const QSet<QString> files{QStringLiteral("/cur/Sounds/a.mp3"), QStringLiteral("/prog/Sounds/a.mp3"),
                              QStringLiteral("/prog/Sounds/b.mp3"), QStringLiteral("/abs/c.wav"),
                              QStringLiteral("/prog/d.wav")};
    auto isFile = [&files](const QString& path) { return files.contains(QDir::cleanPath(path)); };
    struct TCase {
        const char* Stored;
        const char* Expected;
    };
    const TCase cases[] = {
        {"Sounds\\a.mp3", "/cur/Sounds/a.mp3"},  // the current folder wins
        {"Sounds/a.mp3", "/cur/Sounds/a.mp3"},   //
        {"Sounds\\b.mp3", "/prog/Sounds/b.mp3"}, // then the program folder
        {"d.wav", "/prog/d.wav"},                //
        {"/abs/c.wav", "/abs/c.wav"},            // absolute paths are used as they are
        {"\\abs\\c.wav", "/abs/c.wav"},          //
        {"/abs/d.wav", ""},                      // never rebased
        {"Sounds\\zz.mp3", ""},                  //
        {"", ""},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(QDir::cleanPath(ResolveSoundPath(QString::fromUtf8(c.Stored), QStringLiteral("/cur"),
                                                   QStringLiteral("/prog"), isFile)),
                  QDir::cleanPath(QString::fromUtf8(c.Expected)))
            << c.Stored;
    }
}

} // namespace
