// Choice of the data folder and the start-up identity helpers.
#include "app/datafolder.h"
#include "app/identity.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace clavora;

namespace {

class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir().mkpath(FRoot.file("program"));
        QDir().mkpath(FRoot.file("config"));
        FFs.programFile = FRoot.file("program/clavora");
        FFs.configFolder = FRoot.file("config");
    }

    test::TempFolder FRoot;
    platform::FakeFileSystem FFs;
};

TEST_F(DataFolderTest, WritableProgramFolderIsUsedAndLeavesNoTestFile) {
    EXPECT_EQ(chooseDataFolder(FFs, FRoot.file("program"), "Zemtrak", "Clavora"), FRoot.file("program") + "/");
    EXPECT_EQ(QDir(FRoot.file("program")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    EXPECT_TRUE(FFs.createdFolders.isEmpty());
}

TEST_F(DataFolderTest, ReadOnlyProgramFolderUsesPerUserFolderAndCreatesBothLevels) {
    FFs.readOnlyFolders.insert(FRoot.file("program"));
    const QString expected = FRoot.file("config/Zemtrak/Clavora") + "/";
    EXPECT_EQ(chooseDataFolder(FFs, FRoot.file("program"), "Zemtrak", "Clavora"), expected);
    EXPECT_TRUE(QFileInfo(expected).isDir());
    EXPECT_EQ(FFs.createdFolders, QStringList({FRoot.file("config/Zemtrak"), FRoot.file("config/Zemtrak/Clavora")}));

    // A second start finds both levels in place: the failed creations are ignored.
    EXPECT_EQ(chooseDataFolder(FFs, FRoot.file("program"), "Zemtrak", "Clavora"), expected);
}

// A package's folder is the package manager's, even for a user who can write there: nothing is created in it.
TEST_F(DataFolderTest, AnInstalledProgramFolderIsNeverTheDataFolderEvenWhenWritable) {
    test::writeBytes(FRoot.file("program/installed-by-package"), "");
    const QStringList before = QDir(FRoot.file("program")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    EXPECT_EQ(chooseDataFolder(FFs, FRoot.file("program"), "Zemtrak", "Clavora"),
              FRoot.file("config/Zemtrak/Clavora/"));
    EXPECT_EQ(QDir(FRoot.file("program")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), before);

    // Only a regular file marks the folder: a folder of that name is something else.
    QFile::remove(FRoot.file("program/installed-by-package"));
    QDir().mkpath(FRoot.file("program/installed-by-package"));
    EXPECT_FALSE(isInstalledProgramFolder(FFs, FRoot.file("program")));
    EXPECT_EQ(chooseDataFolder(FFs, FRoot.file("program"), "Zemtrak", "Clavora"), FRoot.file("program") + "/");
}

TEST_F(DataFolderTest, AMissingConfigurationFolderIsCreatedFirst) {
    FFs.readOnlyFolders.insert(FRoot.file("program"));
    FFs.configFolder = FRoot.file("home/.config");
    EXPECT_EQ(chooseDataFolder(FFs, FRoot.file("program"), "Zemtrak", "Clavora"),
              FRoot.file("home/.config/Zemtrak/Clavora/"));
    EXPECT_TRUE(QFileInfo(FRoot.file("home/.config/Zemtrak/Clavora")).isDir());
}

TEST_F(DataFolderTest, LeftoverTestFileMeansNotWritable) {
    test::writeBytes(FRoot.file("program/chk.tmp"), "left over");
    EXPECT_FALSE(canWriteToFolder(FFs, FRoot.file("program")));
    EXPECT_EQ(chooseDataFolder(FFs, FRoot.file("program"), "Zemtrak", "Clavora"),
              FRoot.file("config/Zemtrak/Clavora/"));
    EXPECT_EQ(test::readBytes(FRoot.file("program/chk.tmp")), QByteArray("left over"));
}

TEST_F(DataFolderTest, TrailingSlashOnTheProgramFolderIsAccepted) {
    EXPECT_TRUE(canWriteToFolder(FFs, FRoot.file("program") + "/"));
    EXPECT_EQ(chooseDataFolder(FFs, FRoot.file("program") + "/", "Zemtrak", "Clavora"), FRoot.file("program") + "/");
}

TEST(AppVersionTest, FormatsMajorMinorOrTheUnreadableMarker) {
    EXPECT_EQ(formatAppVersion(true, 1, 0), "1.0");
    EXPECT_EQ(formatAppVersion(true, 12, 345), "12.345");
    EXPECT_EQ(formatAppVersion(false, 1, 0), "65535.65535");
}

TEST(AutoStartArgumentTest, OnlyTheFirstArgumentCountsInAnyLetterCase) {
    EXPECT_TRUE(isAutoStartArgument({"/auto"}));
    EXPECT_TRUE(isAutoStartArgument({"/AUTO", "x"}));
    EXPECT_TRUE(isAutoStartArgument({"/AuTo"}));
    EXPECT_FALSE(isAutoStartArgument({}));
    EXPECT_FALSE(isAutoStartArgument({"x", "/auto"}));
    EXPECT_FALSE(isAutoStartArgument({"/autox"}));
    EXPECT_FALSE(isAutoStartArgument({"auto"}));
}

} // namespace
