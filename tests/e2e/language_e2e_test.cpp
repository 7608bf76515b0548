// The language choice for real: the program started in English, German chosen in Help > Language and confirmed,
// and the program that the restart script starts again found running in German.
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include <signal.h>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");

QString xdotool(const QStringList& arguments) {
    return runCommand(QStringLiteral("xdotool"), arguments).trimmed();
}

// The PIDs of the processes running Program (this test's own copy, so no other process can match).
QList<qint64> processesRunning(const QString& program) {
    QList<qint64> pids;
    const QString wanted = QFileInfo(program).canonicalFilePath();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == wanted) {
            pids << pid;
        }
    }
    return pids;
}

// A file under /proc as it reads now; empty when the process has gone.
QByteArray procText(qint64 pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "pid (name) state ppid ...": the fields after the name, which may itself hold blanks.
QList<QByteArray> statFields(qint64 pid) {
    const QByteArray text = procText(pid, "stat");
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}

qint64 parentOf(qint64 pid) {
    const QList<QByteArray> fields = statFields(pid);
    return fields.size() > 1 ? fields[1].toLongLong() : 0;
}

// Gone, or a zombie that only waits for its parent.
bool processGone(qint64 pid) {
    const QList<QByteArray> fields = statFields(pid);
    return fields.size() < 2 || fields[0] == "Z";
}

// Stops Pid by its PID and waits until it has gone.
void stopProcess(qint64 pid) {
    ::kill(pid_t(pid), SIGTERM);
    if (!waitFor([&] { return processGone(pid); }, 5000)) {
        ::kill(pid_t(pid), SIGKILL);
        waitFor([&] { return processGone(pid); }, 5000);
    }
}

class LanguageE2E : public ProgramTest {
protected:
    // The visible window of Pid with exactly this title; empty when there is none (yet).
    static QString waitForWindowOf(qint64 pid, const QString& title) {
        QString window;
        waitFor([&] { return !(window = windowOf(pid, title)).isEmpty(); }, 20000);
        return window;
    }
    static void focus(const QString& window) { ASSERT_TRUE(focusWindowId(window)); }
    // Help menu item by its mnemonic: the menu bar's first menu opened with a click, then Left, which wraps round
    // to the last menu, Help.
    static void chooseHelpItem(const QString& window, const QString& mnemonic) {
        focus(window);
        const qint64 pid = xdotool({"getwindowpid", window}).toLongLong();
        const QStringList closed = visibleWindowsOf(pid);
        xdotool({"mousemove", "--window", window, "20", "10", "click", "1"});
        ASSERT_TRUE(waitForNewWindowOf(pid, closed)) << "the first menu did not open";
        const QStringList first = visibleWindowsOf(pid);
        xdotool({"key", "Left"});
        ASSERT_TRUE(waitForNewWindowOf(pid, first)) << "the Help menu did not open";
        xdotool({"key", mnemonic});
    }
};

TEST_F(LanguageE2E, ARestartThroughTheScriptStartsTheProgramInTheChosenLanguage) {
    const QString program = m_programDir + QStringLiteral("/clavora");
    // Whatever this test leaves running of its copy of the program (the restarted one, and the script waiting for
    // it) is stopped by its PID.
    const auto cleanUp = qScopeGuard([&] {
        for (const qint64 pid : processesRunning(program)) {
            const qint64 script = parentOf(pid);
            stopProcess(pid);
            if (script > 1 && procText(script, "cmdline").contains("start.sh")) {
                stopProcess(script);
            }
        }
    });

    ProgramRun run(program, m_home);
    // A locale without a language of its own: the automatic choice is English.
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
        run.environment().remove(QString::fromLatin1(name));
    }
    run.environment().insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    ASSERT_TRUE(run.start());
    const QString first = waitForWindowOf(run.pid(), Title);
    ASSERT_FALSE(first.isEmpty()) << run.output().toStdString();

    chooseHelpItem(first, QStringLiteral("l"));
    const QString dialog = waitForWindowOf(run.pid(), QStringLiteral("Language"));
    ASSERT_FALSE(dialog.isEmpty()) << run.output().toStdString();
    focus(dialog);
    xdotool({"key", "g"});      // the list takes the focus first: "German"
    xdotool({"key", "Return"}); // OK, in the order typed
    const QString question = waitForWindowOf(run.pid(), QStringLiteral("Confirmation"));
    ASSERT_FALSE(question.isEmpty()) << run.output().toStdString();
    focus(question);
    xdotool({"key", "Return"}); // Yes

    ASSERT_TRUE(waitFor([&] { return !run.isRunning(); }, 10000)) << run.output().toStdString();
    EXPECT_TRUE(readBytes(m_programDir + QStringLiteral("/settings.ini")).contains("\nLanguage=German\n"));
    const QByteArray script = readBytes(m_programDir + QStringLiteral("/start.sh"));
    EXPECT_TRUE(script.startsWith("#!/bin/sh\n")) << script.toStdString();

    // The script starts the program again after its pause; it comes up in German.
    qint64 restarted = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            const QList<qint64> pids = processesRunning(program);
            restarted = pids.value(0);
            return restarted != 0 && !windowOf(restarted, Title).isEmpty();
        },
        20000));
    EXPECT_EQ(QFileInfo(QStringLiteral("/proc/%1/exe").arg(parentOf(restarted))).symLinkTarget(),
              QFileInfo(QStringLiteral("/bin/sh")).canonicalFilePath());

    chooseHelpItem(windowOf(restarted, Title), QStringLiteral("a"));
    EXPECT_FALSE(waitForWindowOf(restarted, QString::fromUtf8("Über Clavora")).isEmpty());
}

} // namespace
