// Heads of sound files decoded ahead: what is kept, what goes when the budget is reached, a file changed after it
// was decoded.
#include "audio/ffmpegsource.h"
#include "audio/soundheads.h"
#include "platform/filesystem.h"
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/systemservices.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace clavora::audio {
namespace {

constexpr AudioFormat Output{44100, 2};
constexpr int HeadFrames = 4410; // 100 ms

class SoundHeadsTest : public ::testing::Test {
protected:
    QString wav(const QString& name, int frames, double frequency = 440) {
        const QString path = m_folder.file(name);
        test::writeWav16(path, 44100, 2, test::sineSamples16(frequency, 44100, frames, 0.5));
        return path;
    }
    static qint64 headBytes(int frames) { return qint64(frames) * Output.channels * qint64(sizeof(float)); }

    test::TempFolder m_folder;
};

TEST_F(SoundHeadsTest, AHeadIsTheStartOfTheFullDecodeAndAShortSoundIsKeptWhole) {
    const QString longSound = wav("long.wav", 44100);
    const QString shortSound = wav("short.wav", 1000, 1000);
    const QString notSound = m_folder.file("text.wav");
    test::writeBytes(notSound, "not a sound");
    SoundHeadCache cache(test::systemServices().fileSystem(), Output, HeadFrames, 1 << 20);
    cache.prepare({longSound, shortSound, notSound, m_folder.file("missing.wav")});
    ASSERT_TRUE(cache.waitUntilIdle(10000));

    const auto head = cache.find(longSound);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->frames, HeadFrames);
    EXPECT_FALSE(head->complete);
    const auto source = FfmpegSource::open(test::systemServices().fileSystem(), longSound, Output);
    ASSERT_TRUE(source);
    std::vector<float> full = test::decodeAll(*source);
    full.resize(head->samples.size());
    EXPECT_EQ(head->samples, full);

    const auto whole = cache.find(shortSound);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->frames, 1000);
    EXPECT_TRUE(whole->complete);
    EXPECT_FALSE(cache.find(notSound));
    EXPECT_FALSE(cache.find(m_folder.file("missing.wav")));
    EXPECT_EQ(cache.keptBytes(), headBytes(HeadFrames) + headBytes(1000));
}

TEST_F(SoundHeadsTest, TheLeastRecentlyUsedGoFirstWhenTheBudgetIsReached) {
    const QString a = wav("a.wav", 44100);
    const QString b = wav("b.wav", 44100);
    const QString c = wav("c.wav", 44100);
    SoundHeadCache cache(test::systemServices().fileSystem(), Output, HeadFrames, 2 * headBytes(HeadFrames));
    cache.prepare({a, b});
    ASSERT_TRUE(cache.waitUntilIdle(10000));
    ASSERT_TRUE(cache.find(a)); // a is now the more recent of the two
    cache.prepare({c});
    ASSERT_TRUE(cache.waitUntilIdle(10000));
    EXPECT_TRUE(cache.find(a));
    EXPECT_FALSE(cache.find(b));
    EXPECT_TRUE(cache.find(c));
    EXPECT_LE(cache.keptBytes(), 2 * headBytes(HeadFrames));
}

TEST_F(SoundHeadsTest, AFileChangedSinceItWasDecodedIsDecodedAgain) {
    const QString path = wav("changing.wav", 44100, 440);
    SoundHeadCache cache(test::systemServices().fileSystem(), Output, HeadFrames, 1 << 20);
    cache.prepare({path});
    ASSERT_TRUE(cache.waitUntilIdle(10000));
    const auto before = cache.find(path);
    ASSERT_TRUE(before);

    // Another length, so the change shows even where the clock's resolution would hide it.
    test::writeWav16(path, 44100, 2, test::sineSamples16(2000, 44100, 22050, 0.5));
    EXPECT_FALSE(cache.find(path)) << "the old head must not play";
    ASSERT_TRUE(cache.waitUntilIdle(10000));
    const auto after = cache.find(path);
    ASSERT_TRUE(after);
    EXPECT_NE(after->samples, before->samples);
}

// Names that the cache turns into files itself, on its own thread: the caller never waits for the disk, a name for
// no file is passed over, and names for one file decode it once.
TEST_F(SoundHeadsTest, NamesAreResolvedOnTheCachesOwnThread) {
    const QString a = wav("a.wav", 44100);
    const QString b = wav("b.wav", 1000);
    std::mutex mutex;
    QStringList resolved;
    bool onCallersThread = false;
    const std::thread::id caller = std::this_thread::get_id();
    SoundHeadCache cache(test::systemServices().fileSystem(), Output, HeadFrames, 1 << 20);
    cache.prepare({"A", "B", "also A", "nothing"}, [&](const QString& name) {
        std::lock_guard<std::mutex> lock(mutex);
        resolved << name;
        onCallersThread = onCallersThread || std::this_thread::get_id() == caller;
        return name == "B" ? b : name.endsWith('A') ? a : QString();
    });
    ASSERT_TRUE(cache.waitUntilIdle(10000));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(resolved, (QStringList{"A", "B", "also A", "nothing"}));
    EXPECT_FALSE(onCallersThread);
    EXPECT_TRUE(cache.find(a));
    EXPECT_TRUE(cache.find(b));
    EXPECT_EQ(cache.keptBytes(), headBytes(HeadFrames) + headBytes(1000));
}

} // namespace
} // namespace clavora::audio
