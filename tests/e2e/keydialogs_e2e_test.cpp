// Bindings made inside the program, for real: Soundboard > "Redefine Keys..." opened from the menu bar, a binding
// added with the keyboard alone, and the key then pressed in the main window heard from the sound server's null sink.
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundrecorder.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <vector>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");
constexpr int ToneRate = 44100;
constexpr double ToneFrequency = 1000.0;
constexpr int RecordRate = SoundRecorder::Rate;

class KeyDialogsE2E : public ProgramTest {
protected:
    void SetUp() override {
        if (!soundServerReachable()) {
            GTEST_SKIP()
                << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink named testsink)";
        }
        ProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        m_tone = m_root.file("tone.wav");
        writeWav16(m_tone, ToneRate, 2, sineSamples16(ToneFrequency, ToneRate, ToneRate * 3 / 10, 0.5));
        QByteArray keys = "\xEF\xBB\xBF";
        for (int n = 1; n <= 12; ++n) {
            keys += "F" + QByteArray::number(n) + "|Sounds\\" + QByteArray::number(n + 10) + ".mp3\r\n";
        }
        writeBytes(keysDb(), keys);
        // The key is to be played by the window's own key handling, from the key map the dialog changed.
        writeBytes(m_programDir + "/settings.ini", "[Settings]\r\nHotkeyMode=OFF\r\n");
    }

    QString keysDb() const { return m_programDir + "/keys.db"; }

    // The visible window of the program with this exact title; empty when there is none.
    static QString window(const ProgramRun& run, const QString& title) { return windowOf(run.pid(), title); }
    // The window with this title, given the keyboard focus: the X server's for a dialog, and for the main window
    // also the program's own account of it, which decides whether a key is the window's.
    QString focusedWindow(ProgramRun& run, const QString& title) {
        EXPECT_TRUE(run.waitForWindow(title, 10000)) << title.toStdString() << "\n" << run.output().toStdString();
        const QString id = window(run, title);
        if (!id.isEmpty()) {
            EXPECT_TRUE(focusWindowId(id)) << title.toStdString() << " did not take the focus";
            if (title == Title) {
                EXPECT_TRUE(run.waitUntilActive()) << "the main window did not become active";
            }
        }
        return id;
    }
    // Keys typed in order into the window that has the focus; the X server delivers them in that order.
    static void keys(const QStringList& names) {
        for (const QString& name : names) {
            runCommand("xdotool", {"key", "--delay", "60", name});
        }
    }
    QString m_tone;
    SoundRecorder m_recorder{m_root.file("recording.raw")};
};

TEST_F(KeyDialogsE2E, ABindingAddedFromTheMenuPlaysAtTheNextKeyPress) {
    ProgramRun run(m_programDir + "/clavora", m_home);
    run.environment().insert("SDL_AUDIODRIVER", "pulseaudio");
    ASSERT_TRUE(run.start());
    const QString main = focusedWindow(run, Title);
    ASSERT_FALSE(main.isEmpty());

    // Soundboard is the first menu of the bar; Redefine Keys... its first item.
    const QStringList before = visibleWindowsOf(run.pid());
    runCommand("xdotool", {"mousemove", "--window", main, "30", "10", "click", "1"});
    ASSERT_TRUE(waitForNewWindowOf(run.pid(), before)) << "the menu did not open";
    keys({"Down", "Return"});
    const QString dialog = focusedWindow(run, "Redefine Keys");
    ASSERT_FALSE(dialog.isEmpty()) << "the menu item did not open the dialog";

    // From the list to Add, which the space bar presses; in Add Key: the key, the file, past Browse... and the volume
    // to OK.
    keys({"Tab", "space"});
    ASSERT_FALSE(focusedWindow(run, "Add Key").isEmpty());
    keys({"z", "Tab"});
    runCommand("xdotool", {"type", "--delay", "20", m_tone});
    keys({"Tab", "Tab", "Tab", "space"});
    const QByteArray line = "z|" + QFile::encodeName(m_tone) + "\r\n";
    EXPECT_TRUE(waitFor([&] { return readBytes(keysDb()).endsWith(line); }, 5000)) << readBytes(keysDb()).toStdString();
    EXPECT_TRUE(waitFor([&] { return window(run, "Add Key").isEmpty(); }, 5000)) << "OK closes the window";

    // Esc closes Redefine Keys; the window plays the new binding.
    focusedWindow(run, "Redefine Keys");
    keys({"Escape"});
    ASSERT_TRUE(waitFor([&] { return window(run, "Redefine Keys").isEmpty(); }, 5000));
    focusedWindow(run, Title);

    // The null sink stalls while a new monitor stream gets going; the key goes once sound flows.
    ASSERT_TRUE(m_recorder.start() && m_recorder.recordMore(200))
        << "the sound server delivered nothing to the recorder";
    keys({"z"});
    EXPECT_TRUE(m_recorder.recordMore(1200));
    m_recorder.stop();

    const std::vector<float> recorded = m_recorder.samples();
    ASSERT_GT(recorded.size(), RecordRate / 2u);
    EXPECT_GT(peak(recorded), 0.2f) << "nothing was heard\n" << run.output().toStdString();
    EXPECT_NEAR(estimateFrequency(recorded, RecordRate), ToneFrequency, 5.0);
    EXPECT_TRUE(run.isRunning());
}

} // namespace
