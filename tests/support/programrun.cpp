// Runs the built program in a test.
#include "tests/support/programrun.h"

#include "tests/support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <unistd.h>
#include <utility>

namespace clavora::test {

bool copyProgramFolder(const QString& target) {
    const QString source = programDir();
    if (source.isEmpty() || !QDir().mkpath(target)) {
        return false;
    }
    QDirIterator it(source, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(source).relativeFilePath(path);
        const QString destination = target + QLatin1Char('/') + relative;
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(destination)) {
                return false;
            }
        } else if (!QFile::copy(path, destination)) {
            return false;
        }
    }
    return true;
}

bool installProgramFolder(const QString& target) {
    QProcess cmake;
    cmake.start(QStringLiteral("cmake"),
                {QStringLiteral("--install"), QString::fromLocal8Bit(qgetenv("CLAVORA_BINARY_DIR")),
                 QStringLiteral("--prefix"), target});
    return cmake.waitForFinished(120000) && cmake.exitStatus() == QProcess::NormalExit && cmake.exitCode() == 0;
}

ProgramRun::ProgramRun(QString program, QString home)
    : m_program(std::move(program)), m_environment(QProcessEnvironment::systemEnvironment()) {
    m_environment.insert(QStringLiteral("HOME"), home);
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    m_environment.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/.local/state"));
    m_environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    m_environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    m_environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!m_environment.contains(QStringLiteral("SDL_AUDIODRIVER"))) {
        m_environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    }
    // The program asks the maker's server for updates at start: never the real host from a test, only a local one.
    if (!m_environment.value(QStringLiteral("CLAVORA_WEB_HOST")).trimmed().startsWith(QLatin1String("127."))) {
        m_environment.insert(QStringLiteral("CLAVORA_WEB_HOST"), QStringLiteral("127.0.0.1:9"));
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

ProgramRun::~ProgramRun() {
    stop();
}

bool ProgramRun::start(const QStringList& arguments) {
    // The main window says when it becomes active (see waitUntilActive()).
    const QString rules = m_environment.value(QStringLiteral("QT_LOGGING_RULES"));
    m_environment.insert(QStringLiteral("QT_LOGGING_RULES"), rules.isEmpty()
                                                                 ? QStringLiteral("clavora.app.debug=true")
                                                                 : rules + QStringLiteral(";clavora.app.debug=true"));
    m_process.setProcessEnvironment(m_environment);
    m_process.setWorkingDirectory(m_environment.value(QStringLiteral("HOME")));
    if (m_uid >= 0 && ::geteuid() == 0) {
        QStringList all = {QStringLiteral("--reuid=%1").arg(m_uid), QStringLiteral("--regid=%1").arg(m_uid),
                           QStringLiteral("--clear-groups"), m_program};
        all += arguments;
        m_process.start(QStringLiteral("setpriv"), all);
    } else {
        m_process.start(m_program, arguments);
    }
    return m_process.waitForStarted(10000);
}

bool ProgramRun::waitForWindow(const QString& title, int timeoutMs) {
    // --all: xdotool takes a window matching any one condition by default, so any window of the process would do.
    const QString pattern = QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
    return waitFor(
        [&] {
            return !runCommand(QStringLiteral("xdotool"),
                               {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                                QStringLiteral("--pid"), QString::number(pid()), QStringLiteral("--name"), pattern})
                        .trimmed()
                        .isEmpty();
        },
        timeoutMs);
}

QStringList visibleWindowsOf(qint64 pid) {
    return runCommand(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                  QStringLiteral("--pid"), QString::number(pid)})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString windowOf(qint64 pid, const QString& title) {
    // --all: the window must match both the process and the title (xdotool takes either by default).
    return runCommand(QStringLiteral("xdotool"),
                      {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                       QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
                       QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
        .value(0);
}

bool focusWindowId(const QString& id, int timeoutMs) {
    runCommand(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), id});
    return waitFor(
        [&] { return runCommand(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}).trimmed() == id; },
        timeoutMs);
}

bool waitForNewWindowOf(qint64 pid, const QStringList& before, int timeoutMs) {
    return waitFor(
        [&] {
            const QStringList now = visibleWindowsOf(pid);
            return std::any_of(now.begin(), now.end(), [&](const QString& id) { return !before.contains(id); });
        },
        timeoutMs);
}

bool ProgramRun::isRunning() const {
    return m_process.state() != QProcess::NotRunning;
}

int ProgramRun::exitCode() const {
    if (isRunning() || m_process.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return m_process.exitCode();
}

bool ProgramRun::endsOnRequest(int timeoutMs) {
    if (m_process.state() == QProcess::NotRunning) {
        return false;
    }
    m_process.terminate();
    if (m_process.waitForFinished(timeoutMs)) {
        return true;
    }
    stop();
    return false;
}

void ProgramRun::stop() {
    if (m_process.state() == QProcess::NotRunning) {
        return;
    }
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString ProgramRun::output() {
    return std::exchange(m_unreturned, QString()) + QString::fromLocal8Bit(m_process.readAll());
}

bool ProgramRun::waitUntilActive(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (true) {
        const QString read = QString::fromLocal8Bit(m_process.readAll());
        m_history += read;
        m_unreturned += read;
        const qsizetype active = m_history.lastIndexOf(QLatin1String("Main window active"));
        if (active >= 0 && active > m_history.lastIndexOf(QLatin1String("Main window inactive"))) {
            return true;
        }
        if (clock.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning) {
            return false;
        }
        m_process.waitForReadyRead(50);
    }
}

void ProgramTest::SetUp() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        GTEST_SKIP() << "needs the X display of the test rig";
    }
    m_programDir = m_root.file(QStringLiteral("program"));
    m_home = m_root.file(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(m_home));
    ASSERT_TRUE(copyProgramFolder(m_programDir));
    // The window opens where an earlier test's window was. A pointer left resting on its volume slider would give
    // the slider the keyboard focus and keep typed keys from the window, so it starts in a corner.
    runCommand(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("0"), QStringLiteral("0")});
}

bool soundServerReachable() {
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER") &&
           !runCommand(QStringLiteral("pactl"), {QStringLiteral("info")}).isEmpty();
}

QString runCommand(const QString& program, const QStringList& arguments, int timeoutMs) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        return QString();
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

bool focusWindow(const QString& title, qint64 pid) {
    const QString window = windowOf(pid, title);
    return !window.isEmpty() && focusWindowId(window, 5000);
}

void pressKey(const QString& key) {
    runCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), key});
}

} // namespace clavora::test
