// Runs the built program in a test: a copy of the program folder, a private home, and the process stopped by its
// PID at the end.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include "tests/support/testsupport.h"

namespace clavora::test {

// Copies the build's program folder (executable and data) to Target. False on failure.
bool copyProgramFolder(const QString& target);

// Lays out the program folder with `cmake --install` into Target. False on failure.
bool installProgramFolder(const QString& target);

class ProgramRun {
public:
    // Program: path of the clavora executable; Home: the HOME of the run (XDG folders below it).
    ProgramRun(QString program, QString home);
    ~ProgramRun();

    QProcessEnvironment& environment() { return m_environment; }
    // Runs the program under another user id (as with setpriv) when the test runs as root.
    void runAsUser(int uid) { m_uid = uid; }

    bool start(const QStringList& arguments = {});
    // Waits until a top-level window of the process with this exact title is mapped. Needs DISPLAY.
    bool waitForWindow(const QString& title, int timeoutMs = 20000);
    bool isRunning() const;
    // The exit code once the program has ended by itself; -1 while it runs or after a crash.
    int exitCode() const;
    // Asks the program to end (SIGTERM, as a session does at logout) and waits up to TimeoutMs for it to do so. False
    // when it had already ended or is still running then; it is killed in that case.
    bool endsOnRequest(int timeoutMs);
    void stop();
    QString output();
    // Waits until the program's main window is the active window by the program's own account (its debug log,
    // which this turns on before start()): keys typed from then on are the window's.
    bool waitUntilActive(int timeoutMs = 10000);
    qint64 pid() const { return m_process.processId(); }

private:
    QString m_program;
    QProcessEnvironment m_environment;
    QProcess m_process;
    int m_uid = -1;
    // Read by waitUntilActive(): all of it, and what output() has not returned yet.
    QString m_history;
    QString m_unreturned;
};

// A test of the program started for real: a copy of the program folder (m_programDir) and a home folder (m_home)
// in a temporary folder (m_root). Skipped without the display of the test rig.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;

    TempFolder m_root;
    QString m_programDir;
    QString m_home;
};

// True when the sound server of the test rig answers.
bool soundServerReachable();

// The X windows of a process on the screen, menus included, and a wait for one that is not among Before (a menu or a
// dialog opening): true once there is one.
QStringList visibleWindowsOf(qint64 pid);
// The visible window of process Pid whose title is exactly Title (its X id), or an empty string.
QString windowOf(qint64 pid, const QString& title);
// Gives the keyboard focus to the X window Id and waits until the X server has moved it there.
bool focusWindowId(const QString& id, int timeoutMs = 10000);
bool waitForNewWindowOf(qint64 pid, const QStringList& before, int timeoutMs = 10000);
// Gives the keyboard focus to the visible window of process Pid whose title is exactly Title. False when there is
// no such window or it does not get the focus.
bool focusWindow(const QString& title, qint64 pid);
// Presses and releases a key (an xdotool key name) on the rig's display.
void pressKey(const QString& key);

// Runs a short command and returns its standard output ("" on failure).
QString runCommand(const QString& program, const QStringList& arguments, int timeoutMs = 10000);

} // namespace clavora::test
