// The command line: what each start is asked to do, and the commands handed to the running instance in order.
#include "app/commandline.h"
#include "platform/instancebus.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace clavora;

namespace {

QStringList split(const char* line) {
    return QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

TEST(CommandLineTest, EachStartReadsWhatItIsAskedToDo) {
    struct Case {
        const char* arguments;
        bool commands; // something for the running instance
        bool help;
        bool version;
        bool autoStart;
        bool diagnostics;
        const char* playKeys; // space-separated
        int volume;           // -1: none
        bool error;
    };
    const Case cases[] = {
        {"", false, false, false, false, false, "", -1, false},
        {"/auto", false, false, false, true, false, "", -1, false},
        {"/AUTO", false, false, false, true, false, "", -1, false},
        // Only the first argument is the autostart entry's.
        {"--diagnostics /auto", false, false, false, false, true, "", -1, false},
        {"/auto --DIAGNOSTICS", false, false, false, true, true, "", -1, false},
        {"--help", false, true, false, false, false, "", -1, false},
        {"-h", false, true, false, false, false, "", -1, false},
        {"--version", false, false, true, false, false, "", -1, false},
        {"--play F5", true, false, false, false, false, "F5", -1, false},
        {"--play=ENTER --play a", true, false, false, false, false, "ENTER a", -1, false},
        {"--volume 0", true, false, false, false, false, "", 0, false},
        {"--volume 8 --play F1", true, false, false, false, false, "F1", 8, false},
        {"--volume 9", false, false, false, false, false, "", -1, true},
        {"--volume -1", false, false, false, false, false, "", -1, true},
        {"--volume loud", false, false, false, false, false, "", -1, true},
        {"--play", false, false, false, false, false, "", -1, true},
        {"--play=", true, false, false, false, false, "", -1, true},
        // With a command, an option the program does not know is a mistake worth saying.
        {"--play F5 --paly F6", true, false, false, false, false, "F5", -1, true},
        // Without one, the toolkit's options come this way and the program starts as it always did.
        {"-platform offscreen", false, false, false, false, false, "", -1, false},
        {"-reverse /auto", false, false, false, false, false, "", -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CommandLine line = parseCommandLine(split(c.arguments));
        EXPECT_EQ(line.hasCommands(), c.commands);
        EXPECT_EQ(line.help, c.help);
        EXPECT_EQ(line.version, c.version);
        EXPECT_EQ(line.autoStart, c.autoStart);
        EXPECT_EQ(line.diagnostics, c.diagnostics);
        if (!c.error) {
            EXPECT_EQ(line.playKeys, split(c.playKeys));
        }
        EXPECT_EQ(line.volume ? int(*line.volume) : -1, c.volume);
        EXPECT_EQ(!line.error.isEmpty(), c.error) << line.error.toStdString();
    }
}

TEST(CommandLineTest, AFileToPlayIsNamedByItsAbsolutePath) {
    const CommandLine line = parseCommandLine(
        {QStringLiteral("--play-file"), QStringLiteral("Sounds/bell.wav"), QStringLiteral("--play-file=/tmp/x y.mp3")});
    EXPECT_EQ(line.playFiles, (QStringList{QDir::current().absoluteFilePath(QStringLiteral("Sounds/bell.wav")),
                                           QStringLiteral("/tmp/x y.mp3")}));
    EXPECT_TRUE(line.hasCommands());
}

TEST(CommandLineTest, TheHelpNamesEveryCommand) {
    const QString help = commandLineHelp();
    EXPECT_TRUE(help.startsWith(QLatin1String("Usage: clavora ")));
    for (const char* option : {"--help", "--version", "--play <KEY>", "--play-file <PATH>", "--stop-all",
                               "--volume <STEP>", "--diagnostics", "/auto"}) {
        EXPECT_TRUE(help.contains(QLatin1String(option))) << option;
    }
}

// Records the calls and fails the one it is told to.
class RecordingInstance : public platform::IRunningInstance {
public:
    Status activate() override { return record(QStringLiteral("activate")); }
    Status playKey(const QString& keyName) override { return record(QStringLiteral("key ") + keyName); }
    Status playFile(const QString& path) override { return record(QStringLiteral("file ") + path); }
    Status stopAll() override { return record(QStringLiteral("stop")); }
    Status setVolume(unsigned step) override { return record(QStringLiteral("volume %1").arg(step)); }

    QStringList calls;
    QString failing;

private:
    Status record(const QString& call) {
        calls << call;
        return call == failing ? Status::failure(QStringLiteral("refused: ") + call) : Status::success();
    }
};

TEST(CommandLineTest, CommandsGoToTheRunningInstanceInOrderUntilOneFails) {
    const CommandLine line = parseCommandLine(split("--play F1 --play-file /a.wav --volume 3 --stop-all --play F2"));
    RecordingInstance instance;
    QString failure;
    EXPECT_EQ(sendCommands(line, instance, failure), ExitDone);
    EXPECT_EQ(instance.calls,
              (QStringList{QStringLiteral("stop"), QStringLiteral("volume 3"), QStringLiteral("file /a.wav"),
                           QStringLiteral("key F1"), QStringLiteral("key F2")}));
    EXPECT_TRUE(failure.isEmpty());

    RecordingInstance refusing;
    refusing.failing = QStringLiteral("key F1");
    EXPECT_EQ(sendCommands(line, refusing, failure), ExitFailed);
    EXPECT_EQ(refusing.calls.last(), QStringLiteral("key F1"));
    EXPECT_EQ(failure, QStringLiteral("refused: key F1"));
}

} // namespace
