// The clavora executable. A start without a window (--help, --version, a command such as --play for the running
// Clavora) is done here, with Qt Core and the session bus alone, so it is over in a few milliseconds; every other
// start loads the program itself (the library beside this file, which links everything else) and runs it.
#include "app/commandline.h"
#include "app/identity.h"

#include <QCoreApplication>

#ifdef CLAVORA_PROGRAM_LIBRARY
#include "platform/dbus/dbusinstancebus.h"
#include "platform/posix/programlibrary.h"
#else
#include "app/startup.h"
#include "platform/dummy/dummyservices.h"
#endif

int main(int argc, char** argv) {
    using namespace clavora;
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLine commandLine = parseCommandLine(arguments);
    if (runsWithoutWindow(commandLine)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(BuiltInProductName);
#ifdef CLAVORA_PROGRAM_LIBRARY
        platform::DBusInstanceBus bus;
#else
        platform::DummyInstanceBus bus;
#endif
        return runWithoutWindow(commandLine, bus, formatAppVersion(true, CLAVORA_VERSION_MAJOR, CLAVORA_VERSION_MINOR));
    }
#ifdef CLAVORA_PROGRAM_LIBRARY
    QString error;
    const int code = platform::runProgramLibrary(QStringLiteral(CLAVORA_PROGRAM_LIBRARY), argc, argv, error);
    if (!error.isEmpty()) {
        writeToStream(stderr, QStringLiteral("clavora: %1\n").arg(error));
        return ExitFailed;
    }
    return code;
#else
    return runProgram(argc, argv);
#endif
}
