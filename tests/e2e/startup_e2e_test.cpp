// The installed program starting for real: its folder layout, its window, the data folder it picks and what it
// does to keys.db and settings.ini on the way.
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");

QByteArray DefaultLine(int n) {
    return "F" + QByteArray::number(n) + "|Sounds\\" + QByteArray::number(n + 10) + ".mp3";
}

class StartupE2E : public ProgramTest {
protected:
    // Starts the program, waits for its window and stops it again.
    void startAndWaitForWindow() {
        ProgramRun run(m_programDir + "/clavora", m_home);
        ASSERT_TRUE(run.start());
        EXPECT_TRUE(run.waitForWindow(Title)) << run.output().toStdString();
        EXPECT_TRUE(run.isRunning());
    }
};

TEST_F(StartupE2E, InstalledFolderStartsWithItsCaptionAndKeepsACompleteKeyMap) {
    const QString installed = m_root.file("installed");
    ASSERT_TRUE(installProgramFolder(installed));
    QStringList expected = {"clavora", "keys.db", "license.txt"};
    for (int n = 11; n <= 22; ++n) {
        expected << QStringLiteral("Sounds/%1.mp3").arg(n);
    }
    for (const QString& file : expected) {
        EXPECT_TRUE(QFileInfo(installed + "/" + file).isFile()) << file.toStdString();
    }
    EXPECT_TRUE(QFileInfo(installed + "/Languages").isDir());

    const QByteArray seed = readBytes(installed + "/keys.db");
    {
        ProgramRun run(installed + "/clavora", m_home);
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.waitForWindow(Title)) << run.output().toStdString();
    }
    // The program folder is writable, so it is the data folder; the seed already holds the defaults.
    EXPECT_EQ(readBytes(installed + "/keys.db"), seed);
    EXPECT_FALSE(QFileInfo::exists(installed + "/chk.tmp"));
    EXPECT_FALSE(QFileInfo::exists(m_home + "/.config/Zemtrak"));
}

TEST_F(StartupE2E, LegacyKeyMapMissingADefaultIsCompletedByteExact) {
    QByteArray legacy = "x|caf\xE9.wav\r\n"; // windows-1252
    for (int n = 1; n <= 12; ++n) {
        if (n != 5) {
            legacy += DefaultLine(n) + "\n";
        }
    }
    writeBytes(m_programDir + "/keys.db", legacy);
    startAndWaitForWindow();

    QByteArray expected = "\xEF\xBB\xBFx|caf\xC3\xA9.wav\r\n";
    for (int n = 1; n <= 12; ++n) {
        if (n != 5) {
            expected += DefaultLine(n) + "\r\n";
        }
    }
    expected += DefaultLine(5) + "\r\n";
    EXPECT_EQ(readBytes(m_programDir + "/keys.db"), expected);
}

TEST_F(StartupE2E, MissingKeyMapIsCreatedWithTheTwelveDefaults) {
    ASSERT_TRUE(QFile::remove(m_programDir + "/keys.db"));
    startAndWaitForWindow();
    QByteArray expected = "\xEF\xBB\xBF";
    for (int n = 1; n <= 12; ++n) {
        expected += DefaultLine(n) + "\r\n";
    }
    EXPECT_EQ(readBytes(m_programDir + "/keys.db"), expected);
}

TEST_F(StartupE2E, BadFilesDoNotStopTheStart) {
    QByteArray noise(64 * 1024, '\0');
    QRandomGenerator generator(42);
    for (char& c : noise) {
        c = static_cast<char>(generator.bounded(256));
    }
    const QByteArray garbage = "\xFF\xFE[Settings\x00\x01=\n==\n[[]]\nHotkeyMode\n" + noise.left(512);

    const struct {
        const char* name;
        QByteArray keys;
    } cases[] = {
        {"random bytes", noise},
        {"one long line with NUL bytes", QByteArray(1024 * 1024, 'a') + QByteArray(3, '\0') + "|x.wav"},
        {"UTF-16 with an odd byte count", QByteArray("\xFF\xFE"
                                                     "a\0|\0x\0",
                                                     9)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(m_programDir + "/keys.db", c.keys);
        writeBytes(m_programDir + "/settings.ini", garbage);
        startAndWaitForWindow();
        // Nothing asked for a rewrite of the settings; the key map only gains what it lacked, at its end.
        EXPECT_EQ(readBytes(m_programDir + "/settings.ini"), garbage);
        EXPECT_TRUE(readBytes(m_programDir + "/keys.db").endsWith(DefaultLine(12) + "\r\n"));
    }
}

// A pipe where a data file belongs used to hold the start forever, waiting for a writer.
TEST_F(StartupE2E, PipesInPlaceOfTheDataFilesDoNotStopTheStart) {
    for (const char* name : {"keys.db", "settings.ini"}) {
        const QByteArray path = QFile::encodeName(m_programDir + "/" + name);
        ::unlink(path.constData());
        ASSERT_EQ(::mkfifo(path.constData(), 0644), 0) << name;
    }
    startAndWaitForWindow();
    // The key map gets the defaults in a regular file; the unreadable settings are deleted and start from defaults.
    EXPECT_TRUE(QFileInfo(m_programDir + "/keys.db").isFile());
    EXPECT_TRUE(readBytes(m_programDir + "/keys.db").endsWith(DefaultLine(12) + "\r\n"));
    EXPECT_FALSE(QFileInfo::exists(m_programDir + "/settings.ini"));
}

// A key map kept elsewhere and linked into the data folder is completed where it lives; the link stays.
TEST_F(StartupE2E, ALinkedKeyMapIsCompletedAtItsTarget) {
    const QString shared = m_root.file("shared/keys.db");
    ASSERT_TRUE(QDir().mkpath(m_root.file("shared")));
    writeBytes(shared, "x|mine.wav\r\n");
    const QString keys = m_programDir + "/keys.db";
    ASSERT_TRUE(QFile::remove(keys));
    ASSERT_EQ(::symlink("../shared/keys.db", QFile::encodeName(keys).constData()), 0);
    startAndWaitForWindow();
    EXPECT_TRUE(QFileInfo(keys).isSymLink());
    const QByteArray completed = readBytes(shared);
    EXPECT_TRUE(completed.startsWith("\xEF\xBB\xBFx|mine.wav\r\n")) << completed.toStdString();
    EXPECT_TRUE(completed.endsWith(DefaultLine(12) + "\r\n")) << completed.toStdString();
}

// The program folder cannot be written: the per-user folder takes the data, and the seed key map is copied there
// unchanged. Run as an unprivileged user, since root may write anywhere.
TEST(StartupUnprivilegedE2E, ReadOnlyProgramFolderPutsTheDataUnderTheUsersConfigFolder) {
    const int nobody = 65534;
    const bool asRoot = ::geteuid() == 0;
    // A folder every user can reach: QTemporaryDir makes private ones.
    const QString root = QDir::tempPath() + QStringLiteral("/clavora-e2e-%1").arg(QCoreApplication::applicationPid());
    QDir(root).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(root));
    ::chmod(QFile::encodeName(root).constData(), 0755);
    const QString programDir = root + "/program";
    const QString home = root + "/home";
    ASSERT_TRUE(copyProgramFolder(programDir));
    ASSERT_TRUE(QDir().mkpath(home + "/runtime"));
    ::chmod(QFile::encodeName(home + "/runtime").constData(), 0700);
    if (asRoot) {
        runCommand("chown", {"-R", QStringLiteral("%1:%1").arg(nobody), home});
    }
    runCommand("chmod", {"-R", "a-w", programDir});

    const QByteArray seed = readBytes(programDir + "/keys.db");
    const QString keys = home + "/.config/Zemtrak/Clavora/keys.db";
    {
        ProgramRun run(programDir + "/clavora", home);
        run.environment().insert("QT_QPA_PLATFORM", "offscreen");
        run.environment().insert("XDG_RUNTIME_DIR", home + "/runtime");
        run.runAsUser(nobody);
        ASSERT_TRUE(run.start());
        EXPECT_TRUE(waitFor([&] { return QFileInfo(keys).size() == seed.size(); }, 20000))
            << run.output().toStdString();
        EXPECT_TRUE(run.isRunning()) << run.output().toStdString();
    }
    EXPECT_EQ(readBytes(keys), seed);
    EXPECT_FALSE(QFileInfo::exists(programDir + "/chk.tmp"));
    EXPECT_FALSE(QFileInfo::exists(programDir + "/settings.ini"));

    runCommand("chmod", {"-R", "u+w", root});
    QDir(root).removeRecursively();
}

} // namespace
