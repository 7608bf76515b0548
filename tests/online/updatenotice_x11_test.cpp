// The update-available notice on the rig's X display: where it appears, the countdown that closes it whatever the
// user does, dragging, the link and the close button.
#include "online/updatenotice.h"
#include "online/widgetnames.h"
#include "platform/fake/fakeshell.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace clavora;
using namespace clavora::online;

namespace {

class UpdateNoticeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            GTEST_SKIP() << "needs the rig's X display";
        }
    }

    std::unique_ptr<UpdateNotice> makeNotice(const QString& version = QStringLiteral("3.3"),
                                             const QString& url = QStringLiteral("https://www.zemtrak.com/get/")) {
        UpdateNoticeContent content;
        content.productName = QStringLiteral("Clavora");
        content.version = version;
        content.downloadUrl = url;
        content.homePageUrl = QStringLiteral("https://www.zemtrak.com/");
        content.icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
        content.translate = [](const QString& text) {
            return text == QLatin1String("UPDATE AVAILABLE") ? QStringLiteral("AKTUALISIERUNG VERFÜGBAR") : text;
        };
        content.shell = &shell;
        auto notice = std::make_unique<UpdateNotice>(content);
        return notice;
    }

    // Waits until the notice is up and its opening animation is over.
    static void waitUntilShown(UpdateNotice& notice) {
        ASSERT_TRUE(test::waitFor([&] { return notice.isVisible() && notice.size() == QSize(320, 68); }, 10000));
        auto* opening = notice.findChild<QTimer*>(QString(widgetnames::updatenotice::OpenTimer));
        ASSERT_TRUE(test::waitFor([&] { return opening == nullptr || !opening->isActive(); }, 10000));
    }

    // A mouse event on Target as the window system delivers it: Global is where the pointer is on the screen.
    static void send(QWidget* target, QEvent::Type type, Qt::MouseButton button, QPoint global) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, QPointF(target->mapFromGlobal(global)), QPointF(global),
                          type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
    // Press on Target, two moves of the pointer adding up to By, release.
    static void drag(QWidget* target, Qt::MouseButton button, QPoint by) {
        const QPoint from = target->mapToGlobal(QPoint(10, 10));
        send(target, QEvent::MouseButtonPress, button, from);
        send(target, QEvent::MouseMove, button, from + by / 2);
        send(target, QEvent::MouseMove, button, from + by);
        send(target, QEvent::MouseButtonRelease, button, from + by);
    }

    platform::FakeShell shell;
};

TEST_F(UpdateNoticeTest, AppearsAtTheTopRightOfThePrimaryScreenAsAPlainTextToolWindow) {
    auto notice = makeNotice(QStringLiteral("<b>4.0</b>"));
    EXPECT_FALSE(notice->isVisible()); // made hidden, shown a moment later
    waitUntilShown(*notice);

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(screen.width(), 1280);
    EXPECT_EQ(notice->geometry(), QRect(screen.width() - 320 - 5, 5, 320, 68));
    EXPECT_EQ(notice->frameGeometry().topLeft(), QPoint(955, 5));
    EXPECT_TRUE(notice->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(notice->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(notice->windowType(), Qt::Tool); // no task-bar button of its own
    EXPECT_FALSE(notice->isActiveWindow());

    auto* title = test::namedChild<QLabel>(*notice, widgetnames::updatenotice::TitleLabel);
    auto* link = test::namedChild<QLabel>(*notice, widgetnames::updatenotice::DownloadLink);
    auto* image = test::namedChild<QLabel>(*notice, widgetnames::updatenotice::Icon);
    EXPECT_EQ(title->text(), QStringLiteral("AKTUALISIERUNG VERFÜGBAR"));
    EXPECT_EQ(link->text(), QStringLiteral("Click to download Clavora <b>4.0</b>"));
    EXPECT_EQ(link->textFormat(), Qt::PlainText); // the server's text is shown, not rendered
    EXPECT_EQ(title->textFormat(), Qt::PlainText);
    EXPECT_FALSE(image->pixmap().isNull());
}

// Eleven seconds: eleven rounds of a one-second timer that runs from the notice's making. The test runs the rounds
// faster; what it checks is that the notice is still up after the tenth and goes at the eleventh.
TEST_F(UpdateNoticeTest, ClosesByItselfElevenSecondsAfterItWasMadeEvenDuringADrag) {
    auto notice = makeNotice();
    auto* closing = notice->findChild<QTimer*>(QString(widgetnames::updatenotice::CloseTimer));
    ASSERT_NE(closing, nullptr);
    EXPECT_TRUE(closing->isActive());
    EXPECT_EQ(closing->interval(), 1000);
    EXPECT_EQ(notice->closeCountdown(), 11);
    waitUntilShown(*notice);
    // A drag begun and never finished, with the pointer resting over the link, holds nothing up.
    auto* image = test::namedChild<QLabel>(*notice, widgetnames::updatenotice::Icon);
    send(image, QEvent::MouseButtonPress, Qt::LeftButton, image->mapToGlobal(QPoint(5, 5)));
    QCursor::setPos(
        test::namedChild<QLabel>(*notice, widgetnames::updatenotice::DownloadLink)->mapToGlobal(QPoint(20, 10)));
    int rounds = 0;
    bool upAfterTheTenth = false;
    QObject::connect(closing, &QTimer::timeout, [&] {
        if (++rounds == 10) {
            upAfterTheTenth = notice->isVisible();
        }
    });
    closing->setInterval(20);
    ASSERT_TRUE(test::waitFor([&] { return !notice->isVisible(); }, 20000));
    EXPECT_TRUE(upAfterTheTenth);
    EXPECT_EQ(rounds, 11);
    EXPECT_EQ(notice->closeCountdown(), 0);
    EXPECT_TRUE(shell.opened.isEmpty());
}

TEST_F(UpdateNoticeTest, DragsWithAnyButtonButTheRight) {
    auto notice = makeNotice();
    waitUntilShown(*notice);
    const QPoint home = notice->pos();

    drag(test::namedChild<QLabel>(*notice, widgetnames::updatenotice::Icon), Qt::RightButton, QPoint(-100, 40));
    EXPECT_EQ(notice->pos(), home);

    drag(test::namedChild<QLabel>(*notice, widgetnames::updatenotice::Icon), Qt::LeftButton, QPoint(-100, 40));
    EXPECT_EQ(notice->pos(), home + QPoint(-100, 40));

    drag(test::namedChild<QLabel>(*notice, widgetnames::updatenotice::TitleLabel), Qt::MiddleButton, QPoint(-30, 20));
    EXPECT_EQ(notice->pos(), home + QPoint(-130, 60));

    // The text panel is no drag source.
    drag(test::namedChild<QWidget>(*notice, widgetnames::updatenotice::TextPanel), Qt::LeftButton, QPoint(50, 50));
    EXPECT_EQ(notice->pos(), home + QPoint(-130, 60));
    EXPECT_TRUE(notice->isVisible());
}

TEST_F(UpdateNoticeTest, TheLinkOpensTheHomePageWhenTheAddressIsEmptyAndClosesTheNotice) {
    auto notice = makeNotice(QStringLiteral("3.3"), QString());
    waitUntilShown(*notice);
    QTest::mouseClick(test::namedChild<QLabel>(*notice, widgetnames::updatenotice::DownloadLink), Qt::LeftButton);
    EXPECT_EQ(shell.opened, QStringList{QStringLiteral("https://www.zemtrak.com/")});
    EXPECT_FALSE(notice->isVisible());
}

TEST_F(UpdateNoticeTest, OnlyWebAddressesAreOpenedAndTheNoticeClosesAnyway) {
    for (const QString& url : {QStringLiteral("file:///etc/passwd"), QStringLiteral("javascript:alert(1)"),
                               QStringLiteral("/usr/bin/xterm")}) {
        auto notice = makeNotice(QStringLiteral("3.3"), url);
        waitUntilShown(*notice);
        QTest::mouseClick(test::namedChild<QLabel>(*notice, widgetnames::updatenotice::DownloadLink), Qt::LeftButton);
        EXPECT_FALSE(notice->isVisible()) << url.toStdString();
    }
    EXPECT_TRUE(shell.opened.isEmpty());

    auto notice = makeNotice(QStringLiteral("3.3"), QStringLiteral("http://www.zemtrak.com/get/"));
    waitUntilShown(*notice);
    QTest::mouseClick(test::namedChild<QLabel>(*notice, widgetnames::updatenotice::DownloadLink), Qt::RightButton);
    EXPECT_TRUE(notice->isVisible()); // a click is the left button's
    QTest::mouseClick(test::namedChild<QLabel>(*notice, widgetnames::updatenotice::DownloadLink), Qt::LeftButton);
    EXPECT_EQ(shell.opened, QStringList{QStringLiteral("http://www.zemtrak.com/get/")});
}

TEST_F(UpdateNoticeTest, TheCloseButtonHidesItAndTheLinkLightsUpUnderThePointer) {
    auto notice = makeNotice();
    waitUntilShown(*notice);
    auto* link = test::namedChild<QLabel>(*notice, widgetnames::updatenotice::DownloadLink);

    QCursor::setPos(notice->mapToGlobal(QPoint(-50, 200)));
    EXPECT_TRUE(test::waitFor(
        [&] { return link->palette().color(QPalette::WindowText) == notice->palette().color(QPalette::WindowText); },
        10000));
    QCursor::setPos(link->mapToGlobal(link->rect().center()));
    EXPECT_TRUE(test::waitFor(
        [&] { return link->palette().color(QPalette::WindowText) == notice->palette().color(QPalette::Highlight); },
        10000));
    EXPECT_NE(notice->palette().color(QPalette::Highlight), notice->palette().color(QPalette::WindowText));

    QTest::mouseClick(test::namedChild<QToolButton>(*notice, widgetnames::updatenotice::CloseButton), Qt::LeftButton);
    EXPECT_FALSE(notice->isVisible());
    EXPECT_TRUE(shell.opened.isEmpty());
    EXPECT_NE(notice->findChild<QLabel*>(QString(widgetnames::updatenotice::DownloadLink)),
              nullptr); // hidden, not destroyed
}

} // namespace
