// The options store: reading forgiving INI text, names without regard to case, the whole-file written form, and
// opening with delete-and-retry that never rewrites and never stops start-up.
#include "app/settingsstore.h"
#include "platform/fake/fakefilesystem.h"
#ifdef CLAVORA_PLATFORM_LINUX
#include "platform/posix/linuxfilesystem.h"
#endif
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <cerrno>

using namespace clavora;
using clavora::test::readBytes;
using clavora::test::writeBytes;

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_data = FRoot.path() + "/";
        m_ini = m_data + "settings.ini";
    }

    test::TempFolder FRoot;
    platform::FakeFileSystem FFs;
    QString m_data;
    QString m_ini;
};

TEST_F(SettingsStoreTest, ReadsNamesWithoutRegardToCaseAndValuesExactly) {
    writeBytes(m_ini, "\xEF\xBB\xBF"
                      "orphan=before any section\r\n"
                      "[settings]\r\n"
                      "  hotkeymode =  OFF  \r\n"
                      "MinimizeStartup=on\n"
                      "; MatrixDisplay=OFF\n"
                      "a line without equals\n"
                      "=no name\n"
                      "HOTKEYMODE=ON\r"
                      "[Other]\n"
                      "Path=C:\\x=y\n"
                      "[ SETTINGS ]\n"
                      "KeyboardLayout=NumPad\n"
                      "Caf\xC3\xA9=\xC3\xA9t\xC3\xA9\n");
    SettingsStore ini(FFs, m_ini);
    ASSERT_TRUE(ini.load().ok());

    struct Case {
        QString section;
        QString key;
        QString value;
    };
    const Case cases[] = {
        {"Settings", "HotkeyMode", "OFF"}, // the first of two wins
        {"SETTINGS", "minimizestartup", "on"},
        {"Settings", "MatrixDisplay", "default"},
        {"Settings", "KeyboardLayout", "NumPad"}, // a repeated section adds to the first
        {"settings", QStringLiteral("CAFÉ"), QStringLiteral("été")},
        {"other", "path", "C:\\x=y"},
        {"", "orphan", "default"},
        {"Missing", "HotkeyMode", "default"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ini.readString(c.section, c.key, "default"), c.value)
            << c.section.toStdString() << "/" << c.key.toStdString();
    }
    EXPECT_EQ(ini.toBytes(), "[settings]\nhotkeymode=OFF\nMinimizeStartup=on\nKeyboardLayout=NumPad\n"
                             "Caf\xC3\xA9=\xC3\xA9t\xC3\xA9\n\n[Other]\nPath=C:\\x=y\n\n");
}

TEST_F(SettingsStoreTest, WritesTheWholeStoreSectionBySection) {
    SettingsStore ini(FFs, m_ini);
    ini.writeString("Settings", "HotkeyMode", "OFF");
    ini.writeString("Settings", "MatrixDisplay", "ON");
    ini.writeString("Other", "x", "y");
    ini.writeString("SETTINGS", "hotkeymode", "ON"); // replaces, keeps the first spelling
    ini.writeString("Settings", "Gone", "1");
    ini.deleteKey("settings", "GONE");
    ini.deleteKey("Settings", "NeverThere");
    ini.deleteKey("NoSection", "x");
    ini.writeString("Settings", "AllowOverlappingSounds", "OFF");
    EXPECT_EQ(ini.readString("Settings", "Gone", "absent"), "absent");
    ASSERT_TRUE(ini.updateFile().ok());
    EXPECT_EQ(readBytes(m_ini), "[Settings]\nHotkeyMode=ON\nMatrixDisplay=ON\nAllowOverlappingSounds=OFF\n\n"
                                "[Other]\nx=y\n\n");

    SettingsStore again(FFs, m_ini);
    ASSERT_TRUE(again.load().ok());
    EXPECT_EQ(again.readString("settings", "allowoverlappingsounds", ""), "OFF");
    EXPECT_EQ(again.toBytes(), readBytes(m_ini));
}

TEST_F(SettingsStoreTest, LineBreaksInAValueCannotAddEntries) {
    SettingsStore ini(FFs, m_ini);
    ini.writeString("Settings", "CurrentURL", "http://x\r\n[Settings]\nHotkeyMode=OFF");
    ASSERT_TRUE(ini.updateFile().ok());
    SettingsStore again(FFs, m_ini);
    ASSERT_TRUE(again.load().ok());
    EXPECT_EQ(again.readString("Settings", "HotkeyMode", "absent"), "absent");
    EXPECT_EQ(again.readString("Settings", "CurrentURL", ""), "http://x  [Settings] HotkeyMode=OFF");
}

TEST_F(SettingsStoreTest, MissingFileOpensEmptyAndCreatesNothing) {
    SettingsStore ini = openSettingsStore(FFs, m_data);
    EXPECT_EQ(ini.fileName(), m_ini);
    EXPECT_EQ(ini.readString("Settings", "HotkeyMode", "default"), "default");
    EXPECT_FALSE(QFileInfo::exists(m_ini));
    EXPECT_TRUE(FFs.removed.isEmpty());
    EXPECT_TRUE(FFs.writes.isEmpty());
}

TEST_F(SettingsStoreTest, GarbageOpensWithoutRewritingOrDeleting) {
    QList<QByteArray> garbage;
    QRandomGenerator random(1209);
    for (int i = 0; i < 4; ++i) {
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        garbage << bytes;
    }
    garbage << QByteArray("[Settings]\nHotkeyMode=\0OFF\n\xFF\xFE\n[\n]\n[]\n=\n", 39) + QByteArray(4096, '\0');
    garbage << QByteArray("[Settings]\nHotkeyMode=OFF\xC3\n");
    for (const QByteArray& bytes : garbage) {
        writeBytes(m_ini, bytes);
        SettingsStore ini = openSettingsStore(FFs, m_data);
        EXPECT_EQ(ini.fileName(), m_ini);
        EXPECT_NE(ini.readString("Settings", "HotkeyMode", "default"), "OFF");
        EXPECT_EQ(readBytes(m_ini), bytes);
    }
    EXPECT_TRUE(FFs.removed.isEmpty());
    EXPECT_TRUE(FFs.writes.isEmpty());
}

TEST_F(SettingsStoreTest, TenMegabyteFileOpensWhole) {
    QByteArray bytes = "[Settings]\n";
    for (int i = 0; bytes.size() < 10 * 1024 * 1024; ++i) {
        bytes += "Key" + QByteArray::number(i) + "=" + QByteArray::number(i) + "\n";
    }
    bytes += "HotkeyMode=OFF\n";
    writeBytes(m_ini, bytes);
    SettingsStore ini = openSettingsStore(FFs, m_data);
    EXPECT_EQ(ini.readString("Settings", "hotkeymode", ""), "OFF");
    EXPECT_EQ(ini.readString("Settings", "key123456", ""), "123456");
}

TEST_F(SettingsStoreTest, UnreadableFileIsDeletedAndOpenedAgain) {
    writeBytes(m_ini, "[Settings]\nHotkeyMode=OFF\n");
    FFs.unreadable.insert(m_ini);
    SettingsStore ini = openSettingsStore(FFs, m_data);
    EXPECT_EQ(FFs.removed, QStringList{m_ini});
    EXPECT_FALSE(QFileInfo::exists(m_ini));
    EXPECT_EQ(ini.fileName(), m_ini);
    EXPECT_EQ(ini.readString("Settings", "HotkeyMode", "default"), "default");
    EXPECT_TRUE(FFs.writes.isEmpty());
}

TEST_F(SettingsStoreTest, FailingTwiceGivesAnEmptyStoreBoundToThePath) {
    // A folder in its place can be neither read nor deleted as a file.
    ASSERT_TRUE(QDir().mkpath(m_ini + "/inside"));
    SettingsStore ini = openSettingsStore(FFs, m_data);
    EXPECT_EQ(FFs.removed, QStringList{m_ini});
    EXPECT_EQ(FFs.reads, (QStringList{m_ini, m_ini}));
    EXPECT_EQ(ini.fileName(), m_ini);
    EXPECT_EQ(ini.readString("Settings", "HotkeyMode", "default"), "default");

    ini.writeString("Settings", "HotkeyMode", "OFF");
    EXPECT_EQ(ini.readString("Settings", "HotkeyMode", "default"), "OFF");
    const Status status = ini.updateFile();
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(m_ini));
    EXPECT_TRUE(QFileInfo(m_ini).isDir());
}

// A settings.ini that is a link to a file not made yet (kept on another disk, in a dotfiles folder) is an empty
// store; the link stays, and the first write creates its target.
TEST_F(SettingsStoreTest, DanglingLinkOpensEmptyAndTheFirstWriteCreatesItsTarget) {
#ifdef CLAVORA_PLATFORM_LINUX
    const QString target = FRoot.path() + "/elsewhere/settings.ini";
    ASSERT_TRUE(QDir().mkpath(FRoot.path() + "/elsewhere"));
    ASSERT_TRUE(QFile::link(target, m_ini));
    platform::LinuxFileSystem disk;
    SettingsStore ini = openSettingsStore(disk, m_data);
    EXPECT_EQ(ini.readString("Settings", "HotkeyMode", "default"), "default");
    EXPECT_EQ(QFileInfo(m_ini).symLinkTarget(), target);

    ini.writeString("Settings", "HotkeyMode", "OFF");
    ASSERT_TRUE(ini.updateFile().ok());
    EXPECT_TRUE(QFileInfo(m_ini).isSymLink());
    EXPECT_EQ(readBytes(target), "[Settings]\nHotkeyMode=OFF\n\n");
#else
    GTEST_SKIP() << "needs the file system of a real system";
#endif
}

// On a real disk, a write that fails at its last step (the new bytes written, the rename not done) leaves the old
// file as it was and no temporary file beside it.
TEST_F(SettingsStoreTest, FailedWriteKeepsTheOldFile) {
#ifdef CLAVORA_PLATFORM_LINUX
    const QByteArray old = "[Settings]\nHotkeyMode=OFF\n\n";
    writeBytes(m_ini, old);
    platform::LinuxFileSystem disk;
    int failures = 0;
    disk.setBeforeRenameHook([&](const QString&) {
        ++failures;
        return ENOSPC;
    });
    SettingsStore ini = openSettingsStore(disk, m_data);
    ini.writeString("Settings", "HotkeyMode", "ON");
    const Status status = ini.updateFile();
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(m_ini));
    EXPECT_EQ(readBytes(m_ini), old);
    EXPECT_EQ(QDir(m_data).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"settings.ini"});

    disk.setBeforeRenameHook({});
    ASSERT_TRUE(ini.updateFile().ok());
    EXPECT_EQ(readBytes(m_ini), "[Settings]\nHotkeyMode=ON\n\n");
#else
    GTEST_SKIP() << "needs the file system of a real system";
#endif
}

} // namespace
