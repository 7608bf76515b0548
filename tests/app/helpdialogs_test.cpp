// The Help menu's dialogs opened from the main window: each with the program's identity, the feedback reaching the
// maker's server, and the language choice kept in settings.ini and used by the next start.
#include "about/widgetnames.h"
#include "app/application.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/startup.h"
#include "app/widgetnames.h"
#include "i18n/languagechoice.h"
#include "i18n/translator.h"
#include "i18n/widgetnames.h"
#include "online/widgetnames.h"
#include "tests/online/localservers.h"
#include "tests/support/platformtest.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace clavora;
using clavora::test::namedAction;
using clavora::test::namedChild;

namespace {

// Runs Act on each modal window that comes up while it lives, once per window. A timer does not fire again while
// its own handler runs, so Act is run from a single-shot of its own.
class ModalHandler {
public:
    explicit ModalHandler(std::function<void(QWidget*)> act) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, act = std::move(act)] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible() || modal == m_last) {
                return;
            }
            m_last = modal;
            // Outside this timer's handler: what Act starts may wait in a modal loop of its own, during which this
            // timer must go on firing.
            QTimer::singleShot(0, modal, [act, modal] { act(modal); });
        });
        m_timer.start(20);
    }

private:
    QTimer m_timer;
    QWidget* m_last = nullptr;
};

class HelpDialogsTest : public test::PlatformTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(m_root.file("program/Languages")));
        ASSERT_TRUE(QFile::copy(test::programDir() + "/clavora", m_root.file("program/clavora")));
        m_files.programFile = m_root.file("program/clavora");
        test::writeBytes(m_root.file("program/Languages/German.lang.txt"),
                         "{INFO:Translated By}Anna\n{About %s}Über %s\n{feedback}Rückmeldung\n");
        test::writeBytes(m_root.file("program/Languages/French.lang.txt"), "{About %s}À propos de %s\n");
        test::writeBytes(m_root.file("program/Languages/LanguageCodes.csv"),
                         "1031,German.lang.txt\n1036,French.lang.txt\n");
        m_locale.languageId = 1036; // the locale asks for French
        setApplicationErrorHandler([this](const QString& message) { m_errors << message; });
    }
    void TearDown() override { setApplicationErrorHandler({}); }

    QString settingsPath() const { return m_root.file("program/settings.ini"); }
    std::unique_ptr<Startup> start() {
        auto startup = std::make_unique<Startup>(m_services, QStringList());
        startup->run();
        return startup;
    }

    QStringList m_errors;
};

TEST_F(HelpDialogsTest, EachHelpItemOpensItsDialogModallyOverTheWindow) {
    test::writeBytes(settingsPath(), "[Settings]\nLanguage=German\n");
    auto startup = start();
    MainWindow& form = startup->window();
    form.move(0, 0); // away from the middle, so a dialog centred over the window is told apart
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QString version = startup->context().identity.version;
    const QPoint screenCentre = form.screen()->availableGeometry().center();

    QStringList seen;
    ModalHandler handler([&](QWidget* modal) {
        seen << modal->objectName() + ": " + modal->windowTitle();
        EXPECT_LE((modal->frameGeometry().center() - screenCentre).manhattanLength(), 4)
            << modal->objectName().toStdString();
        if (modal->objectName() == widgetnames::about::Dialog) {
            seen << namedChild<QLabel>(*modal, widgetnames::about::NameLabel)->text();
        }
        EXPECT_EQ(modal->parentWidget(), &form);
        static_cast<QDialog*>(modal)->reject();
    });
    namedAction(form, widgetnames::AboutAction)->trigger();
    namedAction(form, widgetnames::SendFeedbackAction)->trigger();
    namedAction(form, widgetnames::LanguageAction)->trigger();
    EXPECT_EQ(seen, QStringList({QString(widgetnames::about::Dialog) + ": Über Clavora", "Clavora " + version,
                                 QString(widgetnames::feedback::Dialog) + ": Clavora Rückmeldung",
                                 QString(widgetnames::language::Dialog) + ": Language"}));
    EXPECT_TRUE(namedAction(form, widgetnames::LanguageAction)->isVisible());
    EXPECT_TRUE(m_errors.isEmpty());
}

TEST_F(HelpDialogsTest, FeedbackFromTheMenuReachesTheMakersServer) {
    test::TestAuthority authority;
    test::LocalServer server(&authority); // over HTTPS only: the feedback never goes in clear
    server.setReply("OK\n");
    test::ScopedEnvironment environment("CLAVORA_WEB_HOST", server.host().toUtf8());
    environment.set("SSL_CERT_FILE", QFile::encodeName(authority.caFile()));
    auto startup = start();
    MainWindow& form = startup->window();

    QString answered;
    bool sent = false;
    ModalHandler handler([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            answered = box->objectName();
            box->button(QMessageBox::Ok)->click();
            return;
        }
        if (sent) { // the dialog is back after a failure: once is the test
            static_cast<QDialog*>(modal)->reject();
            return;
        }
        sent = true;
        namedChild<QPlainTextEdit>(*modal, widgetnames::feedback::FeedbackText)->setPlainText("From the menu");
        namedChild<QPushButton>(*modal, widgetnames::feedback::SendButton)->click();
    });
    namedAction(form, widgetnames::SendFeedbackAction)->trigger();

    EXPECT_EQ(answered, QString(widgetnames::feedback::SuccessBox));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const QString body = QString::fromStdString(requests[0].body);
    EXPECT_TRUE(body.startsWith("cmd=feedback&appname=" +
                                QUrl::toPercentEncoding(startup->context().identity.title).replace("%20", "+")))
        << body.toStdString();
    EXPECT_TRUE(body.endsWith("&feedback=From+the+menu")) << body.toStdString();
}

TEST_F(HelpDialogsTest, AConfirmedLanguageIsKeptAndTheProgramRestartsThroughTheScript) {
    auto startup = start();
    ASSERT_EQ(startup->translator().currentLanguage(), QStringLiteral("French"));
    MainWindow& form = startup->window();

    ModalHandler handler([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->button(QMessageBox::Yes)->click();
            return;
        }
        auto* languages = namedChild<QComboBox>(*modal, widgetnames::language::LanguageBox);
        // Items show the language's own name beside the file's; the name kept is the item's data.
        languages->setCurrentIndex(languages->findData("German"));
        namedChild<QPushButton>(*modal, widgetnames::language::OkButton)->click();
    });
    namedAction(form, widgetnames::LanguageAction)->trigger();

    EXPECT_TRUE(test::readBytes(settingsPath()).contains("\nLanguage=German\n"))
        << test::readBytes(settingsPath()).toStdString();
    const QString script = m_root.file("program/start.sh");
    EXPECT_EQ(test::readBytes(script), restartScript(m_root.file("program/clavora")));
    EXPECT_EQ(m_shell.started, QStringList{"/bin/sh " + script});
    EXPECT_TRUE(m_errors.isEmpty());
}

TEST_F(HelpDialogsTest, StartUpUsesTheKeptLanguageBeforeTheLocaleAndResetForgetsIt) {
    const struct {
        const char* settings;
        const char* language;
    } cases[] = {
        {"[Settings]\nLanguage=German\n", "German"},
        {"[Settings]\nLanguage=English\n", ""},       // the program's own texts
        {"[Settings]\nLanguage=Italian\n", "French"}, // not installed: the locale decides
        {"[Settings]\nHotkeyMode=ON\n", "French"},    // an older file without the key
    };
    for (const auto& c : cases) {
        test::writeBytes(settingsPath(), c.settings);
        auto startup = start();
        EXPECT_EQ(startup->translator().currentLanguage(), QString::fromUtf8(c.language)) << c.settings;
    }

    test::writeBytes(settingsPath(), "[Settings]\nLanguage=German\n");
    {
        auto startup = start();
        setMessageBoxAnswer([](QMessageBox&) { return QMessageBox::Yes; });
        namedAction(startup->window(), widgetnames::ResetToDefaultsAction)->trigger();
        setMessageBoxAnswer({});
    }
    auto restarted = start();
    EXPECT_EQ(restarted->translator().currentLanguage(), QStringLiteral("French"));
}

} // namespace
