// Entry point of every test executable: a private home folder for the whole run, so no test ever reads or writes
// the real user's files, and a QApplication for the tests that need widgets.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);

    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/clavora-test-home-XXXXXX"));
    if (!home.isValid()) {
        return 2;
    }
    const QByteArray root = QFile::encodeName(home.path());
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/.config");
    qputenv("XDG_STATE_HOME", root + "/.local/state");
    qputenv("XDG_DATA_HOME", root + "/.local/share");
    qputenv("XDG_CACHE_HOME", root + "/.cache");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        QDir().mkpath(home.path() + QStringLiteral("/runtime"));
        QFile::setPermissions(home.path() + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", root + "/runtime");
    }

    // Nor the desktop's session bus, where a real Clavora may run and take the calls: a test that needs a bus starts
    // one of its own (tests/support/sessionbus.h). Programs the tests start inherit it.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root + "/no-session-bus");

    // The maker's server is never reached from a test: a closed local port unless a test starts a server of its own.
    // Programs the tests start inherit it.
    qputenv("CLAVORA_WEB_HOST", "127.0.0.1:9");
    // Nor does a request to the local test servers go round through a proxy of the environment.
    qputenv("no_proxy", "*");
    qputenv("NO_PROXY", "*");

    // In-process audio output goes nowhere unless a test asks for a device.
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) {
        qputenv("SDL_AUDIODRIVER", "dummy");
    }

    // Without a display, tests that need X skip themselves instead of the whole executable failing to start.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
