// The command line: what a start of the program is asked to do. A start that carries a command (--play, --stop-all...)
// hands it to the running instance and ends; one that carries none runs the program, or brings the running one to
// the front.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace clavora {

namespace platform {
class IInstanceBus;
class IRunningInstance;
} // namespace platform

struct CommandLine {
    bool help = false;
    bool version = false;
    // With --diagnostics (any letter case, anywhere): the audio output's report on the standard output.
    bool diagnostics = false;
    // "/auto" as the first argument, in any letter case: the start of the autostart entry.
    bool autoStart = false;
    // The commands for the running instance, done in this order: stop, volume, files, keys.
    bool stopAll = false;
    std::optional<unsigned> volume;
    QStringList playFiles; // absolute, made so against the working folder of this start
    QStringList playKeys;
    // What was wrong with the command line, for the user; empty when nothing was.
    QString error;
    // Options the program does not know (a start without commands runs all the same: the toolkit's own options, such
    // as -display or -platform, come this way).
    QStringList unknownOptions;

    bool hasCommands() const { return stopAll || volume || !playFiles.isEmpty() || !playKeys.isEmpty(); }
};

// Reads Arguments (without the program name). A command with an unknown option, or a bad value, is an error.
CommandLine parseCommandLine(const QStringList& arguments);

// The text of --help.
QString commandLineHelp();
// The text of --version: the product and its version.
QString versionText(const QString& productName, const QString& version);

// Exit codes of a start that hands commands over, or fails to.
inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1; // no instance runs, or it could not do what was asked
inline constexpr int ExitUsage = 2;  // the command line itself is wrong

// Hands the commands of CommandLine to Instance, in order, stopping at the first that fails; its message is added to
// Failure. Returns ExitDone or ExitFailed.
int sendCommands(const CommandLine& commandLine, platform::IRunningInstance& instance, QString& failure);

// Whether a start with this command line is done without a window: --help, --version, a command for the running
// instance, or a mistake in the command line.
bool runsWithoutWindow(const CommandLine& commandLine);

// Does what a start without a window is asked (see runsWithoutWindow): prints the help, the version ("major.minor")
// or the mistake, or hands the commands to the instance Bus finds. Needs an application object. Returns the exit code.
int runWithoutWindow(const CommandLine& commandLine, platform::IInstanceBus& bus, const QString& version);

// Text on a standard stream (stdout, stderr), in the locale's encoding, at once.
void writeToStream(std::FILE* stream, const QString& text);

} // namespace clavora
