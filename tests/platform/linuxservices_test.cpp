// The Linux implementations of the file, locale, autostart and process services.
#include "platform/fake/fakefilesystem.h"
#include "platform/linux/linuxautostart.h"
#include "platform/linux/linuxfilesystem.h"
#include "platform/linux/linuxlocale.h"
#include "platform/linux/linuxprocess.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace clavora;
using namespace clavora::platform;

namespace {

// Sets environment variables for one test and puts the old values back.
class TScopedEnvironment {
public:
    void set(const char* name, const QByteArray& value) {
        FSaved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        if (value.isNull()) {
            qunsetenv(name);
        } else {
            qputenv(name, value);
        }
    }
    ~TScopedEnvironment() {
        for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it) {
            if (it->wasSet) {
                qputenv(it->name, it->value);
            } else {
                qunsetenv(it->name);
            }
        }
    }

private:
    struct TSaved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    std::vector<TSaved> FSaved;
};

TEST(LinuxLocaleTest, CodePagesAndLanguageIdentifiersFollowTheLocaleName) {
    const struct {
        const char* locale;
        int codePage;
        quint16 languageId;
    } cases[] = {
        {"en_US", 1252, 1033}, {"de_DE", 1252, 1031},  {"fr_CA", 1252, 3084}, {"ru_RU", 1251, 1049},
        {"tr_TR", 1254, 1055}, {"pl_PL", 1250, 1045},  {"el_GR", 1253, 1032}, {"ja_JP", 932, 1041},
        {"zh_CN", 936, 2052},  {"zh_TW", 950, 1028},   {"ko_KR", 949, 1042},  {"pt_BR", 1252, 1046},
        {"uk_UA", 1251, 1058}, {"xx_YY", 1252, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        EXPECT_EQ(AnsiCodePageForLocale(c.locale), c.codePage);
        EXPECT_EQ(LanguageIdForLocale(c.locale), c.languageId);
    }
}

TEST(LinuxLocaleTest, VariablesAreTakenInThePosixOrder) {
    TScopedEnvironment env;
    env.set("LANGUAGE", QByteArray());
    env.set("LC_ALL", QByteArray());
    env.set("LC_MESSAGES", QByteArray());
    env.set("LC_NUMERIC", "de_DE.UTF-8");
    env.set("LC_CTYPE", QByteArray());
    env.set("LANG", "ru_RU.UTF-8");
    TLinuxLocale locale;
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

TEST(LinuxFileSystemTest, ExclusiveCreateCopyAndSafeReplace) {
    test::TTempFolder folder;
    TLinuxFileSystem fs;

    EXPECT_TRUE(fs.createAndRemoveExclusive(folder.file("chk.tmp")));
    EXPECT_FALSE(QFileInfo::exists(folder.file("chk.tmp")));
    test::WriteBytes(folder.file("chk.tmp"), "x");
    EXPECT_FALSE(fs.createAndRemoveExclusive(folder.file("chk.tmp")));
    EXPECT_TRUE(QFileInfo::exists(folder.file("chk.tmp")));

    test::WriteBytes(folder.file("a"), "first");
    test::WriteBytes(folder.file("b"), "second");
    EXPECT_FALSE(fs.copyFileNoOverwrite(folder.file("a"), folder.file("b")));
    EXPECT_EQ(test::ReadBytes(folder.file("b")), "second");
    EXPECT_TRUE(fs.copyFileNoOverwrite(folder.file("a"), folder.file("c")));
    EXPECT_EQ(test::ReadBytes(folder.file("c")), "first");
    EXPECT_FALSE(fs.copyFileNoOverwrite(folder.file("missing"), folder.file("d")));
    EXPECT_FALSE(QFileInfo::exists(folder.file("d")));

    EXPECT_TRUE(fs.writeFileReplacing(folder.file("a"), "replaced").ok());
    EXPECT_EQ(test::ReadBytes(folder.file("a")), "replaced");
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 4); // no temporary file left

    // A read-only file keeps its bytes, even for root, and the message names the file and the reason.
    QFile::setPermissions(folder.file("b"), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    const TStatus refused = fs.writeFileReplacing(folder.file("b"), "new");
    EXPECT_FALSE(refused.ok());
    EXPECT_TRUE(refused.message().contains(folder.file("b"))) << refused.message().toStdString();
    EXPECT_TRUE(refused.message().contains("Permission denied")) << refused.message().toStdString();
    EXPECT_EQ(test::ReadBytes(folder.file("b")), "second");

    const TStatus noFolder = fs.writeFileReplacing(folder.file("none/x"), "new");
    EXPECT_FALSE(noFolder.ok());
    EXPECT_TRUE(noFolder.message().contains("No such file or directory")) << noFolder.message().toStdString();
}

TEST(LinuxFileSystemTest, PerUserFoldersFollowTheXdgVariables) {
    TScopedEnvironment env;
    env.set("HOME", "/home/someone");
    env.set("XDG_CONFIG_HOME", QByteArray());
    env.set("XDG_STATE_HOME", "relative/is/ignored");
    TLinuxFileSystem fs;
    EXPECT_EQ(fs.userConfigFolder(), "/home/someone/.config");
    EXPECT_EQ(fs.userStateFolder(), "/home/someone/.local/state");
    env.set("XDG_CONFIG_HOME", "/elsewhere/config/");
    EXPECT_EQ(fs.userConfigFolder(), "/elsewhere/config");
    env.set("XDG_CONFIG_HOME", QByteArray());
    env.set("HOME", QByteArray());
    EXPECT_EQ(fs.userConfigFolder(), QString());
    EXPECT_TRUE(QFileInfo(fs.programFilePath()).isAbsolute());
}

TEST(LinuxAutostartTest, EntryIsADesktopFileThatStartsTheProgramWithAuto) {
    test::TTempFolder folder;
    TFakeFileSystem fs;
    fs.FUserConfigFolder = folder.path();
    TScopedService<IFileSystem> use(fs);
    TLinuxAutostart autostart;

    EXPECT_EQ(autostart.readEntry("Zemtrak - Clavora"), QString());
    ASSERT_TRUE(autostart.writeEntry("Zemtrak - Clavora", "/opt/my \"apps\"/clavora", "/auto").ok());
    const QString file = folder.file("autostart/Zemtrak - Clavora.desktop");
    EXPECT_EQ(test::ReadBytes(file), "[Desktop Entry]\nType=Application\nName=Zemtrak - Clavora\n"
                                     "Exec=\"/opt/my \\\\\"apps\\\\\"/clavora\" /auto\nTerminal=false\n"
                                     "X-GNOME-Autostart-enabled=true\n");
    EXPECT_FALSE(autostart.readEntry("Zemtrak - Clavora").isEmpty());

    EXPECT_TRUE(autostart.removeEntry("Zemtrak - Clavora").ok());
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(autostart.readEntry("Zemtrak - Clavora"), QString());
    EXPECT_TRUE(autostart.removeEntry("Zemtrak - Clavora").ok()); // already gone: no failure
}

TEST(LinuxProcessTest, TheNamedMutexCanBeHeldTwice) {
    TLinuxProcess process;
    auto first = process.createNamedMutex("ZEMTRAK_Clavora_test");
    auto second = process.createNamedMutex("ZEMTRAK_Clavora_test");
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
}

} // namespace
