// Minimizing, the notification-area icon and the /auto start, on a real X display with a tray.
#include "app/identity.h"
#include "app/main.h"
#include "platform/fake/fakeautostart.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QSystemTrayIcon>
#include <QTest>
#include <gtest/gtest.h>

using namespace clavora;
using clavora::test::namedAction;
using clavora::test::namedChild;

namespace {

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") {
            GTEST_SKIP() << "needs the X display of the test rig";
        }
        if (!QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000)) {
            GTEST_SKIP() << "no notification area on this display";
        }
        ASSERT_TRUE(QDir().mkpath(FRoot.file("program")));
        ASSERT_TRUE(QFile::copy(test::programDir() + "/clavora", FRoot.file("program/clavora")));
        FFs.programFile = FRoot.file("program/clavora");
        FFs.configFolder = FRoot.file("config");
        FAutostart.entries["Zemtrak - Clavora"] = "\"x\" /auto";
    }

    std::unique_ptr<TAppForm> showForm(const QStringList& arguments, const QByteArray& settings) {
        test::writeBytes(FRoot.file("program/settings.ini"), settings);
        auto form = std::make_unique<TAppForm>(arguments);
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        return form;
    }

    test::TempFolder FRoot;
    platform::FakeFileSystem FFs;
    platform::FakeAutostart FAutostart;
    platform::ScopedService<platform::IFileSystem> FUseFs{FFs};
    platform::ScopedService<platform::IAutostart> FUseAutostart{FAutostart};
};

bool hiddenToTray(TAppForm& form) {
    return !form.isVisible() && form.isMinimized() && namedChild<QSystemTrayIcon>(form, "TrayIcon1")->isVisible() &&
           namedChild<QSystemTrayIcon>(form, "TrayIcon1")->toolTip() == AppTitle;
}

TEST_F(TrayTest, MinimizingWithoutTheOptionKeepsTheTaskBarButton) {
    auto form = showForm({}, "[Settings]\nMinimizeToSystemTray=OFF\n");
    form->showMinimized();
    QTest::qWait(300);
    EXPECT_TRUE(form->isMinimized());
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(namedChild<QSystemTrayIcon>(*form, "TrayIcon1")->isVisible());
}

TEST_F(TrayTest, MinimizingWithTheOptionHidesToTheTrayAndAClickBringsItBack) {
    auto form = showForm({}, "[Settings]\nMinimizeToSystemTray=ON\n");
    form->showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return hiddenToTray(*form); }, 3000));
    EXPECT_EQ(namedChild<QSystemTrayIcon>(*form, "TrayIcon1")->toolTip(), "Zemtrak - Clavora");

    emit namedChild<QSystemTrayIcon>(*form, "TrayIcon1")->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->isVisible() && !form->isMinimized(); }, 3000));
    EXPECT_FALSE(namedChild<QSystemTrayIcon>(*form, "TrayIcon1")->isVisible());
}

TEST_F(TrayTest, AutoSwitchHidesToTheTrayOnlyAsFirstArgument) {
    const QByteArray both = "[Settings]\nMinimizeToSystemTray=ON\nMinimizeStartup=ON\n";
    for (const QString& argument : {"/auto", "/AUTO", "/Auto"}) {
        SCOPED_TRACE(argument.toStdString());
        auto form = showForm({argument}, both);
        EXPECT_TRUE(QTest::qWaitFor([&] { return hiddenToTray(*form); }, 3000));
    }
    {
        auto form = showForm({"--x", "/auto"}, both);
        QTest::qWait(400);
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(namedChild<QSystemTrayIcon>(*form, "TrayIcon1")->isVisible());
    }
    {
        // Auto Minimize at Startup unchecked: the switch is ignored.
        auto form = showForm({"/auto"}, "[Settings]\nMinimizeToSystemTray=ON\nMinimizeStartup=OFF\n");
        QTest::qWait(400);
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(form->isMinimized());
    }
    {
        // Without the tray option it minimizes to the task bar.
        auto form = showForm({"/auto"}, "[Settings]\nMinimizeToSystemTray=OFF\nMinimizeStartup=ON\n");
        EXPECT_TRUE(QTest::qWaitFor([&] { return form->isMinimized(); }, 3000));
        EXPECT_FALSE(namedChild<QSystemTrayIcon>(*form, "TrayIcon1")->isVisible());
    }
}

} // namespace
