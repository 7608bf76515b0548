// The update check as the main window runs it: its timer, the worker thread against a local server, the store on
// disk, the hand-over of the server's message to the GUI thread, and leaving the program while a check is under way.
#include "online/updatechecker.h"
#include "tests/online/localservers.h"
#include "tests/support/platformtest.h"
#include "tests/support/testsupport.h"
#ifdef CLAVORA_PLATFORM_LINUX
#include "platform/posix/linuxfilesystem.h"
#endif

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace clavora;
using namespace clavora::online;
using clavora::test::LocalServer;
using clavora::test::TestAuthority;

namespace {

// The store on a real disk, as the program has it: a pipe or a device in its place is what the system says it is.
#ifdef CLAVORA_PLATFORM_LINUX
using DiskFileSystem = platform::LinuxFileSystem;
#else
using DiskFileSystem = platform::FakeFileSystem;
#endif

const std::string NewerReply = "<version>3.3</version>\r\n<url>https://www.zemtrak.com/get/</url>\r\n\r\n"
                               "<result>1</result>\r\n\r\n<important>Read <b>this</b></important>\r\n";

class UpdateCheckerTest : public ::testing::Test {
protected:
    UpdateCheckContext contextFor(const QString& host) const {
        UpdateCheckContext context =
            makeUpdateCheckContext(fakes, QStringLiteral("Zemtrak"), QStringLiteral("Clavora"), QStringLiteral("3.2"));
        context.files = &disk;
        context.webHost = host;
        context.caFile = authority.caFile();
        context.storeFolder = folder.file(QStringLiteral("state/Zemtrak/Clavora"));
        context.pollIntervalMs = 20;
        context.timeoutMs = 3000;
        return context;
    }
    QString storeFile() const { return folder.file(QStringLiteral("state/Zemtrak/Clavora/updatecheck.ini")); }
    QVariant stored(const char* name) const {
        return QSettings(storeFile(), QSettings::IniFormat).value(QStringLiteral("Settings/") + QLatin1String(name));
    }

    mutable platform::FakeServices fakes;
    mutable DiskFileSystem disk;
    test::TempFolder folder;
    TestAuthority authority; // the servers' certificates are signed by it and the checks trust it
};

TEST_F(UpdateCheckerTest, TheWorkerStartsOnTheFirstTickAndItsResultsArriveOnTheGuiThreadInOrder) {
    LocalServer server(&authority);
    server.setReply(NewerReply);
    UpdateChecker checker(contextFor(server.host()));
    QStringList events;
    QObject::connect(&checker, &UpdateChecker::importantMessage, [&](const QString& text) {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        events << QStringLiteral("message ") + text;
    });
    QObject::connect(&checker, &UpdateChecker::checkFinished,
                     [&](bool showUpdates) { events << QStringLiteral("finished %1").arg(showUpdates); });
    QObject::connect(&checker, &UpdateChecker::showNotice, [&](const QString& version, const QString& url) {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        events << QStringLiteral("notice ") + version + QLatin1Char(' ') + url;
    });

    checker.start();
    EXPECT_TRUE(checker.isTicking());
    QCoreApplication::processEvents();
    EXPECT_TRUE(server.requests().empty()); // nothing before the first tick
    ASSERT_TRUE(test::waitFor([&] { return checker.isFinished(); }, 10000));

    EXPECT_EQ(events,
              (QStringList{"message Read <b>this</b>", "finished 1", "notice 3.3 https://www.zemtrak.com/get/"}));
    EXPECT_FALSE(checker.result().log.failed()) << checker.result().log.text().toStdString();
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].body.find("cmd=check&appname=Zemtrak+-+Clavora&version=3.2&os="), std::string::npos);
    EXPECT_NE(requests[0].body.find("&howmany=1"), std::string::npos);
    EXPECT_EQ(stored(checkstore::HowMany).toInt(), 1);
    EXPECT_EQ(stored(checkstore::CurrentVersion).toString(), QStringLiteral("3.3"));
    EXPECT_EQ(stored(checkstore::LastUpdateCheckCount).toInt(), 1);

    // Once per run: the timer has stopped for good.
    EXPECT_FALSE(checker.isTicking());
    QCoreApplication::processEvents();
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(events.size(), 3);
}

// A server that HTTPS cannot reach at all (its attempts go to a proxy port where nothing listens) is asked once more
// in clear; that reply may be anyone's, so its notice links to no other host: the notice falls back to the home page.
TEST_F(UpdateCheckerTest, APlainReplyAnnouncesButItsForeignLinkIsDropped) {
    LocalServer plain;
    plain.setReply(NewerReply);
    test::ScopedEnvironment environment("https_proxy",
                                        QStringLiteral("http://127.0.0.1:%1").arg(test::closedPort()).toLatin1());
    environment.set("no_proxy", QByteArray());
    environment.set("NO_PROXY", QByteArray());
    UpdateChecker checker(contextFor(plain.host()));
    QSignalSpy notice(&checker, &UpdateChecker::showNotice);
    checker.start();
    ASSERT_TRUE(test::waitFor([&] { return checker.isFinished(); }, 10000));
    ASSERT_EQ(plain.requests().size(), 1u);
    ASSERT_EQ(notice.size(), 1);
    EXPECT_EQ(notice[0][0].toString(), QStringLiteral("3.3"));
    EXPECT_EQ(notice[0][1].toString(), QString());
    EXPECT_EQ(stored(checkstore::CurrentVersion).toString(), QStringLiteral("3.3"));
}

TEST_F(UpdateCheckerTest, TheCommandStoresShowUpdateForTheNextStart) {
    LocalServer server(&authority);
    server.setReply(NewerReply);
    {
        UpdateChecker checker(contextFor(server.host()));
        checker.start();
        ASSERT_TRUE(test::waitFor([&] { return checker.isFinished(); }, 10000));
        checker.setShowUpdates(false);
        EXPECT_EQ(stored(checkstore::ShowUpdate).toInt(), 0);
        EXPECT_EQ(stored(checkstore::HowMany).toInt(), 1); // the worker's values are kept
    }
    UpdateChecker next(contextFor(server.host()));
    QSignalSpy finished(&next, &UpdateChecker::checkFinished);
    QSignalSpy notice(&next, &UpdateChecker::showNotice);
    next.start();
    ASSERT_TRUE(test::waitFor([&] { return next.isFinished(); }, 10000));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished[0][0].toBool());
    EXPECT_TRUE(notice.isEmpty());
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(stored(checkstore::HowMany).toInt(), 2);

    next.setShowUpdates(true);
    EXPECT_EQ(stored(checkstore::ShowUpdate).toInt(), 1);
}

TEST_F(UpdateCheckerTest, AStoreThatCannotBeWrittenStillLetsTheCheckFinish) {
    LocalServer server;
    server.setReply(NewerReply);
    UpdateCheckContext context = contextFor(server.host());
    test::writeBytes(folder.file(QStringLiteral("blocked")), "a file where the store's folder should be");
    context.storeFolder = folder.file(QStringLiteral("blocked/Clavora"));
    UpdateChecker checker(context);
    QSignalSpy finished(&checker, &UpdateChecker::checkFinished);
    checker.start();
    ASSERT_TRUE(test::waitFor([&] { return checker.isFinished(); }, 10000));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_TRUE(finished[0][0].toBool());
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(checker.result().log.text().startsWith(QLatin1String(checkmessage::StoreOpenProblem)));
}

// A pipe where Qt's INI files kept their lock used to stop the worker for good, and the program's exit with it.
TEST_F(UpdateCheckerTest, APipeBesideTheStoreStopsNothing) {
    LocalServer server(&authority);
    server.setReply(NewerReply);
    ASSERT_TRUE(QDir().mkpath(folder.file(QStringLiteral("state/Zemtrak/Clavora"))));
    ASSERT_EQ(::mkfifo(QFile::encodeName(storeFile() + QStringLiteral(".lock")).constData(), 0644), 0);
    UpdateChecker checker(contextFor(server.host()));
    checker.start();
    ASSERT_TRUE(test::waitFor([&] { return checker.isFinished(); }, 10000));
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(stored(checkstore::HowMany).toInt(), 1);
}

TEST_F(UpdateCheckerTest, LeavingWhileTheRequestWaitsForTheServerReturnsAtOnce) {
    test::SilentListener silent;
    // The server never answers and the request would wait a minute for it: leaving does not.
    UpdateCheckContext context = contextFor(silent.host());
    context.timeoutMs = 60000;
    auto checker = std::make_unique<UpdateChecker>(context);
    bool finished = false;
    QObject::connect(checker.get(), &UpdateChecker::checkFinished, [&] { finished = true; });
    checker->start();
    ASSERT_TRUE(test::waitFor([&] { return silent.connections() >= 1; }, 5000));

    QElapsedTimer clock;
    clock.start();
    checker.reset();
    EXPECT_LT(clock.elapsed(), context.timeoutMs) << "it waited for the request's time-out";
    EXPECT_FALSE(finished);
}

TEST_F(UpdateCheckerTest, LeavingWhileTheServersMessageIsOpenReleasesTheWorker) {
    LocalServer server(&authority);
    server.setReply(NewerReply);
    auto checker = std::make_unique<UpdateChecker>(contextFor(server.host()));
    bool messageShown = false;
    QObject::connect(checker.get(), &UpdateChecker::importantMessage, [&](const QString&) {
        // The user leaves the program from inside the message's own event loop.
        messageShown = true;
        QEventLoop modal;
        QTimer::singleShot(0, [&] {
            checker.reset();
            modal.quit();
        });
        modal.exec();
    });
    checker->start();
    // A worker still waiting for the message's answer would hold the reset, and the loop, for good.
    ASSERT_TRUE(test::waitFor([&] { return messageShown && !checker; }, 10000));
}

TEST(CheckStoreTest, KeepsValuesInItsSectionAndGivesDefaultsForTheRest) {
    test::TempFolder folder;
    DiskFileSystem disk;
    IniCheckStore store(disk, folder.file(QStringLiteral("a/b")));
    EXPECT_EQ(store.readString(checkstore::LastUpdateCheck, QStringLiteral("none")), QStringLiteral("none"));
    EXPECT_FALSE(store.writeInteger(checkstore::HowMany, 1)); // not open yet
    ASSERT_TRUE(store.open());
    EXPECT_EQ(store.readInteger(checkstore::ShowUpdate, 1), 1);
    EXPECT_TRUE(store.writeString(checkstore::LastUpdateCheck, QStringLiteral("3/14/26")));
    EXPECT_TRUE(store.writeInteger(checkstore::HowMany, 12));
    EXPECT_TRUE(store.writeString(checkstore::CurrentVersion, QStringLiteral("a, b; \"c\" = d\\")));

    IniCheckStore other(disk, folder.file(QStringLiteral("a/b")));
    ASSERT_TRUE(other.open());
    EXPECT_TRUE(other.writeInteger(checkstore::ShowUpdate, 0));
    EXPECT_EQ(store.readInteger(checkstore::HowMany, 0), 12);
    EXPECT_EQ(store.readInteger(checkstore::ShowUpdate, 1), 0);
    EXPECT_EQ(store.readString(checkstore::LastUpdateCheck, QString()), QStringLiteral("3/14/26"));
    EXPECT_EQ(store.readString(checkstore::CurrentVersion, QString()), QStringLiteral("a, b; \"c\" = d\\"));
    EXPECT_EQ(store.readInteger(checkstore::CurrentVersion, 7), 7); // not a number
    const QByteArray text = test::readBytes(store.fileName());
    EXPECT_TRUE(text.startsWith("[Settings]\n")) << text.toStdString();
    EXPECT_NE(text.indexOf("HowMany=12"), -1);

    // Something that is not a file where the store should be: no store.
    QDir().mkpath(folder.file(QStringLiteral("c/updatecheck.ini")));
    IniCheckStore blocked(disk, folder.file(QStringLiteral("c")));
    EXPECT_FALSE(blocked.open());
    EXPECT_FALSE(blocked.writeInteger(checkstore::HowMany, 1));
    EXPECT_EQ(blocked.readInteger(checkstore::HowMany, 0), 0);
}

// What stands in the store's place is only read when it is a regular file of store size; a pipe or a device is a
// store that does not open, at once. A pipe where the lock file of Qt's own INI files went is nothing to this store.
TEST(CheckStoreTest, OnlyARegularFileOfStoreSizeIsRead) {
    test::TempFolder folder;
    DiskFileSystem disk;
    const QString file = folder.file(QStringLiteral("updatecheck.ini"));
    const QByteArray native = QFile::encodeName(file);
    const struct {
        const char* name;
        std::function<void()> make;
    } cases[] = {
        {"pipe", [&] { ASSERT_EQ(::mkfifo(native.constData(), 0644), 0); }},
        {"link to /dev/zero", [&] { ASSERT_EQ(::symlink("/dev/zero", native.constData()), 0); }},
        {"a store with a megabyte after it",
         [&] { test::writeBytes(file, "[Settings]\nHowMany=4\n" + QByteArray(1 << 20, ';')); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(native.constData());
        c.make();
        IniCheckStore store(disk, folder.path());
        EXPECT_FALSE(store.open());
        EXPECT_EQ(store.readInteger(checkstore::HowMany, 0), 0);
        EXPECT_FALSE(store.writeInteger(checkstore::HowMany, 5));
    }

    ::unlink(native.constData());
    ASSERT_EQ(::mkfifo(QFile::encodeName(file + QStringLiteral(".lock")).constData(), 0644), 0);
    IniCheckStore store(disk, folder.path());
    ASSERT_TRUE(store.open());
    EXPECT_TRUE(store.writeInteger(checkstore::HowMany, 5));
    EXPECT_EQ(store.readInteger(checkstore::HowMany, 0), 5);
}

// Stores written by Qt's own INI files (earlier versions kept the store so) read back value for value, and a value
// this store writes reads back in Qt's as well.
TEST(CheckStoreTest, ReadsAndWritesTheValuesOfQtsIniFiles) {
    test::TempFolder folder;
    DiskFileSystem disk;
    const QString values[] = {
        QStringLiteral("3/14/26"),           QStringLiteral("14.03.26"),  QStringLiteral("A0B1C2"),
        QStringLiteral("a, b; \"c\" = d\\"), QStringLiteral(" padded "),  QStringLiteral("@at the start"),
        QStringLiteral("Größe 日本"),        QStringLiteral("tab\there"), QString(),
    };
    for (const QString& value : values) {
        SCOPED_TRACE(value.toStdString());
        const QString file = folder.file(QStringLiteral("updatecheck.ini"));
        QFile::remove(file);
        {
            QSettings qt(file, QSettings::IniFormat);
            qt.setValue(QStringLiteral("Settings/CurrentVersion"), value);
            qt.setValue(QStringLiteral("Settings/HowMany"), 3);
        }
        IniCheckStore store(disk, folder.path());
        ASSERT_TRUE(store.open());
        EXPECT_EQ(store.readString(checkstore::CurrentVersion, QStringLiteral("none")), value);
        EXPECT_EQ(store.readInteger(checkstore::HowMany, 0), 3);

        QFile::remove(file);
        ASSERT_TRUE(store.writeString(checkstore::CurrentVersion, value));
        EXPECT_EQ(store.readString(checkstore::CurrentVersion, QStringLiteral("none")), value);
        EXPECT_EQ(QSettings(file, QSettings::IniFormat).value(QStringLiteral("Settings/CurrentVersion")).toString(),
                  value);
    }
}

// The state folder is the file system service's: the Linux one's XDG rules are tested with it.
using CheckStoreFolderTest = test::PlatformTest;

TEST_F(CheckStoreFolderTest, LivesInTheUsersStateFolder) {
    EXPECT_EQ(checkStoreFolder(m_files, QStringLiteral("Zemtrak"), QStringLiteral("Clavora")),
              m_files.stateFolder + QStringLiteral("/Zemtrak/Clavora"));
}

} // namespace
