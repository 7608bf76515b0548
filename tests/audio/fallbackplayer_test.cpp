// The system's simple player on Linux (libcanberra) against a private PulseAudio: it keeps at most MaxSounds going,
// the oldest giving way, so a key held on a file only it can play never piles up streams at the server.
#include "platform/linux/linuxfallbackplayer.h"

#include "tests/audio/audiotestsupport.h"
#include "tests/audio/testsoundserver.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QFile>

#include <algorithm>

using namespace clavora;
using clavora::test::TempFolder;
using clavora::test::TestSoundServer;
using clavora::test::waitFor;

namespace {

TEST(LinuxFallbackPlayerTest, AtMostMaxSoundsPlayAndTheOldestGiveWay) {
    if (!TestSoundServer::available()) {
        GTEST_SKIP() << "needs pulseaudio, pactl and parec";
    }
    TempFolder folder;
    TestSoundServer server(folder.file(QStringLiteral("runtime")));
    const QByteArray oldServer = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", QFile::encodeName(server.address()));
    ASSERT_TRUE(server.start());
    const QString tone = folder.file(QStringLiteral("tone.wav"));
    test::writeWav16(tone, 44100, 2, test::sineSamples16(500, 44100, 44100 * 8, 0.3));

    constexpr int Max = platform::IFallbackPlayer::MaxSounds;
    {
        platform::LinuxFallbackPlayer player;
        // At the pace of key presses: each sound has reached the server before the next press.
        for (int i = 1; i <= Max + 4; ++i) {
            player.play(tone);
            ASSERT_LE(player.playingSounds(), Max);
            ASSERT_TRUE(waitFor([&] { return server.streamCount() == std::min(i, Max); }, 20000))
                << "press " << i << ": " << server.streamCount() << " streams at the server";
        }
        EXPECT_EQ(player.playingSounds(), Max);
        // A file it cannot play takes no place.
        player.play(folder.file(QStringLiteral("missing.wav")));
        EXPECT_LE(player.playingSounds(), Max);
    }
    // Gone with the player.
    EXPECT_TRUE(waitFor([&] { return server.streamCount() == 0; }, 20000)) << server.streamCount();

    if (oldServer.isEmpty()) {
        qunsetenv("PULSE_SERVER");
    } else {
        qputenv("PULSE_SERVER", oldServer);
    }
}

} // namespace
