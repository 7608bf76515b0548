// The main window's side of the update check: the "Update Notifications" command, the server's message box and the
// one notice of a run, driven through the checker's signals.
#include "online/updatechecker.h"
#include "online/updatecheckui.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace clavora;
using namespace clavora::online;

namespace {

class UpdateCheckUiTest : public ::testing::Test {
protected:
    UpdateCheckUiTest() {
        UpdateCheckContext context =
            makeUpdateCheckContext(QStringLiteral("Zemtrak"), QStringLiteral("Clavora"), QStringLiteral("3.2"));
        context.storeFolder = folder.file(QStringLiteral("state"));
        checker = new UpdateChecker(context, &window);
        QMenu* help = window.menuBar()->addMenu(QStringLiteral("Help"));
        command = help->addAction(QStringLiteral("Update Notifications"));
        command->setObjectName(QStringLiteral("UpdateNotifications1"));
        command->setCheckable(true);
        command->setChecked(true);
        command->setEnabled(false);
        UpdateNoticeContent notice;
        notice.productName = QStringLiteral("Clavora");
        notice.homePageUrl = QStringLiteral("https://www.zemtrak.com/");
        notice.translate = [](const QString& text) { return QStringLiteral("[") + text + QStringLiteral("]"); };
        ui = new UpdateCheckUi(*checker, *command, window, notice);
    }

    int storedShowUpdate() const {
        return QSettings(folder.file(QStringLiteral("state/updatecheck.ini")), QSettings::IniFormat)
            .value(QStringLiteral("Settings/ShowUpdate"), -1)
            .toInt();
    }

    test::TempFolder folder;
    QMainWindow window;
    UpdateChecker* checker = nullptr;
    QAction* command = nullptr;
    UpdateCheckUi* ui = nullptr;
};

TEST_F(UpdateCheckUiTest, TheCommandBecomesUsableWhenTheCheckIsDoneAndStoresItsState) {
    emit checker->checkFinished(true);
    EXPECT_TRUE(command->isEnabled());
    EXPECT_TRUE(command->isChecked());

    command->trigger();
    EXPECT_FALSE(command->isChecked());
    EXPECT_EQ(storedShowUpdate(), 0);
    command->trigger();
    EXPECT_TRUE(command->isChecked());
    EXPECT_EQ(storedShowUpdate(), 1);
}

TEST_F(UpdateCheckUiTest, NotificationsSwitchedOffLeaveTheCommandUnchecked) {
    emit checker->checkFinished(false);
    EXPECT_TRUE(command->isEnabled());
    EXPECT_FALSE(command->isChecked());
    EXPECT_EQ(ui->notice(), nullptr);
}

TEST_F(UpdateCheckUiTest, OneNoticePerRunWithTheServersVersion) {
    emit checker->checkFinished(true);
    emit checker->showNotice(QStringLiteral("3.3"), QStringLiteral("https://www.zemtrak.com/get/"));
    UpdateNotice* notice = ui->notice();
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(test::namedChild<QLabel>(*notice, "Label1")->text(), QStringLiteral("[UPDATE AVAILABLE]"));
    EXPECT_EQ(test::namedChild<QLabel>(*notice, "Label2")->text(), QStringLiteral("[Click to download] Clavora 3.3"));
    ASSERT_TRUE(test::waitFor([&] { return notice->isVisible(); }, 5000));

    emit checker->showNotice(QStringLiteral("3.4"), QString());
    EXPECT_EQ(ui->notice(), notice);
}

TEST_F(UpdateCheckUiTest, TheServersMessageIsAModalPlainTextWarning) {
    QString caption;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        format = box->textFormat();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    emit checker->importantMessage(QStringLiteral("Read <b>this</b> <img src=x>"));
    EXPECT_EQ(caption, QStringLiteral("[IMPORTANT]"));
    EXPECT_EQ(text, QStringLiteral("Read <b>this</b> <img src=x>"));
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(icon, QMessageBox::Warning);
}

} // namespace
