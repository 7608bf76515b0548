// Runs the built program in a test: a copy of the program folder, a private home, and the process stopped by its
// PID at the end.
#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include "tests/support/testsupport.h"

namespace clavora::test {

// Copies the build's program folder (executable and data) to Target. False on failure.
bool CopyProgramFolder(const QString& target);

// Lays out the program folder with `cmake --install` into Target. False on failure.
bool InstallProgramFolder(const QString& target);

class TProgramRun {
public:
    // Program: path of the clavora executable; Home: the HOME of the run (XDG folders below it).
    TProgramRun(QString program, QString home);
    ~TProgramRun();

    QProcessEnvironment& environment() { return FEnvironment; }
    // Runs the program under another user id (as with setpriv) when the test runs as root.
    void runAsUser(int uid) { FUid = uid; }

    bool start(const QStringList& arguments = {});
    // Waits until a top-level window of the process with this exact title is mapped. Needs DISPLAY.
    bool waitForWindow(const QString& title, int timeoutMs = 20000);
    bool isRunning() const;
    void stop();
    QString output();
    qint64 pid() const { return FProcess.processId(); }

private:
    QString FProgram;
    QProcessEnvironment FEnvironment;
    QProcess FProcess;
    int FUid = -1;
};

// A test of the program started for real: a copy of the program folder (FProgramDir) and a home folder (FHome)
// in a temporary folder (FRoot). Skipped without the display of the test rig.
class TProgramTest : public ::testing::Test {
protected:
    void SetUp() override;

    TTempFolder FRoot;
    QString FProgramDir;
    QString FHome;
};

// True when the sound server of the test rig answers.
bool SoundServerReachable();

// Runs a short command and returns its standard output ("" on failure).
QString RunCommand(const QString& program, const QStringList& arguments, int timeoutMs = 10000);

// Waits until Condition holds or the time is up, letting Qt events run. Returns the last value of Condition.
template <class F> bool WaitFor(F condition, int timeoutMs);

} // namespace clavora::test

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template <class F> bool clavora::test::WaitFor(F condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}
