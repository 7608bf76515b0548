// The Linux implementations of the file, locale, autostart and process services.
#include "platform/posix/desktopentry.h"
#include "platform/posix/linuxautostart.h"
#include "platform/posix/linuxfilesystem.h"
#include "platform/posix/linuxlocale.h"
#include "platform/posix/linuxprocess.h"
#include "platform/posix/linuxsysteminfo.h"
#include "platform/posix/linuxthreadpriority.h"
#include "tests/support/platformtest.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <atomic>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace clavora;
using namespace clavora::platform;

namespace {

using test::ScopedEnvironment;

// Runs Step as an ordinary user, for whom folder permissions count (they do not for root): in-process when the test
// is not root, else in a child process that gives up root first. True when Step returned true.
bool runUnprivileged(const std::function<bool()>& step) {
    if (::geteuid() != 0) {
        return step();
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const bool ok = ::setgid(65534) == 0 && ::setuid(65534) == 0 && step();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

TEST(LinuxLocaleTest, CodePagesAndLanguageIdentifiersFollowTheLocaleName) {
    const struct {
        const char* locale;
        int codePage;
        quint16 languageId;
    } cases[] = {
        {"en_US", 1252, 1033}, {"de_DE", 1252, 1031}, {"fr_CA", 1252, 3084}, {"ru_RU", 1251, 1049},
        {"tr_TR", 1254, 1055}, {"pl_PL", 1250, 1045}, {"el_GR", 1253, 1032}, {"ja_JP", 932, 1041},
        {"zh_CN", 936, 2052},  {"zh_TW", 950, 1028},  {"ko_KR", 949, 1042},  {"pt_BR", 1252, 1046},
        {"uk_UA", 1251, 1058}, {"xx_YY", 1252, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        EXPECT_EQ(ansiCodePageForLocale(c.locale), c.codePage);
        EXPECT_EQ(languageIdForLocale(c.locale), c.languageId);
    }
}

TEST(LinuxLocaleTest, VariablesAreTakenInThePosixOrder) {
    ScopedEnvironment env;
    env.set("LANGUAGE", QByteArray());
    env.set("LC_ALL", QByteArray());
    env.set("LC_MESSAGES", QByteArray());
    env.set("LC_NUMERIC", "de_DE.UTF-8");
    env.set("LC_CTYPE", QByteArray());
    env.set("LANG", "ru_RU.UTF-8");
    LinuxLocale locale;
    EXPECT_EQ(locale.decimalSeparator(), QChar(','));
    EXPECT_EQ(locale.ansiCodePage(), 1251);
    EXPECT_EQ(locale.uiLanguageId(), 1049);

    env.set("LANGUAGE", "fr_FR:de_DE");
    EXPECT_EQ(locale.uiLanguageId(), 1036);

    env.set("LC_ALL", "C");
    env.set("LANGUAGE", QByteArray());
    env.set("LANG", "C.UTF-8");
    env.set("LC_NUMERIC", QByteArray());
    EXPECT_EQ(locale.decimalSeparator(), QChar('.'));
    EXPECT_EQ(locale.uiLanguageId(), 1033); // none found
    EXPECT_EQ(locale.ansiCodePage(), 1252);
}

// The first variable set decides, and C (or POSIX) set there is English and untranslated: it does not fall through to
// LANG, and LANGUAGE then chooses nothing, as with gettext.
TEST(LinuxLocaleTest, TheCLocaleMeansEnglishAndStopsTheSearch) {
    const struct {
        const char* language;
        const char* all;
        const char* messages;
        const char* numeric;
        const char* lang;
        quint16 uiLanguage;
        const char* tag;
    } cases[] = {
        {"", "C", "", "", "de_DE.UTF-8", 1033, "en-US"},
        {"", "POSIX", "", "", "de_DE.UTF-8", 1033, "en-US"},
        {"", "", "C", "", "de_DE.UTF-8", 1033, "de-DE"},
        {"", "", "C.UTF-8", "", "fr_FR.UTF-8", 1033, "fr-FR"},
        {"de_DE", "", "", "", "C.UTF-8", 1033, "en-US"},
        {"de_DE", "", "", "", "", 1033, "en-US"},
        {"de_DE:fr_FR", "", "", "", "ru_RU.UTF-8", 1031, "ru-RU"},
        {"", "", "", "pt_BR.UTF-8", "ru_RU.UTF-8", 1049, "pt-BR"},
        {"", "", "", "", "", 1033, "en-US"},
        {"", "tr_TR.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8", "ru_RU.UTF-8", 1055, "tr-TR"},
    };
    ScopedEnvironment env;
    env.set("LC_TIME", QByteArray());
    LinuxLocale locale;
    for (const auto& c : cases) {
        env.set("LANGUAGE", c.language);
        env.set("LC_ALL", c.all);
        env.set("LC_MESSAGES", c.messages);
        env.set("LC_NUMERIC", c.numeric);
        env.set("LANG", c.lang);
        const std::string where = std::string("LANGUAGE=") + c.language + " LC_ALL=" + c.all +
                                  " LC_MESSAGES=" + c.messages + " LC_NUMERIC=" + c.numeric + " LANG=" + c.lang;
        EXPECT_EQ(locale.uiLanguageId(), c.uiLanguage) << where;
        EXPECT_EQ(locale.formatLocaleTag(), QString::fromLatin1(c.tag)) << where;
    }
}

TEST(LinuxFileSystemTest, ExclusiveCreateCopyAndSafeReplace) {
    test::TempFolder folder;
    LinuxFileSystem fs;

    EXPECT_TRUE(fs.createAndRemoveExclusive(folder.file("chk.tmp")));
    EXPECT_FALSE(QFileInfo::exists(folder.file("chk.tmp")));
    test::writeBytes(folder.file("chk.tmp"), "x");
    EXPECT_FALSE(fs.createAndRemoveExclusive(folder.file("chk.tmp")));
    EXPECT_TRUE(QFileInfo::exists(folder.file("chk.tmp")));

    test::writeBytes(folder.file("a"), "first");
    test::writeBytes(folder.file("b"), "second");
    EXPECT_FALSE(fs.copyFileNoOverwrite(folder.file("a"), folder.file("b")));
    EXPECT_EQ(test::readBytes(folder.file("b")), "second");
    EXPECT_TRUE(fs.copyFileNoOverwrite(folder.file("a"), folder.file("c")));
    EXPECT_EQ(test::readBytes(folder.file("c")), "first");
    EXPECT_FALSE(fs.copyFileNoOverwrite(folder.file("missing"), folder.file("d")));
    EXPECT_FALSE(QFileInfo::exists(folder.file("d")));

    EXPECT_TRUE(fs.writeFileReplacing(folder.file("a"), "replaced").ok());
    EXPECT_EQ(test::readBytes(folder.file("a")), "replaced");
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 4); // no temporary file left

    // A read-only file keeps its bytes, even for root, and the message names the file and the reason.
    QFile::setPermissions(folder.file("b"), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    const Status refused = fs.writeFileReplacing(folder.file("b"), "new");
    EXPECT_FALSE(refused.ok());
    EXPECT_TRUE(refused.message().contains(folder.file("b"))) << refused.message().toStdString();
    EXPECT_TRUE(refused.message().contains("Permission denied")) << refused.message().toStdString();
    EXPECT_EQ(test::readBytes(folder.file("b")), "second");

    const Status noFolder = fs.writeFileReplacing(folder.file("none/x"), "new");
    EXPECT_FALSE(noFolder.ok());
    EXPECT_TRUE(noFolder.message().contains("No such file or directory")) << noFolder.message().toStdString();
}

TEST(LinuxFileSystemTest, AFailureJustBeforeTheRenameKeepsTheOldFileAndLeavesNoTemporaryFile) {
    test::TempFolder folder;
    const QString file = folder.file("keys.db");
    test::writeBytes(file, "old bytes");
    LinuxFileSystem fs;
    QString temporary;
    fs.setBeforeRenameHook([&](const QString& path) {
        temporary = path;
        EXPECT_EQ(test::readBytes(path), "new bytes"); // the failure comes after the new bytes are on disk
        return ENOSPC;
    });
    const Status status = fs.writeFileReplacing(file, "new bytes");
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(file)) << status.message().toStdString();
    EXPECT_TRUE(status.message().contains("No space left on device")) << status.message().toStdString();
    EXPECT_EQ(test::readBytes(file), "old bytes");
    EXPECT_FALSE(temporary.isEmpty());
    EXPECT_EQ(entriesOf(folder.path()), QStringList{"keys.db"});

    fs.setBeforeRenameHook({});
    EXPECT_TRUE(fs.writeFileReplacing(file, "new bytes").ok());
    EXPECT_EQ(test::readBytes(file), "new bytes");
}

TEST(LinuxFileSystemTest, ReplacingALinkWritesItsTargetAndKeepsTheLink) {
    test::TempFolder root;
    ASSERT_TRUE(QDir().mkpath(root.file("data")));
    ASSERT_TRUE(QDir().mkpath(root.file("shared")));
    test::writeBytes(root.file("shared/keys.db"), "old keys");
    const struct {
        const char* link;
        QString target; // as stored in the link
        QString written;
    } cases[] = {
        {"data/keys.db", "../shared/keys.db", root.file("shared/keys.db")}, // relative, existing target
        {"data/settings.ini", root.file("shared/settings.ini"), root.file("shared/settings.ini")}, // absolute, new
        {"data/chain", "keys.db", root.file("shared/keys.db")},                                    // a link to a link
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        const QString link = root.file(c.link);
        ASSERT_EQ(::symlink(QFile::encodeName(c.target).constData(), QFile::encodeName(link).constData()), 0);
        LinuxFileSystem fs;
        const Status status = fs.writeFileReplacing(link, QByteArray("written through ") + c.link);
        ASSERT_TRUE(status.ok()) << status.message().toStdString();
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        EXPECT_EQ(QFileInfo(link).canonicalFilePath(), QFileInfo(c.written).canonicalFilePath());
        EXPECT_EQ(test::readBytes(c.written), QByteArray("written through ") + c.link);
    }
    EXPECT_EQ(entriesOf(root.file("data")), (QStringList{"chain", "keys.db", "settings.ini"}));
    EXPECT_EQ(entriesOf(root.file("shared")), (QStringList{"keys.db", "settings.ini"}));
}

TEST(LinuxFileSystemTest, AWritableFileInAReadOnlyFolderIsWrittenInPlace) {
    test::TempFolder root;
    const QString folder = root.file("locked");
    const QString file = folder + "/settings.ini";
    const QString readOnly = folder + "/keys.db";
    ASSERT_TRUE(QDir().mkpath(folder));
    test::writeBytes(file, "[Settings]\nHotkeyMode=OFF\nMatrixDisplay=OFF\n");
    test::writeBytes(readOnly, "F1|a.mp3\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(root.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0666), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);

    const bool shorter =
        runUnprivileged([&] { return LinuxFileSystem().writeFileReplacing(file, "[Settings]\n").ok(); });
    const QByteArray afterShorter = test::readBytes(file);
    const QByteArray longer = "[Settings]\n" + QByteArray(100000, 'x') + "\n";
    const bool grown = runUnprivileged([&] { return LinuxFileSystem().writeFileReplacing(file, longer).ok(); });
    const bool newFileRefused =
        runUnprivileged([&] { return !LinuxFileSystem().writeFileReplacing(folder + "/new.ini", "x").ok(); });
    const bool readOnlyRefused =
        runUnprivileged([&] { return !LinuxFileSystem().writeFileReplacing(readOnly, "changed").ok(); });
    ::chmod(QFile::encodeName(folder).constData(), 0755);

    EXPECT_TRUE(shorter);
    EXPECT_EQ(afterShorter, "[Settings]\n"); // cut to the new length, nothing of the old tail left
    EXPECT_TRUE(grown);
    EXPECT_EQ(test::readBytes(file), longer);
    EXPECT_TRUE(newFileRefused);
    EXPECT_TRUE(readOnlyRefused);
    EXPECT_EQ(test::readBytes(readOnly), "F1|a.mp3\r\n");
    EXPECT_EQ(entriesOf(folder), (QStringList{"keys.db", "settings.ini"}));
}

// A FIFO or a device where a data file belongs used to stop start-up for good: opening it waits for a writer.
TEST(LinuxFileSystemTest, OnlyRegularFilesAreReadOrCopied) {
    test::TempFolder folder;
    const QString fifo = folder.file("keys.db");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    LinuxFileSystem fs;
    QElapsedTimer clock;
    clock.start();
    for (const QString& path : {fifo, QStringLiteral("/dev/zero"), folder.path()}) {
        SCOPED_TRACE(path.toStdString());
        QByteArray contents = "untouched";
        const Status status = fs.readFile(path, contents);
        EXPECT_FALSE(status.ok());
        EXPECT_TRUE(status.message().contains(path)) << status.message().toStdString();
        EXPECT_EQ(contents, "untouched");
        EXPECT_FALSE(fs.openForReading(path).file);
    }
    EXPECT_EQ(fs.openForReading(fifo).error, FileMapping::NotRegularFile);
    EXPECT_EQ(fs.openForReading(QStringLiteral("/dev/zero")).error, FileMapping::NotRegularFile);
    EXPECT_EQ(fs.openForReading(folder.path()).error, EISDIR);
    EXPECT_EQ(fs.openForReading(folder.file("missing")).error, ENOENT);
    QByteArray ignored;
    EXPECT_TRUE(fs.readFile(fifo, ignored).message().contains("not a regular file"));
    EXPECT_FALSE(fs.copyFileNoOverwrite(fifo, folder.file("copy")));
    EXPECT_FALSE(QFileInfo::exists(folder.file("copy")));
    EXPECT_LT(clock.elapsed(), 5000);
}

// A file opened for reading, as the decoder reads a sound: the bytes in order, a position that moves from either end,
// the size; through a link as well.
TEST(LinuxFileSystemTest, AnOpenedFileReadsSeeksAndTellsItsSize) {
    test::TempFolder folder;
    const QString path = folder.file("sound.bin");
    test::writeBytes(path, "0123456789");
    const QString link = folder.file("link.bin");
    ASSERT_TRUE(QFile::link(path, link));
    LinuxFileSystem fs;
    for (const QString& name : {path, link}) {
        SCOPED_TRACE(name.toStdString());
        OpenedFile opened = fs.openForReading(name);
        ASSERT_TRUE(opened.file);
        ReadableFile& file = *opened.file;
        char bytes[16] = {};
        EXPECT_EQ(file.read(bytes, 4), 4);
        EXPECT_EQ(QByteArray(bytes, 4), "0123");
        EXPECT_EQ(file.seek(-3, ReadableFile::From::End), 7);
        EXPECT_EQ(file.read(bytes, sizeof bytes), 3);
        EXPECT_EQ(QByteArray(bytes, 3), "789");
        EXPECT_EQ(file.read(bytes, sizeof bytes), 0) << "the end";
        EXPECT_EQ(file.seek(2, ReadableFile::From::Start), 2);
        EXPECT_EQ(file.seek(1, ReadableFile::From::Current), 3);
        EXPECT_EQ(file.read(bytes, 1), 1);
        EXPECT_EQ(bytes[0], '3');
        EXPECT_EQ(file.size(), 10);
        EXPECT_LT(file.seek(-1, ReadableFile::From::Start), 0) << "before the start";
    }
}

// A file beyond the reader's bound is refused whole, whether its size says so or only its bytes do (the kernel's own
// files say 0); up to the bound it is read whole.
TEST(LinuxFileSystemTest, AFileBeyondTheBoundIsRefused) {
    test::TempFolder folder;
    const QString file = folder.file("keys.db");
    test::writeBytes(file, QByteArray(100, 'k'));
    ASSERT_EQ(::symlink("keys.db", QFile::encodeName(folder.file("link")).constData()), 0);
    QByteArray maps;
    ASSERT_TRUE(LinuxFileSystem().readFile(QStringLiteral("/proc/self/maps"), maps).ok());
    ASSERT_GT(maps.size(), 100);
    const struct {
        QString path;
        qint64 bound;
        bool read;
    } cases[] = {
        {file, 100, true},
        {file, 99, false},
        {folder.file("link"), 99, false},
        {QStringLiteral("/proc/self/maps"), 100, false},
    };
    LinuxFileSystem fs;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString() + " within " + std::to_string(c.bound));
        QByteArray contents = "untouched";
        const Status status = fs.readFile(c.path, contents, c.bound);
        EXPECT_EQ(status.ok(), c.read) << status.message().toStdString();
        if (c.read) {
            EXPECT_EQ(contents, QByteArray(100, 'k'));
        } else {
            EXPECT_EQ(contents, "untouched");
            EXPECT_TRUE(status.message().contains(c.path)) << status.message().toStdString();
            EXPECT_TRUE(status.message().contains("larger than")) << status.message().toStdString();
        }
    }
}

TEST(LinuxFileSystemTest, FileKindTellsWhatIsThere) {
    test::TempFolder folder;
    test::writeBytes(folder.file("file"), "x");
    ASSERT_TRUE(QDir().mkpath(folder.file("folder")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.file("fifo")).constData(), 0644), 0);
    ASSERT_EQ(::symlink("file", QFile::encodeName(folder.file("link")).constData()), 0);
    ASSERT_EQ(::symlink("folder", QFile::encodeName(folder.file("folderlink")).constData()), 0);
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(folder.file("dangling")).constData()), 0);
    ASSERT_EQ(::symlink("loop", QFile::encodeName(folder.file("loop")).constData()), 0);
    const struct {
        QString path;
        FileKind kind;
    } cases[] = {
        {folder.file("missing"), FileKind::Missing}, {folder.file("file/below"), FileKind::Missing},
        {folder.file("file"), FileKind::Regular},    {folder.file("link"), FileKind::Regular},
        {folder.file("folder"), FileKind::Folder},   {folder.file("folderlink"), FileKind::Folder},
        {folder.file("fifo"), FileKind::Other},      {folder.file("dangling"), FileKind::DanglingLink},
        {folder.file("loop"), FileKind::Other},      {QStringLiteral("/dev/null"), FileKind::Other},
    };
    LinuxFileSystem fs;
    for (const auto& c : cases) {
        EXPECT_EQ(fs.fileKind(c.path), c.kind) << c.path.toStdString();
        EXPECT_EQ(fs.fileExists(c.path), c.kind == FileKind::Regular) << c.path.toStdString();
    }
}

TEST(LinuxFileSystemTest, PerUserFoldersFollowTheXdgVariables) {
    ScopedEnvironment env;
    env.set("HOME", "/home/someone");
    env.set("XDG_CONFIG_HOME", QByteArray());
    env.set("XDG_STATE_HOME", "relative/is/ignored");
    LinuxFileSystem fs;
    EXPECT_EQ(fs.userConfigFolder(), "/home/someone/.config");
    EXPECT_EQ(fs.userStateFolder(), "/home/someone/.local/state");
    env.set("XDG_CONFIG_HOME", "/elsewhere/config/");
    EXPECT_EQ(fs.userConfigFolder(), "/elsewhere/config");
    env.set("XDG_CONFIG_HOME", QByteArray());
    env.set("HOME", QByteArray());
    EXPECT_EQ(fs.userConfigFolder(), QString());
    EXPECT_TRUE(QFileInfo(fs.programFilePath()).isAbsolute());
}

// The entry goes under the configuration folder the file system service names; the fakes put it in the test's own.
using LinuxAutostartTest = test::PlatformTest;

TEST_F(LinuxAutostartTest, EntryIsADesktopFileThatStartsTheProgramWithAuto) {
    LinuxAutostart autostart(m_files);

    EXPECT_EQ(autostart.readEntry("Zemtrak - Clavora"), QString());
    ASSERT_TRUE(autostart.writeEntry("Zemtrak - Clavora", "/opt/my \"apps\"/clavora", "/auto").ok());
    const QString file = m_files.configFolder + "/autostart/Zemtrak - Clavora.desktop";
    EXPECT_EQ(test::readBytes(file), "[Desktop Entry]\nType=Application\nName=Zemtrak - Clavora\n"
                                     "TryExec=/opt/my \"apps\"/clavora\n"
                                     "Exec=\"/opt/my \\\\\"apps\\\\\"/clavora\" \"/auto\"\n"
                                     "Icon=com.zemtrak.clavora\nTerminal=false\n"
                                     "X-GNOME-Autostart-enabled=true\n");
    EXPECT_FALSE(autostart.readEntry("Zemtrak - Clavora").isEmpty());
    // What the desktop's own parser makes of it.
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start("desktop-file-validate", {file});
    ASSERT_TRUE(validate.waitForFinished(60000));
    EXPECT_EQ(validate.exitCode(), 0);
    EXPECT_EQ(validate.readAll(), QByteArray());

    EXPECT_TRUE(autostart.removeEntry("Zemtrak - Clavora").ok());
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(autostart.readEntry("Zemtrak - Clavora"), QString());
    EXPECT_TRUE(autostart.removeEntry("Zemtrak - Clavora").ok()); // already gone: no failure
}

// The desktop's session settings switch an entry off without removing it; such an entry is no autostart.
TEST_F(LinuxAutostartTest, AnEntryTheDesktopDisabledReadsAsOff) {
    const struct {
        const char* extra;
        bool on;
    } cases[] = {
        {"", true},
        {"Hidden=false\n", true},
        {"Hidden=true\n", false},
        {"Hidden = true\n", false},
        {"X-GNOME-Autostart-enabled=false\n", false},
        {"X-GNOME-Autostart-enabled=true\n", true},
        // Keys of another group are not the entry's.
        {"[Desktop Action Off]\nHidden=true\n", true},
    };
    LinuxAutostart autostart(m_files);
    const QString file = m_files.configFolder + "/autostart/Zemtrak - Clavora.desktop";
    QDir().mkpath(QFileInfo(file).absolutePath());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extra);
        test::writeBytes(file, QByteArray("[Desktop Entry]\nType=Application\nExec=\"/opt/clavora/clavora\" /auto\n") +
                                   c.extra);
        EXPECT_EQ(!autostart.readEntry("Zemtrak - Clavora").isEmpty(), c.on);
    }
}

// A line break in the program's path would end the Exec key and could start another: no entry is written, and the
// message says why.
TEST_F(LinuxAutostartTest, APathThatCannotBeQuotedSafelyIsRefusedWithAMessage) {
    LinuxAutostart autostart(m_files);
    for (const QString& path : {QStringLiteral("/home/me/x\nExec=evil/clavora"), QStringLiteral("/home/me/x\r/clavora"),
                                QStringLiteral("/home/me/bad\uFFFDname/clavora")}) {
        const Status written = autostart.writeEntry("Zemtrak - Clavora", path, "/auto");
        EXPECT_FALSE(written.ok());
        EXPECT_TRUE(written.message().contains("line break")) << written.message().toStdString();
        EXPECT_FALSE(written.message().contains('\n'));
        EXPECT_FALSE(QFileInfo::exists(m_files.configFolder + "/autostart/Zemtrak - Clavora.desktop"));
    }
}

// The entry is read at start-up: a pipe in its place used to stop the program there, a link to a device to fill its
// memory. Whatever is not a regular file of entry size reads as no entry, at once.
TEST(LinuxAutostartFilesTest, WhatIsNoEntryFileReadsAsNoEntry) {
    test::TempFolder folder;
    ScopedEnvironment env("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));
    ASSERT_TRUE(QDir().mkpath(folder.file("autostart")));
    const QByteArray entry = "[Desktop Entry]\nType=Application\nExec=\"/opt/clavora/clavora\" /auto\n";
    const QString file = folder.file("autostart/Zemtrak - Clavora.desktop");
    const QByteArray path = QFile::encodeName(file);
    const struct {
        const char* name;
        std::function<void()> make;
    } cases[] = {
        {"pipe", [&] { ASSERT_EQ(::mkfifo(path.constData(), 0644), 0); }},
        {"link to /dev/zero", [&] { ASSERT_EQ(::symlink("/dev/zero", path.constData()), 0); }},
        {"folder", [&] { ASSERT_EQ(::mkdir(path.constData(), 0755), 0); }},
        {"a valid entry with a megabyte after it", [&] { test::writeBytes(file, entry + QByteArray(1 << 20, '#')); }},
    };
    LinuxFileSystem files;
    LinuxAutostart autostart(files);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(path.constData());
        ::rmdir(path.constData());
        c.make();
        EXPECT_EQ(autostart.readEntry("Zemtrak - Clavora"), QString());
    }
    // The same entry on its own is read.
    ::rmdir(path.constData());
    test::writeBytes(file, entry);
    EXPECT_EQ(autostart.readEntry("Zemtrak - Clavora"), QStringLiteral("\"/opt/clavora/clavora\" /auto"));
}

TEST(DesktopEntryTest, ValuesAreEscapedForTheirTypeAndReadBackAsWritten) {
    const struct {
        QString value;
        const char* written;
    } strings[] = {
        {"plain", "plain"},          {" leading space", "\\sleading space"}, {"back\\slash", "back\\\\slash"},
        {"tab\there", "tab\\there"}, {"two\nlines", "two\\nlines"},
    };
    for (const auto& c : strings) {
        SCOPED_TRACE(c.written);
        EXPECT_EQ(escapeDesktopEntryString(c.value), QString::fromUtf8(c.written));
        DesktopEntryWriter entry;
        ASSERT_TRUE(entry.setString("Name", c.value));
        EXPECT_EQ(readDesktopEntryGroup(entry.text()).value("Name"), c.value);
    }

    const struct {
        QString argument;
        const char* quoted;
    } arguments[] = {
        {"/opt/clavora/clavora", "\"/opt/clavora/clavora\""},
        {"/a b/$HOME/`x`", "\"/a b/\\\\$HOME/\\\\`x\\\\`\""},
        {"/a\\b", "\"/a\\\\\\\\b\""},
        {"/100%/x", "\"/100%%/x\""},
    };
    for (const auto& c : arguments) {
        SCOPED_TRACE(c.quoted);
        EXPECT_EQ(quoteExecArgument(c.argument).value_or("(refused)"), QString::fromUtf8(c.quoted));
    }
    EXPECT_FALSE(quoteExecArgument("a\nb"));
    DesktopEntryWriter entry;
    EXPECT_FALSE(entry.setString("Name", "a\x01b"));
    EXPECT_FALSE(entry.setCommand("Exec", {"/ok", "a\tb"}));
    EXPECT_EQ(entry.text(), "[Desktop Entry]\n");
}

TEST(LinuxProcessTest, TheNamedMutexIsALockFileHeldWhileAnyHolderLives) {
    test::TempFolder runtime;
    ScopedEnvironment env;
    env.set("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QByteArray lockFile = QFile::encodeName(runtime.file("ZEMTRAK_Clavora_test.lock"));
    // Whether another process could take the lock for itself right now: an exclusive lock on a descriptor of our own.
    auto nobodyHoldsIt = [&] {
        const int fd = ::open(lockFile.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            ADD_FAILURE() << "no lock file";
            return false;
        }
        const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        ::close(fd);
        return free;
    };

    LinuxProcess process;
    auto first = process.createNamedMutex("ZEMTRAK_Clavora_test");
    ASSERT_NE(first, nullptr);
    auto second = process.createNamedMutex("ZEMTRAK_Clavora_test"); // never tested: a second holder is welcome
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(QFileInfo::exists(QFile::decodeName(lockFile)));
    EXPECT_FALSE(nobodyHoldsIt());
    first.reset();
    EXPECT_FALSE(nobodyHoldsIt());
    second.reset();
    EXPECT_TRUE(nobodyHoldsIt());
}

// Whatever the machine grants (root, RLIMIT_RTPRIO, rtkit or nothing at all), the outcome reported is the one the
// thread really has, and the thread runs on. Each request runs on a thread of its own, so the test's thread keeps
// its priority.
TEST(LinuxThreadPriorityTest, TheReportedOutcomeIsTheThreadsRealScheduling) {
    for (int realTimePriority : {5, 0}) {
        PriorityResult result;
        int policy = -1;
        int nice = 0;
        std::thread worker([&] {
            result = LinuxThreadPriority().raiseCurrentThread("test worker", realTimePriority);
            sched_param parameter{};
            pthread_getschedparam(pthread_self(), &policy, &parameter);
            nice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
        });
        worker.join();
        const bool realTime = policy == SCHED_FIFO || policy == SCHED_RR;
        EXPECT_EQ(result.outcome == PriorityOutcome::RealTime, realTime) << result.detail.toStdString();
        EXPECT_EQ(result.outcome == PriorityOutcome::Raised, !realTime && nice < 0) << result.detail.toStdString();
        EXPECT_FALSE(result.detail.isEmpty());
        if (realTimePriority == 0) {
            EXPECT_NE(result.outcome, PriorityOutcome::RealTime) << "real time was not asked for";
        }
    }
}

TEST(LinuxSystemInfoTest, ThreadsThatFillEveryProcessorShowInTheLoad) {
    LinuxSystemInfo system;
    const ProcessorLoad before = system.processorLoad();
    ASSERT_GE(before.processors, 1);
    EXPECT_GE(before.runnable, 1) << "the reader itself runs";
    EXPECT_GE(before.waitingShare, 0.0);
    EXPECT_LE(before.waitingShare, 1.0);

    std::atomic<bool> stop{false};
    std::atomic<int> spinning{0};
    std::vector<std::thread> busy;
    for (int i = 0; i <= before.processors; ++i) {
        busy.emplace_back([&] {
            spinning.fetch_add(1);
            while (!stop.load(std::memory_order_relaxed)) {
            }
        });
    }
    while (spinning.load() <= before.processors) {
        std::this_thread::yield();
    }
    const ProcessorLoad loaded = system.processorLoad();
    // One thread more than processors always waits: the time waited keeps growing while they spin.
    ProcessorLoad later = loaded;
    if (before.waitedUs >= 0) {
        test::waitFor(
            [&] {
                later = system.processorLoad();
                return later.waitedUs - loaded.waitedUs >= 150'000;
            },
            30000);
    } else {
        later = system.processorLoad();
    }
    stop = true;
    for (std::thread& thread : busy) {
        thread.join();
    }
    EXPECT_GE(loaded.runnable, before.processors + 1);
    if (before.waitedUs >= 0) {
        EXPECT_GE(later.waitedUs - loaded.waitedUs, 150'000);
    } else {
        EXPECT_EQ(later.waitedUs, -1) << "the kernel counts no waiting";
    }
}

} // namespace
