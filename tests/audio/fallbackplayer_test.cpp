// The system's simple player on Linux (libcanberra) against a private PulseAudio: it keeps at most MaxSounds going,
// the oldest giving way, so a key held on a file only it can play never piles up streams at the server.
#include "platform/pulse/linuxfallbackplayer.h"

#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundserver.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLoggingCategory>

#include <algorithm>
#include <mutex>
#include <optional>

using namespace clavora;
using clavora::test::SoundServer;
using clavora::test::TempFolder;
using clavora::test::waitFor;

namespace {

// What the player logs, from any thread.
class PlayerLog {
public:
    PlayerLog() {
        QLoggingCategory::setFilterRules(QStringLiteral("clavora.platform.fallbackplayer.debug=true"));
        s_current = this;
        m_previous = qInstallMessageHandler(&PlayerLog::handle);
    }
    ~PlayerLog() {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }
    bool contains(const QString& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::any_of(m_lines.begin(), m_lines.end(), [&](const QString& line) { return line.contains(text); });
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (s_current == nullptr) {
            return;
        }
        if (qstrcmp(context.category, "clavora.platform.fallbackplayer") == 0) {
            std::lock_guard<std::mutex> lock(s_current->m_mutex);
            s_current->m_lines << message;
        }
        if (s_current->m_previous != nullptr) {
            s_current->m_previous(type, context, message);
        }
    }
    static inline PlayerLog* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    std::mutex m_mutex;
    QStringList m_lines;
};

TEST(LinuxFallbackPlayerTest, AtMostMaxSoundsPlayAndTheOldestGiveWay) {
    if (!SoundServer::available()) {
        GTEST_SKIP() << "needs pulseaudio, pactl and parec";
    }
    TempFolder folder;
    SoundServer server(folder.file(QStringLiteral("runtime")));
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

// A sound server that takes the connection and answers nothing holds up only the player's own thread: asking for a
// sound, stopping and ending the player all return; once the server answers, a new player plays.
TEST(LinuxFallbackPlayerTest, AServerThatDoesNotAnswerHoldsUpOnlyThePlayersThread) {
    if (!SoundServer::available()) {
        GTEST_SKIP() << "needs pulseaudio, pactl and parec";
    }
    TempFolder folder;
    SoundServer server(folder.file(QStringLiteral("runtime")));
    test::ScopedEnvironment environment;
    environment.set("PULSE_SERVER", QFile::encodeName(server.address()));
    ASSERT_TRUE(server.start());
    const QString tone = folder.file(QStringLiteral("tone.wav"));
    test::writeWav16(tone, 44100, 2, test::sineSamples16(500, 44100, 44100 * 8, 0.3));

    server.freeze();
    {
        PlayerLog log;
        std::optional<platform::LinuxFallbackPlayer> frozen(std::in_place);
        frozen->play(tone);
        ASSERT_TRUE(waitFor([&] { return log.contains(QStringLiteral("connecting")); }, 20000));
        frozen->play(tone);
        frozen->stopAll();
        EXPECT_EQ(frozen->playingSounds(), 0);
        // Ended while its thread waits for the server.
        frozen.reset();
        EXPECT_TRUE(log.contains(QStringLiteral("it is left behind")));
    }
    server.thaw();
    // What was asked for while the server was stopped is long overdue by now and never plays.
    platform::LinuxFallbackPlayer player;
    player.play(tone);
    ASSERT_TRUE(waitFor([&] { return server.streamCount() == 1; }, 20000)) << server.streamCount();
    EXPECT_EQ(player.playingSounds(), 1);
}

} // namespace
