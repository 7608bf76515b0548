// Runs the built program in a test.
#include "tests/support/programrun.h"

#include "tests/support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace clavora::test {

bool CopyProgramFolder(const QString& target) {
    const QString source = ProgramDir();
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

bool InstallProgramFolder(const QString& target) {
    QProcess cmake;
    cmake.start(QStringLiteral("cmake"), {QStringLiteral("--install"), QString::fromLocal8Bit(qgetenv("CLAVORA_BINARY_DIR")),
                                          QStringLiteral("--prefix"), target});
    return cmake.waitForFinished(120000) && cmake.exitStatus() == QProcess::NormalExit && cmake.exitCode() == 0;
}

TProgramRun::TProgramRun(QString program, QString home)
    : FProgram(std::move(program)), FEnvironment(QProcessEnvironment::systemEnvironment()) {
    FEnvironment.insert(QStringLiteral("HOME"), home);
    FEnvironment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    FEnvironment.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/.local/state"));
    FEnvironment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    FEnvironment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    FEnvironment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!FEnvironment.contains(QStringLiteral("SDL_AUDIODRIVER"))) {
        FEnvironment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    }
    FProcess.setProcessChannelMode(QProcess::MergedChannels);
}

TProgramRun::~TProgramRun() { stop(); }

bool TProgramRun::start(const QStringList& arguments) {
    FProcess.setProcessEnvironment(FEnvironment);
    FProcess.setWorkingDirectory(FEnvironment.value(QStringLiteral("HOME")));
    if (FUid >= 0 && ::geteuid() == 0) {
        QStringList all = {QStringLiteral("--reuid=%1").arg(FUid), QStringLiteral("--regid=%1").arg(FUid),
                           QStringLiteral("--clear-groups"), FProgram};
        all += arguments;
        FProcess.start(QStringLiteral("setpriv"), all);
    } else {
        FProcess.start(FProgram, arguments);
    }
    return FProcess.waitForStarted(10000);
}

bool TProgramRun::waitForWindow(const QString& title, int timeoutMs) {
    // --all: xdotool takes a window matching any one condition by default, so any window of the process would do.
    const QString pattern = QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
    return WaitFor(
        [&] {
            return !RunCommand(QStringLiteral("xdotool"),
                               {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                                QStringLiteral("--pid"), QString::number(pid()), QStringLiteral("--name"), pattern})
                        .trimmed()
                        .isEmpty();
        },
        timeoutMs);
}

bool TProgramRun::isRunning() const { return FProcess.state() != QProcess::NotRunning; }

void TProgramRun::stop() {
    if (FProcess.state() == QProcess::NotRunning) {
        return;
    }
    FProcess.terminate();
    if (!FProcess.waitForFinished(5000)) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

QString TProgramRun::output() { return QString::fromLocal8Bit(FProcess.readAll()); }

void TProgramTest::SetUp() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        GTEST_SKIP() << "needs the X display of the test rig";
    }
    FProgramDir = FRoot.file(QStringLiteral("program"));
    FHome = FRoot.file(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(FHome));
    ASSERT_TRUE(CopyProgramFolder(FProgramDir));
}

bool SoundServerReachable() {
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER") &&
           !RunCommand(QStringLiteral("pactl"), {QStringLiteral("info")}).isEmpty();
}

QString RunCommand(const QString& program, const QStringList& arguments, int timeoutMs) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        return QString();
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

} // namespace clavora::test
