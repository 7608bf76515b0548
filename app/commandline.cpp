// The command line.
#include "app/commandline.h"

#include "app/identity.h"
#include "platform/instancebus.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace clavora {

namespace {

const QString PlayOption = QStringLiteral("play");
const QString PlayFileOption = QStringLiteral("play-file");
const QString StopAllOption = QStringLiteral("stop-all");
const QString VolumeOption = QStringLiteral("volume");
const QString DiagnosticsOption = QStringLiteral("diagnostics");

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and end.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version and end.")};
    QCommandLineOption play{PlayOption,
                            QStringLiteral("Play the sounds bound to KEY (as keys.db names it: A, F5, ENTER...) in the "
                                           "running Clavora. May be given more than once."),
                            QStringLiteral("KEY")};
    QCommandLineOption playFile{PlayFileOption,
                                QStringLiteral("Play the sound file PATH in the running Clavora. May be given more "
                                               "than once."),
                                QStringLiteral("PATH")};
    QCommandLineOption stopAll{StopAllOption, QStringLiteral("Stop every sound the running Clavora plays.")};
    QCommandLineOption volume{VolumeOption,
                              QStringLiteral("Set the running Clavora's volume slider to STEP, 0 (silent) to 8 "
                                             "(full)."),
                              QStringLiteral("STEP")};
    QCommandLineOption diagnostics{DiagnosticsOption,
                                   QStringLiteral("Report how the sound output runs, on the standard output.")};

    Parser() {
        parser.setApplicationDescription(
            QStringLiteral("Clavora plays sounds from the keyboard.\n\nWith a command (--play, --play-file, "
                           "--stop-all, --volume) it hands the command to the Clavora that runs on this desktop and "
                           "ends; without one it starts Clavora, or brings the running one to the front.\n"
                           "/auto as the first argument starts it as the autostart entry does."));
        // The toolkit's options are single-dash words (-display, -platform): read as one name each, not as letters.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({help, version, play, playFile, stopAll, volume, diagnostics});
        parser.addPositionalArgument(QStringLiteral("/auto"), QStringLiteral("Start as the autostart entry does."),
                                     QStringLiteral("[/auto]"));
    }
};

} // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine result;
    result.autoStart = isAutoStartArgument(arguments);
    result.diagnostics = arguments.contains(QLatin1String("--diagnostics"), Qt::CaseInsensitive);

    Parser parser;
    // QCommandLineParser reads the first entry as the program's name.
    const bool parsed = parser.parser.parse(QStringList{QStringLiteral("clavora")} + arguments);
    result.unknownOptions = parser.parser.unknownOptionNames();
    result.help = parser.parser.isSet(parser.help);
    result.version = parser.parser.isSet(parser.version);
    result.stopAll = parser.parser.isSet(parser.stopAll);
    result.playKeys = parser.parser.values(parser.play);
    for (const QString& file : parser.parser.values(parser.playFile)) {
        result.playFiles << (file.isEmpty() ? file : QFileInfo(file).absoluteFilePath());
    }
    if (parser.parser.isSet(parser.volume)) {
        const QStringList values = parser.parser.values(parser.volume);
        bool number = false;
        const uint step = values.last().toUInt(&number);
        if (number && step <= platform::MaxRemoteVolume) {
            result.volume = step;
        } else {
            result.error = QStringLiteral("The volume must be a whole number from 0 to %1, not \"%2\".")
                               .arg(platform::MaxRemoteVolume)
                               .arg(values.last());
        }
    }
    for (const QString& key : std::as_const(result.playKeys)) {
        if (key.isEmpty()) {
            result.error = QStringLiteral("--play needs a key name, such as F5.");
        }
    }
    for (const QString& file : std::as_const(result.playFiles)) {
        if (file.isEmpty()) {
            result.error = QStringLiteral("--play-file needs the path of a sound file.");
        }
    }
    if (!parsed && result.unknownOptions.isEmpty()) {
        // A missing value ("--play" at the end) and the like.
        result.error = parser.parser.errorText();
    } else if (!result.unknownOptions.isEmpty() && (result.hasCommands() || result.help || result.version)) {
        result.error = QStringLiteral("Unknown option \"%1\".").arg(result.unknownOptions.first());
    }
    return result;
}

QString commandLineHelp() {
    Parser parser;
    QString text = parser.parser.helpText();
    // The parser names the program by the running executable's file; the command is always this.
    const int usageEnd = text.indexOf(QLatin1Char('\n'));
    text.replace(0, usageEnd, QStringLiteral("Usage: clavora [options] [/auto]"));
    text += QStringLiteral("\nExit status: 0 when done, 1 when no Clavora runs or it could not do what was asked, 2 "
                           "for a wrong command line.\n");
    return text;
}

QString versionText(const QString& productName, const QString& version) {
    return productName + QLatin1Char(' ') + version + QLatin1Char('\n');
}

int sendCommands(const CommandLine& commandLine, platform::IRunningInstance& instance, QString& failure) {
    const auto done = [&failure](const Status& status) {
        if (!status) {
            failure = status.message();
        }
        return bool(status);
    };
    if (commandLine.stopAll && !done(instance.stopAll())) {
        return ExitFailed;
    }
    if (commandLine.volume && !done(instance.setVolume(*commandLine.volume))) {
        return ExitFailed;
    }
    for (const QString& file : commandLine.playFiles) {
        if (!done(instance.playFile(file))) {
            return ExitFailed;
        }
    }
    for (const QString& key : commandLine.playKeys) {
        if (!done(instance.playKey(key))) {
            return ExitFailed;
        }
    }
    return ExitDone;
}

bool runsWithoutWindow(const CommandLine& commandLine) {
    return !commandLine.error.isEmpty() || commandLine.help || commandLine.version || commandLine.hasCommands();
}

int runWithoutWindow(const CommandLine& commandLine, platform::IInstanceBus& bus, const QString& version) {
    if (!commandLine.error.isEmpty()) {
        writeToStream(stderr,
                      QStringLiteral("clavora: %1\nTry \"clavora --help\" for the options.\n").arg(commandLine.error));
        return ExitUsage;
    }
    if (commandLine.help) {
        writeToStream(stdout, commandLineHelp());
        return ExitDone;
    }
    if (commandLine.version) {
        writeToStream(stdout, versionText(BuiltInProductName, version));
        return ExitDone;
    }
    QString failure;
    const std::unique_ptr<platform::IRunningInstance> running = bus.findRunning(&failure);
    const int code = running ? sendCommands(commandLine, *running, failure) : ExitFailed;
    if (code != ExitDone) {
        writeToStream(stderr, QStringLiteral("clavora: %1\n").arg(failure));
    }
    return code;
}

void writeToStream(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace clavora
