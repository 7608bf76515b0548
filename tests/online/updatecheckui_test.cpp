// The main window's side of the update check: the "Update Notifications" command, the server's message box and the
// one notice of a run, driven through the checker's signals.
#include "app/widgetnames.h"
#include "online/feedbackdialog.h"
#include "online/modalwork.h"
#include "online/updatechecker.h"
#include "online/updatecheckui.h"
#include "online/widgetnames.h"
#include "platform/fake/fakeservices.h"
#include "tests/online/localservers.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
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
            makeUpdateCheckContext(fakes, QStringLiteral("Zemtrak"), QStringLiteral("Clavora"), QStringLiteral("3.2"));
        context.storeFolder = folder.file(QStringLiteral("state"));
        checker = new UpdateChecker(context, &window);
        QMenu* help = window.menuBar()->addMenu(QStringLiteral("Help"));
        command = help->addAction(QStringLiteral("Update Notifications"));
        command->setObjectName(QString(widgetnames::UpdateNotificationsAction));
        command->setCheckable(true);
        command->setChecked(true);
        command->setEnabled(false);
        UpdateNoticeContent notice;
        notice.productName = QStringLiteral("Clavora");
        notice.homePageUrl = QStringLiteral("https://www.zemtrak.com/");
        notice.shell = &fakes.shell;
        notice.translate = [](const QString& text) { return QStringLiteral("[") + text + QStringLiteral("]"); };
        ui = new UpdateCheckUi(*checker, *command, window, notice);
    }

    // Read from the file itself: QSettings keeps what it read of a file and may not see a rewrite of the same size
    // within the same moment.
    int storedShowUpdate() const {
        const QString path = folder.file(QStringLiteral("state/updatecheck.ini"));
        if (!QFile::exists(path)) {
            return -1;
        }
        bool inSettings = false;
        for (const QByteArray& raw : test::readBytes(path).split('\n')) {
            const QByteArray line = raw.trimmed();
            if (line.startsWith('[')) {
                inSettings = line == "[Settings]";
            } else if (inSettings && line.startsWith("ShowUpdate=")) {
                return line.mid(int(sizeof("ShowUpdate=") - 1)).toInt();
            }
        }
        return -1;
    }

    platform::FakeServices fakes;
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
    EXPECT_EQ(test::namedChild<QLabel>(*notice, widgetnames::updatenotice::TitleLabel)->text(),
              QStringLiteral("[UPDATE AVAILABLE]"));
    EXPECT_EQ(test::namedChild<QLabel>(*notice, widgetnames::updatenotice::DownloadLink)->text(),
              QStringLiteral("[Click to download] Clavora 3.3"));
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

// The message that comes while a feedback is being sent waits until the send and its box are over, then comes up
// over the main window like any box, and can be closed.
TEST_F(UpdateCheckUiTest, TheServersMessageWaitsForAFeedbackBeingSent) {
    test::SilentListener silent; // each attempt runs into its time-out
    FeedbackContext context;
    context.productName = QStringLiteral("Clavora");
    context.endpoint = feedbackEndpoint(silent.host());
    context.timeoutMs = 300;
    FeedbackDialog dialog(context, &window);
    dialog.setWindowModality(Qt::ApplicationModal); // as the window's Help menu opens it
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    test::namedChild<QPlainTextEdit>(dialog, widgetnames::feedback::FeedbackText)
        ->setPlainText(QStringLiteral("Hello"));

    // Answers each box as it comes up, noting whether the feedback was still being sent then.
    struct Seen {
        QString name;
        bool duringTheSend;
    };
    QList<Seen> seen;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            seen.append({box->objectName(), dialog.isSending()});
            box->button(QMessageBox::Ok)->click();
        }
    });
    answerer.start(10);

    dialog.send();
    ASSERT_TRUE(dialog.isSending());
    emit checker->importantMessage(QStringLiteral("Read this"));
    ASSERT_TRUE(test::waitFor([&] { return seen.size() == 2; }, 20000));
    EXPECT_EQ(seen[0].name, QString(widgetnames::feedback::FailureBox));
    EXPECT_EQ(seen[1].name, QString(widgetnames::updates::ImportantMessage));
    EXPECT_FALSE(seen[1].duringTheSend);
    EXPECT_FALSE(ModalWork::instance().inProgress());
    EXPECT_EQ(QApplication::activeModalWidget(), &dialog); // the message's box is closed
}

} // namespace
