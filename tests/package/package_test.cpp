// The Debian package: made once from this build with CPack, taken apart with dpkg-deb in a throw-away root (nothing
// is installed on the test machine), and checked there: its files, its control fields, the one version all of it
// carries, the desktop's own validators over its desktop entry, metadata and manual page, and the program it carries
// started as an ordinary user.
#include "app/identity.h"
#include "app/launcher.h"
#include "app/versioninfo.h"
#include "platform/posix/linuxfilesystem.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace clavora;
using namespace clavora::test;

namespace {

const QString Version = QStringLiteral(CLAVORA_VERSION);
const QString AppId = QStringLiteral("com.zemtrak.clavora");
const QList<int> IconSizes = {16, 22, 24, 32, 48, 64, 128, 256};
constexpr int Nobody = 65534;

struct Result {
    int exitCode = -1;
    QString output; // standard output and error together
};

Result run(const QString& program, const QStringList& arguments, int timeoutMs = 60000,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Result result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.output = QStringLiteral("%1 did not finish: %2").arg(program, process.errorString());
        return result;
    }
    result.output = QString::fromLocal8Bit(process.readAll());
    if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    return result;
}

// Every file and link below Folder, as paths relative to it; links as "path -> target".
QStringList filesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString entry = QDir(folder).relativeFilePath(path);
        if (it.fileInfo().isSymLink()) {
            entry += QStringLiteral(" -> ") + it.fileInfo().symLinkTarget();
        }
        files << entry;
    }
    files.sort();
    return files;
}

// Lintian's findings, one tag a line ("E: clavora: tag [pointer]"), without its notes about how it was run.
QStringList lintianTags(const Result& result) {
    QStringList tags;
    for (const QString& line : result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (QRegularExpression(QStringLiteral("^[EWIPXOCM]: ")).match(line).hasMatch()) {
            tags << line;
        }
    }
    return tags;
}

// The package, made and unpacked once for all the cases below.
class PackageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A folder every user can reach (QTemporaryDir makes private ones): the program runs as another user.
        s_root = QDir::tempPath() + QStringLiteral("/clavora-package-%1").arg(QCoreApplication::applicationPid());
        QDir(s_root).removeRecursively();
        QDir().mkpath(s_root);
        ::chmod(QFile::encodeName(s_root).constData(), 0755);
        s_tree = s_root + QStringLiteral("/root");

        const QString build = QString::fromLocal8Bit(qgetenv("CLAVORA_BINARY_DIR"));
        const Result made =
            run(QStringLiteral("cpack"),
                {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                 build + QStringLiteral("/CPackConfig.cmake"), QStringLiteral("-B"), s_root + QStringLiteral("/out")},
                600000);
        if (made.exitCode != 0) {
            s_error = QStringLiteral("cpack failed:\n") + made.output;
            return;
        }
        s_arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).output.trimmed();
        s_deb = s_root + QStringLiteral("/out/clavora_%1_%2.deb").arg(Version, s_arch);
        if (!QFileInfo(s_deb).isFile()) {
            s_error = QStringLiteral("no %1 among the outputs of cpack:\n%2").arg(s_deb, made.output);
            return;
        }
        const Result unpacked = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), s_deb, s_tree});
        if (unpacked.exitCode != 0) {
            s_error = QStringLiteral("dpkg-deb -x failed:\n") + unpacked.output;
        }
    }

    static void TearDownTestSuite() {
        run(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("u+w"), s_root});
        QDir(s_root).removeRecursively();
    }

    void SetUp() override { ASSERT_TRUE(s_error.isEmpty()) << s_error.toStdString(); }

    static QString installed(const QString& path) { return s_tree + QLatin1Char('/') + path; }

    static QString controlField(const QString& name) {
        return run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), s_deb, name}).output.trimmed();
    }

    static inline QString s_root;
    static inline QString s_tree;
    static inline QString s_deb;
    static inline QString s_arch;
    static inline QString s_error;
};

TEST_F(PackageTest, HoldsTheProgramFolderUnderOptAndTheDesktopFilesUnderUsr) {
    QStringList expected = {
        "opt/clavora/clavora",
        "opt/clavora/clavora-program.so",
        "opt/clavora/keys.db",
        "opt/clavora/license.txt",
        "usr/bin/clavora -> /opt/clavora/clavora",
        "usr/share/applications/" + AppId + ".desktop",
        "usr/share/dbus-1/interfaces/com.zemtrak.Clavora1.xml",
        "opt/clavora/installed-by-package",
        "usr/share/doc/clavora/changelog.gz",
        "usr/share/doc/clavora/copyright",
        "usr/share/lintian/overrides/clavora",
        "usr/share/icons/hicolor/scalable/apps/" + AppId + ".svg",
        "usr/share/man/man1/clavora.1.gz",
        "usr/share/metainfo/" + AppId + ".metainfo.xml",
    };
    for (int n = 11; n <= 22; ++n) {
        expected << QStringLiteral("opt/clavora/Sounds/%1.mp3").arg(n);
    }
    for (const QString& language : QDir(sourceDir() + "/data/Languages").entryList(QDir::Files)) {
        expected << "opt/clavora/Languages/" + language;
    }
    for (int size : IconSizes) {
        expected << QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(AppId);
    }
    expected.sort();
    EXPECT_EQ(filesBelow(s_tree), expected);

    // Owned by root, the program executable, nothing writable by others.
    const Result listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), s_deb});
    ASSERT_EQ(listing.exitCode, 0) << listing.output.toStdString();
    const QRegularExpression line(QStringLiteral("^(\\S+) (\\S+)\\s+\\d+ \\S+ \\S+ \\./(\\S*)"));
    for (const QString& entry : listing.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        SCOPED_TRACE(entry.toStdString());
        const QRegularExpressionMatch m = line.match(entry);
        ASSERT_TRUE(m.hasMatch());
        EXPECT_EQ(m.captured(2), "root/root");
        const QString mode = m.captured(1);
        const QString path = m.captured(3);
        if (mode.startsWith('d')) {
            EXPECT_EQ(mode, "drwxr-xr-x");
        } else if (mode.startsWith('l')) {
            EXPECT_EQ(path, "usr/bin/clavora");
        } else {
            EXPECT_EQ(mode, path == "opt/clavora/clavora" ? "-rwxr-xr-x" : "-rw-r--r--");
        }
    }

    // Each picture of the icon theme has the size its folder names.
    for (int size : IconSizes) {
        SCOPED_TRACE(size);
        const QImage picture(
            installed(QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(AppId)));
        EXPECT_EQ(picture.size(), QSize(size, size));
    }
}

TEST_F(PackageTest, ControlFieldsNameTheMaintainerTheSectionAndTheLibrariesTheProgramLinks) {
    EXPECT_EQ(controlField("Package"), "clavora");
    EXPECT_EQ(controlField("Architecture"), s_arch);
    EXPECT_EQ(controlField("Section"), "sound");
    EXPECT_TRUE(QRegularExpression("^\\S.* <[^@ ]+@[^@ ]+>$").match(controlField("Maintainer")).hasMatch())
        << controlField("Maintainer").toStdString();
    const QStringList description = controlField("Description").split('\n');
    ASSERT_GE(description.size(), 2);
    EXPECT_FALSE(description.first().isEmpty());
    for (const QString& text : description) {
        EXPECT_LE(text.size(), 80) << text.toStdString();
    }
    // Computed by dpkg-shlibdeps from the executable; the build names none of these but Qt's Wayland platform,
    // which is loaded, not linked.
    const QString depends = controlField("Depends");
    for (const char* library :
         {"libc6", "libqt6widgets6", "libavcodec", "libsdl2", "libxkbcommon", "libwayland-client0", "qt6-wayland"}) {
        EXPECT_TRUE(depends.contains(QLatin1String(library))) << library << " not in " << depends.toStdString();
    }
    // What the program works without but a user wants: a system player that can stop a sound, the opener of links
    // and of the licence, and the fonts of the Chinese and Japanese texts and key captions.
    QStringList recommends = controlField("Recommends").split(QRegularExpression(",\\s*"));
    recommends.sort();
    EXPECT_EQ(recommends, (QStringList{"fonts-noto-cjk", "libcanberra-pulse", "xdg-utils"}));
}

// Debian's package checker, at its most particular, finds nothing but what packaging/lintian-overrides carries (and
// the package ships, so lintian applies it): among them the checks of the executable's hardening and stripping,
// and of the change log.
TEST_F(PackageTest, LintianFindsNothingButTheOverriddenTagsOfAPackageUnderOpt) {
    const Result lintian =
        run("lintian", {"--pedantic", "--display-info", "--tag-display-limit", "0", "--show-overrides", s_deb}, 300000);
    ASSERT_GE(lintian.exitCode, 0) << lintian.output.toStdString();
    QStringList unexpected;
    QSet<QString> overridden;
    for (const QString& tag : lintianTags(lintian)) {
        if (tag.startsWith("O: ")) {
            overridden.insert(tag.section(' ', 2, 2));
        } else {
            unexpected << tag;
        }
    }
    EXPECT_EQ(unexpected, QStringList()) << lintian.output.toStdString();
    // The overrides are those of the folder under /opt, and the checked functions' false alarm, and nothing else.
    EXPECT_TRUE(
        overridden
            .subtract({"dir-or-file-in-opt", "extra-license-file",
                       "package-contains-documentation-outside-usr-share-doc", "hardening-no-fortify-functions"})
            .isEmpty())
        << lintian.output.toStdString();

    // The change log is the project's history, newest first, and names this version.
    const Result changelog = run("gzip", {"-dc", installed("usr/share/doc/clavora/changelog.gz")});
    EXPECT_TRUE(changelog.output.startsWith("clavora (" + Version + ") ")) << changelog.output.toStdString();
    EXPECT_EQ(changelog.output.toUtf8(), readBytes(sourceDir() + "/packaging/changelog"));
}

// The project's version is the package's, the version block's (what the About box shows and the update check
// sends), the metadata's newest release and the manual page's.
TEST_F(PackageTest, EveryVersionIsTheProjects) {
    EXPECT_EQ(controlField("Version"), Version);

    const QString program = installed("opt/clavora/clavora");
    platform::LinuxFileSystem files;
    VersionStrings strings;
    ASSERT_TRUE(readVersionStrings(files, program, strings));
    EXPECT_EQ(strings.productVersion, Version);
    EXPECT_TRUE(strings.fileVersion.startsWith(Version + '.')) << strings.fileVersion.toStdString();
    int major = -1;
    int minor = -1;
    ASSERT_TRUE(readFixedFileVersion(files, program, major, minor));
    EXPECT_EQ(formatAppVersion(true, major, minor), Version.section('.', 0, 1));

    const QString metainfo = QString::fromUtf8(readBytes(installed("usr/share/metainfo/" + AppId + ".metainfo.xml")));
    const QRegularExpressionMatch release = QRegularExpression("<release version=\"([^\"]*)\"").match(metainfo);
    ASSERT_TRUE(release.hasMatch());
    EXPECT_EQ(release.captured(1), Version);

    const Result page = run("gzip", {"-dc", installed("usr/share/man/man1/clavora.1.gz")});
    EXPECT_TRUE(page.output.contains("\n.TH CLAVORA 1 ") && page.output.contains("\"Clavora " + Version + "\""))
        << page.output.left(300).toStdString();
}

TEST_F(PackageTest, TheDesktopsValidatorsAcceptTheEntryTheMetadataAndTheManualPage) {
    const QString entry = installed("usr/share/applications/" + AppId + ".desktop");
    const Result desktop = run("desktop-file-validate", {entry});
    EXPECT_EQ(desktop.exitCode, 0);
    EXPECT_EQ(desktop.output, "");

    const QString metainfo = installed("usr/share/metainfo/" + AppId + ".metainfo.xml");
    const Result appstream = run("appstreamcli", {"validate", "--pedantic", "--no-net", metainfo});
    EXPECT_EQ(appstream.exitCode, 0) << appstream.output.toStdString();
    EXPECT_FALSE(appstream.output.contains(QRegularExpression("^[EWIP]: ", QRegularExpression::MultilineOption)))
        << appstream.output.toStdString();

    QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
    plain.insert("LC_ALL", "C.UTF-8");
    plain.insert("MANWIDTH", "100");
    const QString page = installed("usr/share/man/man1/clavora.1.gz");
    const Result man = run("man", {"--warnings", "-l", page}, 60000, plain);
    EXPECT_EQ(man.exitCode, 0) << man.output.toStdString();
    EXPECT_FALSE(man.output.contains("warning")) << man.output.toStdString();
    EXPECT_TRUE(man.output.contains(QRegularExpression("SYNOPSIS\\s+clavora \\[/auto\\]"))) << man.output.toStdString();
    EXPECT_TRUE(man.output.contains("~/.config/Zemtrak/Clavora/keys.db"));

    // The screenshots the metadata names are the ones kept in data/screenshots/, at the sizes it gives.
    const QString metadata = QString::fromUtf8(readBytes(metainfo));
    QRegularExpressionMatchIterator shots =
        QRegularExpression("<image type=\"source\" width=\"(\\d+)\" height=\"(\\d+)\">https://[^<]*/screenshots/"
                           "([^<]+)</image>")
            .globalMatch(metadata);
    int shotCount = 0;
    while (shots.hasNext()) {
        const QRegularExpressionMatch shot = shots.next();
        const QImage picture(sourceDir() + "/data/screenshots/" + shot.captured(3));
        EXPECT_EQ(picture.size(), QSize(shot.captured(1).toInt(), shot.captured(2).toInt()))
            << shot.captured(3).toStdString();
        ++shotCount;
    }
    EXPECT_GE(shotCount, 1) << metadata.toStdString();
    EXPECT_TRUE(metadata.contains("<content_rating type=\"oars-1.1\">"));

    // What the validators cannot see: the entry, the icon, the link and the metadata name one another.
    QSettings desktopEntry(entry, QSettings::IniFormat);
    desktopEntry.beginGroup("Desktop Entry");
    EXPECT_EQ(desktopEntry.value("Exec").toString(), "clavora");
    // "clavora" on the PATH is the link the program names in its autostart entry, and it leads to the program.
    const QString link = installed(QString::fromLatin1(PackageLauncherLink).mid(1));
    EXPECT_TRUE(QFileInfo(installed(QFileInfo(link).symLinkTarget().mid(1))).isExecutable());
    EXPECT_EQ(desktopEntry.value("Icon").toString(), AppId);
    EXPECT_TRUE(QFileInfo::exists(installed("usr/share/icons/hicolor/scalable/apps/" + AppId + ".svg")));
    EXPECT_TRUE(QString::fromUtf8(readBytes(metainfo))
                    .contains("<launchable type=\"desktop-id\">" + AppId + ".desktop</launchable>"));
}

// The program folder of the package is read-only for users: an ordinary user's bindings and options go to their own
// configuration folder, and the program folder stays as it was unpacked. The window shows the shipped icon.
TEST_F(PackageTest, TheInstalledProgramKeepsAnOrdinaryUsersDataInTheirConfigFolder) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        GTEST_SKIP() << "needs the X display of the test rig";
    }
    const bool asRoot = ::geteuid() == 0;
    const QString home = s_root + "/home";
    ASSERT_TRUE(QDir().mkpath(home + "/runtime"));
    ::chmod(QFile::encodeName(home + "/runtime").constData(), 0700);
    if (asRoot) {
        run("chown", {"-R", QStringLiteral("%1:%1").arg(Nobody), home});
    } else {
        // Unpacked by an ordinary user, the files are theirs: take the write permission the package never gives.
        run("chmod", {"-R", "a-w", installed("opt/clavora")});
    }
    const QStringList unpacked = filesBelow(s_tree);
    const QByteArray seed = readBytes(installed("opt/clavora/keys.db"));
    const QString keys = home + "/.config/Zemtrak/Clavora/keys.db";
    {
        ProgramRun program(installed("opt/clavora/clavora"), home);
        program.environment().insert("XDG_RUNTIME_DIR", home + "/runtime");
        // The rig's sound server belongs to root; the user's audio goes nowhere.
        program.environment().remove("PULSE_SERVER");
        program.runAsUser(Nobody);
        ASSERT_TRUE(program.start());
        ASSERT_TRUE(program.waitForWindow("Zemtrak - Clavora")) << program.output().toStdString();
        EXPECT_TRUE(waitFor([&] { return QFileInfo(keys).size() == seed.size(); }, 20000))
            << program.output().toStdString();

        const QString window =
            runCommand("xdotool", {"search", "--onlyvisible", "--pid", QString::number(program.pid())})
                .split('\n')
                .first()
                .trimmed();
        const QString icon = runCommand("xprop", {"-len", "100000000", "-id", window, "-notype", "_NET_WM_ICON"});
        for (int size : IconSizes) {
            EXPECT_TRUE(icon.contains(QStringLiteral("Icon (%1 x %1)").arg(size))) << size;
        }
        EXPECT_TRUE(program.isRunning()) << program.output().toStdString();
    }
    EXPECT_EQ(readBytes(keys), seed);
    EXPECT_EQ(filesBelow(s_tree), unpacked);
}

} // namespace

namespace {

// Installed with dpkg into a root of its own (the test machine's packages are left alone) and run there by root:
// root's data goes to root's own folder like every user's, the program folder stays as the package put it, and
// removing the package leaves nothing of it behind.
TEST_F(PackageTest, InstalledAndRunByRootKeepsRootsDataAtHomeAndRemovalLeavesNothing) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        GTEST_SKIP() << "needs the X display of the test rig";
    }
    if (::geteuid() != 0) {
        GTEST_SKIP() << "installs the package: runs as root";
    }
    const QString system = s_root + "/system";
    const QString admin = system + "/var/lib/dpkg";
    for (const char* folder : {"/info", "/updates", "/triggers"}) {
        ASSERT_TRUE(QDir().mkpath(admin + folder));
    }
    writeBytes(admin + "/status", "");
    const QStringList dpkg = {"--root=" + system, "--admindir=" + admin, "--log=/dev/null", "--force-depends",
                              "--force-script-chrootless"};
    const Result install = run("dpkg", dpkg + QStringList{"--install", s_deb});
    ASSERT_EQ(install.exitCode, 0) << install.output.toStdString();
    const QString programFolder = system + "/opt/clavora";
    const QStringList installedFiles = filesBelow(programFolder);
    const QByteArray seed = readBytes(programFolder + "/keys.db");
    ASSERT_FALSE(seed.isEmpty());

    const QString home = s_root + "/roothome";
    ASSERT_TRUE(QDir().mkpath(home + "/runtime"));
    ::chmod(QFile::encodeName(home + "/runtime").constData(), 0700);
    const QString data = home + "/.config/Zemtrak/Clavora";
    {
        ProgramRun program(programFolder + "/clavora", home);
        program.environment().insert("XDG_RUNTIME_DIR", home + "/runtime");
        ASSERT_TRUE(program.start());
        ASSERT_TRUE(program.waitForWindow("Zemtrak - Clavora")) << program.output().toStdString();
        EXPECT_TRUE(waitFor([&] { return QFileInfo(data + "/keys.db").size() == seed.size(); }, 20000))
            << program.output().toStdString();
        EXPECT_TRUE(program.isRunning()) << program.output().toStdString();
    }
    EXPECT_EQ(readBytes(data + "/keys.db"), seed);
    EXPECT_EQ(filesBelow(programFolder), installedFiles) << "the program wrote into its installed folder";
    EXPECT_EQ(readBytes(programFolder + "/keys.db"), seed);

    const Result remove = run("dpkg", dpkg + QStringList{"--remove", "clavora"});
    ASSERT_EQ(remove.exitCode, 0) << remove.output.toStdString();
    QStringList left;
    QDirIterator it(system, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(system).relativeFilePath(it.next());
        if (!path.startsWith("var")) {
            left << path;
        }
    }
    EXPECT_EQ(left, QStringList()) << "left behind by the removal";
    // What the user made stays theirs.
    EXPECT_EQ(readBytes(data + "/keys.db"), seed);
}

} // namespace
