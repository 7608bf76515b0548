// A window manager on the X display of the test rig.
#include "tests/support/windowmanager.h"

#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QRegularExpression>

#include <csignal>
#include <sys/types.h>

namespace clavora::test {

namespace {

// The root's check window, when the property is there.
QString supportingWindow() {
    const QString answer =
        runCommand(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("window id # (0x[0-9a-fA-F]+)")).match(answer);
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

bool hasWindowManager() {
    // A window manager that went away may leave the property behind; its check window goes with it.
    const QString window = supportingWindow();
    if (window.isEmpty()) {
        return false;
    }
    const QString check = runCommand(QStringLiteral("xprop"),
                                     {QStringLiteral("-id"), window, QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
    return check.contains(window);
}

WindowManager::WindowManager() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        return;
    }
    if (hasWindowManager()) {
        m_running = true;
        return;
    }
    m_process.setProgram(QStringLiteral("openbox"));
    m_process.setArguments({QStringLiteral("--sm-disable")});
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        return;
    }
    m_running = waitFor([this] { return m_process.state() == QProcess::Running && hasWindowManager(); }, 20000);
}

WindowManager::~WindowManager() {
    if (m_process.state() == QProcess::NotRunning) {
        return;
    }
    ::kill(pid_t(m_process.processId()), SIGTERM);
    if (!m_process.waitForFinished(10000)) {
        ::kill(pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished(5000);
    }
}

} // namespace clavora::test
