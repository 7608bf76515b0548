// The feedback dialog: the message it builds, the e-mail check, the reply it counts as delivered, and the dialog
// itself sending to local servers, with its boxes, its panels and its keys.
#include "online/feedback.h"
#include "online/feedbackdialog.h"
#include "online/modalwork.h"
#include "online/widgetnames.h"
#include "platform/process.h"
#ifdef CLAVORA_PLATFORM_LINUX
#include "platform/posix/linuxprocess.h"
#endif
#include "tests/online/localservers.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>

using namespace clavora;
using namespace clavora::online;
using clavora::test::LocalServer;
using clavora::test::TestAuthority;

namespace {

// Messages ---------------------------------------------------------------------------------------------------------

TEST(FeedbackMessageTest, ChoicesComeFirstInEnglishWithTheShownCaptionWhereItDiffers) {
    const FeedbackChoice like{true, QStringLiteral("I like it!")};
    const FeedbackChoice dislike{true, QStringLiteral("I dislike it!")};
    const FeedbackChoice likeGerman{true, QStringLiteral("Gefällt mir!")};
    const FeedbackChoice dislikeGerman{true, QStringLiteral("Gefällt mir nicht!")};
    const FeedbackChoice none{false, QStringLiteral("Gefällt mir!")};
    struct Case {
        FeedbackChoice like;
        FeedbackChoice dislike;
        QString text;
        QString expected;
    };
    const Case cases[] = {
        {like, none, QStringLiteral("Nice"), QStringLiteral("I like it!\rNice")},
        {none, dislike, QStringLiteral("Meh"), QStringLiteral("I dislike it!\rMeh")},
        {none, none, QStringLiteral(" \t\r\nJust text\r\n \x01"), QStringLiteral("Just text")},
        {like, dislike, QStringLiteral("Both"), QStringLiteral("I like it!\rI dislike it!\rBoth")},
        {likeGerman, none, QStringLiteral("Gut"), QStringLiteral("I like it! (Gefällt mir!)\rGut")},
        {none, dislikeGerman, QStringLiteral("Schlecht"),
         QStringLiteral("I dislike it! (Gefällt mir nicht!)\rSchlecht")},
        {like, none, QStringLiteral("line one\r\n\r\nline two"),
         QStringLiteral("I like it!\rline one\r\n\r\nline two")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(buildFeedbackMessage(c.like, c.dislike, c.text), c.expected) << c.expected.toStdString();
    }
}

TEST(FeedbackMessageTest, FieldsInOrderAndTheAddressOnlyWhenGiven) {
    const FormFields withAddress = feedbackFields(QStringLiteral("Zemtrak - Clavora"), QStringLiteral("1.0"),
                                                  QStringLiteral("Hi"), QStringLiteral("a@b.cd"));
    const FormFields expected{{QStringLiteral("cmd"), QStringLiteral("feedback")},
                              {QStringLiteral("appname"), QStringLiteral("Zemtrak - Clavora")},
                              {QStringLiteral("version"), QStringLiteral("1.0")},
                              {QStringLiteral("feedback"), QStringLiteral("Hi")},
                              {QStringLiteral("email"), QStringLiteral("a@b.cd")}};
    EXPECT_EQ(withAddress, expected);
    EXPECT_EQ(
        feedbackFields(QStringLiteral("Zemtrak - Clavora"), QStringLiteral("1.0"), QStringLiteral("Hi"), QString()),
        expected.mid(0, 4));
}

TEST(FeedbackMessageTest, OnlyOkIsDelivered) {
    const std::pair<const char*, bool> cases[] = {
        {"OK", true}, {"OK\r\n", true}, {"OK\n", true}, {" \tOK \r\n", true}, {"ok", false},     {"Ok", false},
        {"", false},  {"OKAY", false},  {"OK!", false}, {"O K", false},       {"OK\nOK", false}, {"\nOK", true},
    };
    for (const auto& [reply, delivered] : cases) {
        EXPECT_EQ(isFeedbackDelivered(QString::fromLatin1(reply)), delivered) << reply;
    }
}

TEST(EmailCheckTest, TheServersPatternAsWritten) {
    const std::pair<QString, bool> cases[] = {
        {QStringLiteral("a@b.cd"), true},
        {QStringLiteral("first.last+tag_x-y@sub-domain.example.com"), true},
        {QStringLiteral("a@b.c"), true},
        {QStringLiteral("a@b..c"), true}, // dots may repeat after the first one
        {QStringLiteral("a@b-.c-d.e"), true},
        {QStringLiteral("A@B.CD"), true},
        {QStringLiteral("a@bcd"), false},   // no "." after the "@"
        {QStringLiteral("a@b.cd."), false}, // ends with "."
        {QStringLiteral("a@b.cd-"), false}, // ends with "-"
        {QStringLiteral("a b@c.de"), false},
        {QStringLiteral("a@b.c d"), false},
        {QStringLiteral("@b.cd"), false},
        {QStringLiteral("a@.cd"), false},
        {QStringLiteral("a@@b.cd"), false},
        {QStringLiteral("ü@b.cd"), false},
        {QStringLiteral("a@b.cd\n"), false}, // the whole address: no final line break before the end
        {QString::fromUtf16(u"a@b.c\U0001F600"), false},
        {QString(), false},
    };
    for (const auto& [address, valid] : cases) {
        EXPECT_EQ(isValidEmail(address), valid) << address.toStdString();
    }
}

// The dialog ------------------------------------------------------------------------------------------------------

using Fields = QList<std::pair<QString, QString>>;

// The form fields of a request body, decoded.
Fields fieldsOf(const std::string& body) {
    QString text = QString::fromStdString(body);
    text.replace(QLatin1Char('+'), QLatin1String("%20"));
    Fields fields;
    for (const auto& [name, value] : QUrlQuery(text).queryItems(QUrl::FullyDecoded)) {
        fields.append({name, value});
    }
    return fields;
}

// What a message box showed; the box is answered with OK.
struct SeenBox {
    QString name;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
};

// Answers every message box that comes up while it lives, recording it.
class BoxAnswerer {
public:
    BoxAnswerer() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) {
                return;
            }
            boxes.append({box->objectName(), box->windowTitle(), box->text(), box->icon(), box->textFormat()});
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start(10);
    }
    QList<SeenBox> boxes;

private:
    QTimer m_timer;
};

QString bracketed(const QString& text) {
    return QLatin1Char('[') + text + QLatin1Char(']');
}

class FeedbackDialogTest : public ::testing::Test {
protected:
    FeedbackContext context(const QString& host, bool translated = false) {
        FeedbackContext c;
        c.productName = QStringLiteral("Clavora");
        c.appTitle = QStringLiteral("Zemtrak - Clavora");
        c.appVersion = QStringLiteral("1.0");
        c.endpoint = feedbackEndpoint(host);
        c.caFile = authority.caFile();
        if (translated) {
            c.translate = bracketed;
        }
        return c;
    }

    // A dialog on screen, as the main window shows it.
    std::unique_ptr<FeedbackDialog> open(const FeedbackContext& c) {
        auto dialog = std::make_unique<FeedbackDialog>(c);
        dialog->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        return dialog;
    }

    static ChoicePanel* like(FeedbackDialog& d) {
        return test::namedChild<ChoicePanel>(d, widgetnames::feedback::LikeChoice);
    }
    static ChoicePanel* dislike(FeedbackDialog& d) {
        return test::namedChild<ChoicePanel>(d, widgetnames::feedback::DislikeChoice);
    }
    static QPlainTextEdit* text(FeedbackDialog& d) {
        return test::namedChild<QPlainTextEdit>(d, widgetnames::feedback::FeedbackText);
    }
    static QLineEdit* email(FeedbackDialog& d) {
        return test::namedChild<QLineEdit>(d, widgetnames::feedback::EmailField);
    }
    static QPushButton* sendButton(FeedbackDialog& d) {
        return test::namedChild<QPushButton>(d, widgetnames::feedback::SendButton);
    }

    // Starts the send with Start (the button, or send()) and waits until it has ended and its box was answered.
    template <class F> static void sendAndWait(FeedbackDialog& d, F start) {
        QSignalSpy finished(&d, &FeedbackDialog::sendFinished);
        start();
        EXPECT_TRUE(test::waitFor([&] { return !finished.isEmpty(); }, 20000));
    }
    static void sendAndWait(FeedbackDialog& d) {
        sendAndWait(d, [&] { d.send(); });
    }

    TestAuthority authority;
    LocalServer server{&authority};
};

TEST_F(FeedbackDialogTest, TranslatedTextsAndLimits) {
    auto dialog = open(context(server.host(), true));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Clavora [feedback]"));
    EXPECT_EQ(like(*dialog)->caption(), QStringLiteral("[I like it!]"));
    EXPECT_EQ(dislike(*dialog)->caption(), QStringLiteral("[I dislike it!]"));
    EXPECT_EQ(sendButton(*dialog)->text(), QStringLiteral("[Send]"));
    EXPECT_EQ(test::namedChild<QLabel>(*dialog, widgetnames::feedback::EmailLabel)->text(),
              QStringLiteral("[Include my e-mail:]"));
    EXPECT_EQ(dialog->size(), QSize(FeedbackDialog::ClientWidth, FeedbackDialog::ClientHeight));

    EXPECT_EQ(email(*dialog)->maxLength(), 100);
    text(*dialog)->setPlainText(QString(10005, QLatin1Char('x')));
    EXPECT_EQ(text(*dialog)->toPlainText().size(), 10000);
}

TEST_F(FeedbackDialogTest, LeftClicksChooseAndWithdrawRightClicksDoNothing) {
    // The program's visual style paints every surface; the panels keep their own colours all the same.
    qApp->setStyleSheet(QStringLiteral("QWidget { background-color: #e3e8ee; color: #1f2a36; }"));
    const auto restore = qScopeGuard([] { qApp->setStyleSheet(QString()); });
    auto dialog = open(context(server.host()));
    ChoicePanel* l = like(*dialog);
    ChoicePanel* d = dislike(*dialog);
    const QPalette system = QApplication::palette();
    // What the panel looks like on screen, inside its edge and clear of its picture and caption.
    const auto shown = [](ChoicePanel* panel) {
        return panel->grab().toImage().pixelColor(panel->width() - 4, panel->height() / 2);
    };
    EXPECT_EQ(shown(l), system.color(QPalette::Button));

    QTest::mouseClick(l, Qt::RightButton);
    EXPECT_FALSE(l->isSelected());
    QTest::mouseClick(l, Qt::LeftButton);
    EXPECT_TRUE(l->isSelected());
    EXPECT_EQ(shown(l), system.color(QPalette::Highlight));
    EXPECT_EQ(l->foreground(), system.color(QPalette::HighlightedText));
    EXPECT_EQ(l->frameShadow(), QFrame::Sunken);
    QTest::mouseClick(l, Qt::LeftButton);
    EXPECT_FALSE(l->isSelected());
    EXPECT_EQ(shown(l), system.color(QPalette::Button));
    EXPECT_EQ(l->frameShadow(), QFrame::Raised);

    QTest::mouseClick(l, Qt::LeftButton);
    QTest::mouseClick(d, Qt::LeftButton);
    EXPECT_FALSE(l->isSelected());
    EXPECT_TRUE(d->isSelected());
    QTest::mouseClick(d, Qt::RightButton);
    EXPECT_TRUE(d->isSelected());
}

TEST_F(FeedbackDialogTest, ATranslatedLikeAndAnAddressReachTheServerInOrder) {
    server.setReply("OK\r\n");
    auto dialog = open(context(server.host(), true));
    QTest::mouseClick(like(*dialog), Qt::LeftButton);
    text(*dialog)->setPlainText(QStringLiteral("  Nice\r\n"));
    email(*dialog)->setText(QStringLiteral(" me@example.org "));

    BoxAnswerer answerer;
    sendAndWait(*dialog, [&] { QTest::mouseClick(sendButton(*dialog), Qt::LeftButton); });

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, FeedbackPath);
    const Fields expected{{"cmd", "feedback"},
                          {"appname", "Zemtrak - Clavora"},
                          {"version", "1.0"},
                          {"feedback", "I like it! ([I like it!])\rNice"},
                          {"email", "me@example.org"}};
    EXPECT_EQ(fieldsOf(requests[0].body), expected);

    ASSERT_EQ(answerer.boxes.size(), 1);
    const SeenBox& box = answerer.boxes[0];
    EXPECT_EQ(box.name, QString(widgetnames::feedback::SuccessBox));
    EXPECT_EQ(box.caption, QStringLiteral("[Success]"));
    EXPECT_EQ(box.text, QStringLiteral("[Your feedback is received.]\n\n[Thank you!]"));
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_EQ(box.format, Qt::PlainText);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(FeedbackDialogTest, WithoutAnAddressThereIsNoEmailField) {
    server.setReply("OK");
    auto dialog = open(context(server.host()));
    QTest::mouseClick(dislike(*dialog), Qt::LeftButton);
    text(*dialog)->setPlainText(QStringLiteral("Too loud"));
    BoxAnswerer answerer;
    sendAndWait(*dialog);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const Fields expected{{"cmd", "feedback"},
                          {"appname", "Zemtrak - Clavora"},
                          {"version", "1.0"},
                          {"feedback", "I dislike it!\rToo loud"}};
    EXPECT_EQ(fieldsOf(requests[0].body), expected);
}

TEST_F(FeedbackDialogTest, BlankTextSendsNothingAndShowsNoBox) {
    auto dialog = open(context(server.host()));
    QTest::mouseClick(like(*dialog), Qt::LeftButton);
    text(*dialog)->setPlainText(QStringLiteral("  \r\n\t "));
    email(*dialog)->setFocus();
    BoxAnswerer answerer;
    dialog->send();
    EXPECT_FALSE(dialog->isSending()) << "a request was started";

    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(answerer.boxes.isEmpty());
    EXPECT_EQ(dialog->focusWidget(), text(*dialog));
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(FeedbackDialogTest, AMalformedAddressIsRefusedBeforeSending) {
    auto dialog = open(context(server.host(), true));
    text(*dialog)->setPlainText(QStringLiteral("Hello"));
    email(*dialog)->setText(QStringLiteral("me@example"));
    BoxAnswerer answerer;
    dialog->send();

    EXPECT_TRUE(server.requests().empty());
    ASSERT_EQ(answerer.boxes.size(), 1);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("[Failure]"));
    EXPECT_EQ(answerer.boxes[0].text, QStringLiteral("[Invalid e-mail address!]"));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(dialog->focusWidget(), email(*dialog));
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(FeedbackDialogTest, AnyOtherReplyFailsAndKeepsEverythingEntered) {
    for (const char* reply : {"ok", "", "ERROR\r\n"}) {
        server.setReply(reply);
        auto dialog = open(context(server.host(), true));
        QTest::mouseClick(like(*dialog), Qt::LeftButton);
        text(*dialog)->setPlainText(QStringLiteral("Keep me"));
        email(*dialog)->setText(QStringLiteral("a@b.cd"));
        BoxAnswerer answerer;
        sendAndWait(*dialog);

        ASSERT_EQ(answerer.boxes.size(), 1) << reply;
        EXPECT_EQ(answerer.boxes[0].name, QString(widgetnames::feedback::FailureBox));
        EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("[Failure]"));
        EXPECT_EQ(answerer.boxes[0].text,
                  QStringLiteral("[Something went wrong. Your feedback could not be delivered.]\n\n"
                                 "[Please try again later.]"));
        EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::Critical);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(text(*dialog)->toPlainText(), QStringLiteral("Keep me"));
        EXPECT_EQ(email(*dialog)->text(), QStringLiteral("a@b.cd"));
        EXPECT_TRUE(like(*dialog)->isSelected());
    }
}

// What the user wrote and their address never cross the network in clear: not after a failed handshake, and not
// when HTTPS cannot reach the server at all (its attempts here go to a proxy port where nothing listens).
TEST_F(FeedbackDialogTest, TheFeedbackNeverGoesOverPlainHttp) {
    LocalServer plain;
    plain.setReply("OK");
    const QByteArray closedProxy = QStringLiteral("http://127.0.0.1:%1").arg(test::closedPort()).toLatin1();
    for (const bool httpsUnreachable : {false, true}) {
        test::ScopedEnvironment environment;
        if (httpsUnreachable) {
            environment.set("https_proxy", closedProxy);
            environment.set("no_proxy", QByteArray());
            environment.set("NO_PROXY", QByteArray());
        }
        auto dialog = open(context(plain.host()));
        text(*dialog)->setPlainText(QStringLiteral("Not in clear"));
        email(*dialog)->setText(QStringLiteral("a@b.cd"));
        BoxAnswerer answerer;
        sendAndWait(*dialog);
        ASSERT_EQ(answerer.boxes.size(), 1) << httpsUnreachable;
        EXPECT_EQ(answerer.boxes[0].name, QString(widgetnames::feedback::FailureBox)) << httpsUnreachable;
        EXPECT_TRUE(dialog->isVisible());
    }
    EXPECT_TRUE(plain.requests().empty());
}

TEST_F(FeedbackDialogTest, WhileSendingTheWindowRunsOnButTakesNoInput) {
    test::SilentListener silent; // accepts and never answers: the attempt runs into its time-out
    FeedbackContext c = context(silent.host());
    c.timeoutMs = 800;
    auto dialog = open(c);
    text(*dialog)->setPlainText(QStringLiteral("Anyone there?"));

    int ticks = 0;
    std::optional<Qt::CursorShape> pointer;
    bool sendingSeen = false;
    QTimer during;
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (!dialog->isSending()) {
            return;
        }
        sendingSeen = true;
        ++ticks;
        if (const QCursor* cursor = QApplication::overrideCursor()) {
            pointer = cursor->shape();
        }
        // Neither a click on "Send" nor Escape nor typing gets through while the request runs.
        QTest::mouseClick(sendButton(*dialog), Qt::LeftButton);
        QTest::keyClick(text(*dialog), Qt::Key_Escape);
        QTest::keyClicks(text(*dialog), QStringLiteral("x"));
        dialog->close();
    });
    during.start(50);
    BoxAnswerer answerer;
    sendAndWait(*dialog);
    during.stop();

    EXPECT_TRUE(sendingSeen);
    EXPECT_GE(ticks, 5); // the GUI thread kept running its timers during the 800 ms
    EXPECT_EQ(pointer, Qt::WaitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(silent.connections(), 1); // HTTPS only; the swallowed clicks sent nothing more
    ASSERT_EQ(answerer.boxes.size(), 1);
    EXPECT_EQ(answerer.boxes[0].name, QString(widgetnames::feedback::FailureBox));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(text(*dialog)->toPlainText(), QStringLiteral("Anyone there?"));
}

// An end request while a feedback is being sent waits until the send has returned or given up, then ends the
// program, with no box about the outcome in its way.
TEST_F(FeedbackDialogTest, AnEndRequestDuringASendEndsTheProgramOnceTheSendHasGivenUp) {
#ifndef CLAVORA_PLATFORM_LINUX
    GTEST_SKIP() << "needs the system's end requests";
#else
    ModalWork::instance().holdEndRequests(*qApp);
    platform::LinuxProcess process;
    const std::unique_ptr<platform::IHeld> catcher = process.catchEndRequests([] { QCoreApplication::quit(); });
    ASSERT_NE(catcher, nullptr);
    struct Case {
        const char* name;
        std::function<void()> request;
    };
    const Case cases[] = {
        {"SIGTERM", [] { ::raise(SIGTERM); }},
        {"SIGINT", [] { ::raise(SIGINT); }},
        {"SIGHUP", [] { ::raise(SIGHUP); }},
        // The session manager ends the application with Quit, past QCoreApplication::quit().
        {"session ending",
         [] {
             QEvent quit(QEvent::Quit);
             QCoreApplication::sendEvent(qApp, &quit);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::SilentListener silent; // each attempt runs into its time-out
        FeedbackContext fc = context(silent.host());
        fc.timeoutMs = 300;
        auto dialog = open(fc);
        text(*dialog)->setPlainText(QStringLiteral("Bye"));
        BoxAnswerer answerer;

        bool sendingWhenAsked = false;
        bool sendingAtTheEnd = true;
        int connectionsAtTheEnd = -1;
        QObject scope;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, &scope, [&] {
            sendingAtTheEnd = dialog->isSending();
            connectionsAtTheEnd = silent.connections();
        });
        QTimer::singleShot(0, &scope, [&] {
            dialog->send(); // returns at once: the request runs on
            sendingWhenAsked = dialog->isSending() && ModalWork::instance().inProgress();
            c.request();
        });
        // Only so that a lost end cannot hang the run: the program is expected to end well before.
        QTimer::singleShot(20000, &scope, [] { QCoreApplication::exit(1); });

        EXPECT_EQ(QApplication::exec(), 0) << "the end request was lost";
        EXPECT_TRUE(sendingWhenAsked);
        EXPECT_FALSE(sendingAtTheEnd);
        EXPECT_EQ(connectionsAtTheEnd, 1); // the one HTTPS attempt (feedback is never retried in clear) gave up first
        EXPECT_TRUE(answerer.boxes.isEmpty());
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_FALSE(ModalWork::instance().isEndRequested());
    }
#endif
}

TEST_F(FeedbackDialogTest, EscapeClosesFromEachControlWithoutSending) {
    const char* controls[] = {widgetnames::feedback::FeedbackText, widgetnames::feedback::EmailField,
                              widgetnames::feedback::SendButton};
    for (const char* name : controls) {
        auto dialog = open(context(server.host()));
        text(*dialog)->setPlainText(QStringLiteral("Not sent"));
        QWidget* control = test::namedChild<QWidget>(*dialog, name);
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Escape);
        EXPECT_FALSE(dialog->isVisible()) << name;
        EXPECT_EQ(dialog->result(), QDialog::Rejected) << name;
    }
    EXPECT_TRUE(server.requests().empty());
}

} // namespace
