// One Clavora per desktop session, for real: the built program on a private session bus, a second start that hands
// itself over, and the command line heard at the rig's null sink.
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundrecorder.h"
#include "tests/support/programrun.h"
#include "tests/support/sessionbus.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <gtest/gtest.h>

#include <cmath>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");
constexpr int ToneRate = 44100;
constexpr int RecordRate = SoundRecorder::Rate;

class InstanceE2E : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(m_bus.start()) << m_bus.error().toStdString();
        m_tone = m_root.file("tone.wav");
        writeWav16(m_tone, ToneRate, 2, sineSamples16(1000.0, ToneRate, ToneRate * 3 / 10, 0.5));
        m_long = m_root.file("long.wav");
        writeWav16(m_long, ToneRate, 2, sineSamples16(500.0, ToneRate, ToneRate * 6, 0.5));
        const QByteArray tone = QFile::encodeName(m_tone);
        writeBytes(m_programDir + "/keys.db",
                   "a|" + tone + "\nF5|" + tone + "\nENTER|" + tone + "\nL|" + QFile::encodeName(m_long) + "\n");
        // The window's own key handling only, so a key pressed in it plays once.
        writeBytes(m_programDir + "/settings.ini", "[Settings]\nHotkeyMode=OFF\nMinimizeToSystemTray=ON\n");
    }

    void TearDown() override { m_recorder.stop(); }

    // A run of the program on the test's bus (or, with OnBus false, on none), its sound on the rig's server.
    std::unique_ptr<ProgramRun> program(bool onBus = true) {
        auto run = std::make_unique<ProgramRun>(m_programDir + "/clavora", m_home);
        if (onBus) {
            run->environment().insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
        }
        run->environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
        return run;
    }

    // Starts the program that serves, and waits for its window.
    std::unique_ptr<ProgramRun> startServing() {
        std::unique_ptr<ProgramRun> run = program();
        EXPECT_TRUE(run->start());
        EXPECT_TRUE(run->waitForWindow(Title)) << run->output().toStdString();
        return run;
    }

    // Runs `clavora Arguments` to its end; its exit code, and what it said in Output.
    int command(const QStringList& arguments, QString* output = nullptr, bool onBus = true) {
        std::unique_ptr<ProgramRun> run = program(onBus);
        EXPECT_TRUE(run->start(arguments));
        EXPECT_TRUE(waitFor([&] { return !run->isRunning(); }, 20000))
            << "still running: " << arguments.join(' ').toStdString();
        if (output != nullptr) {
            *output = run->output();
        }
        return run->exitCode();
    }

    // The program's windows on the screen with its title, of any process.
    static int windowsTitled(const QString& title) {
        return int(runCommand(QStringLiteral("xdotool"),
                              {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                               QLatin1Char('^') + title + QLatin1Char('$')})
                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                       .size());
    }

    SessionBus m_bus;
    QString m_tone;
    QString m_long;
    SoundRecorder m_recorder{m_root.file("recording.raw")};
};

TEST_F(InstanceE2E, ASecondStartBringsTheFirstBackAndEnds) {
    std::unique_ptr<ProgramRun> first = startServing();
    const QString window = windowOf(first->pid(), Title);
    ASSERT_FALSE(window.isEmpty());
    runCommand(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), window});
    ASSERT_TRUE(waitFor([&] { return windowOf(first->pid(), Title).isEmpty(); }, 10000)) << "not hidden to the tray";

    // The autostart entry of a session where the program already runs does nothing visible.
    EXPECT_EQ(command({QStringLiteral("/auto")}), 0);
    EXPECT_TRUE(windowOf(first->pid(), Title).isEmpty());

    QString said;
    EXPECT_EQ(command({}, &said), 0) << said.toStdString();
    EXPECT_TRUE(waitFor([&] { return !windowOf(first->pid(), Title).isEmpty(); }, 10000))
        << "the first window did not come back";
    EXPECT_EQ(windowsTitled(Title), 1);
    EXPECT_TRUE(first->isRunning());
}

TEST_F(InstanceE2E, PlayFromTheCommandLineIsHeardAsTheKeyPressIs) {
    if (!soundServerReachable()) {
        GTEST_SKIP() << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink named testsink)";
    }
    std::unique_ptr<ProgramRun> first = startServing();
    // Records one sound and gives its peak.
    const auto heard = [&](const std::function<void()>& play) {
        EXPECT_TRUE(m_recorder.start()) << "the sound server delivered nothing to the recorder";
        play();
        EXPECT_TRUE(m_recorder.waitForSound(0.05f, 15000)) << first->output().toStdString();
        m_recorder.stop();
        const std::vector<float> recorded = m_recorder.samples();
        EXPECT_NEAR(estimateFrequency(recorded, RecordRate), 1000.0, 5.0);
        return peak(recorded);
    };

    for (const char* key : {"a", "F5", "ENTER"}) {
        SCOPED_TRACE(key);
        QString said;
        const float level = heard([&] {
            EXPECT_EQ(command({QStringLiteral("--play"), QLatin1String(key)}, &said), 0) << said.toStdString();
        });
        EXPECT_GT(level, 0.2f);
    }
    const float played = heard([&] { EXPECT_EQ(command({QStringLiteral("--play"), QStringLiteral("F5")}), 0); });
    ASSERT_TRUE(focusWindow(Title, first->pid()));
    const float pressed = heard([&] { pressKey(QStringLiteral("F5")); });
    EXPECT_NEAR(20.0 * std::log10(played / pressed), 0.0, 1.0) << "not the level of the key press";

    // A file by a path relative to where the command runs.
    const float file = heard([&] {
        EXPECT_EQ(command({QStringLiteral("--play-file"), QStringLiteral("../tone.wav")}), 0);
    });
    EXPECT_GT(file, 0.2f);

    // A key with nothing bound, and a file that is not there, are said and fail.
    QString said;
    EXPECT_EQ(command({QStringLiteral("--play"), QStringLiteral("Z")}, &said), 1);
    EXPECT_TRUE(said.contains(QLatin1String("No sound is bound to the key \"Z\"."))) << said.toStdString();
    EXPECT_EQ(command({QStringLiteral("--play-file"), m_root.file("none.wav")}, &said), 1);
    EXPECT_TRUE(said.contains(QLatin1String("There is no sound file at"))) << said.toStdString();
    EXPECT_TRUE(first->isRunning());
}

TEST_F(InstanceE2E, StopAllFromTheCommandLineSilencesALongSound) {
    if (!soundServerReachable()) {
        GTEST_SKIP() << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink named testsink)";
    }
    std::unique_ptr<ProgramRun> first = startServing();
    ASSERT_TRUE(m_recorder.start()) << "the sound server delivered nothing to the recorder";
    ASSERT_EQ(command({QStringLiteral("--play"), QStringLiteral("L")}), 0);
    ASSERT_TRUE(waitFor([&] { return audibleFrames(m_recorder.samples(), 0.05f) > RecordRate / 2; }, 15000))
        << "the long sound was not heard";
    ASSERT_EQ(command({QStringLiteral("--stop-all")}), 0);
    const size_t stoppedAt = m_recorder.samples().size();
    // The six-second sound would go on for seconds; what the sink still held when the command returned is let through.
    ASSERT_TRUE(m_recorder.recordMore(2000));
    m_recorder.stop();
    const std::vector<float> recorded = m_recorder.samples();
    ASSERT_GT(recorded.size(), stoppedAt + RecordRate);
    const std::vector<float> after(recorded.begin() + std::ptrdiff_t(stoppedAt + RecordRate / 4), recorded.end());
    EXPECT_LT(peak(after), 0.01f) << "still sounding after Stop All";
}

TEST_F(InstanceE2E, CommandsWithNoInstanceFailAndStartNone) {
    QString said;
    EXPECT_EQ(command({QStringLiteral("--play"), QStringLiteral("F5")}, &said), 1);
    EXPECT_TRUE(said.contains(QLatin1String("Clavora is not running."))) << said.toStdString();
    EXPECT_EQ(windowsTitled(Title), 0);

    // Without a session bus at all, the program runs as it always did, and a command says why it cannot reach it.
    std::unique_ptr<ProgramRun> alone = program(false);
    ASSERT_TRUE(alone->start());
    EXPECT_TRUE(alone->waitForWindow(Title)) << alone->output().toStdString();
    EXPECT_EQ(command({QStringLiteral("--stop-all")}, &said, false), 1);
    EXPECT_TRUE(said.contains(QLatin1String("cannot reach the session bus"))) << said.toStdString();
    EXPECT_TRUE(alone->isRunning());
}

TEST_F(InstanceE2E, HelpAndVersionNeedNeitherWindowNorInstance) {
    QString said;
    EXPECT_EQ(command({QStringLiteral("--version")}, &said), 0);
    EXPECT_TRUE(said.startsWith(QLatin1String("Clavora "))) << said.toStdString();
    EXPECT_EQ(command({QStringLiteral("--help")}, &said), 0);
    EXPECT_TRUE(said.contains(QLatin1String("--play <KEY>"))) << said.toStdString();
    EXPECT_EQ(command({QStringLiteral("--volume"), QStringLiteral("9")}, &said), 2);
    EXPECT_EQ(windowsTitled(Title), 0);
}

} // namespace
