// The main window's Help dialogs: feedback, About and language. Each is handed what it shows and does, made for one
// modal showing and destroyed when it closes.
#include "about/aboutdialog.h"
#include "app/application.h"
#include "app/identity.h"
#include "app/mainwindow.h"
#include "app/menuicons.h"
#include "i18n/languagechoice.h"
#include "i18n/languagedialog.h"
#include "i18n/translator.h"
#include "online/feedbackdialog.h"
#include "online/serverrequest.h"
#include "platform/services.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>

namespace clavora {

namespace {

// The Help dialogs open in the middle of the screen the main window is on, wherever the window itself stands.
void centreOnScreen(QDialog& dialog, const QWidget& window) {
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    const QRect area = screen->availableGeometry();
    dialog.move(area.center() - QPoint(dialog.width() / 2, dialog.height() / 2));
}

} // namespace

void MainWindow::openFeedbackDialog() {
    online::FeedbackContext context;
    context.productName = m_context.identity.productName;
    context.appTitle = m_context.identity.title;
    context.appVersion = m_context.identity.version;
    context.endpoint = online::feedbackEndpoint(m_services.webHost().makerWebHost());
    context.caFile = m_services.webHost().trustedAuthoritiesFile();
    context.translate = [this](const QString& text) { return m_translator.translate(text); };
    online::FeedbackDialog dialog(std::move(context), this);
    centreOnScreen(dialog, *this);
    dialog.exec();
}

void MainWindow::openAboutDialog() {
    about::AboutContext context;
    context.productName = m_context.identity.productName;
    context.version = m_context.identity.version;
    context.webHost = m_services.webHost().makerWebHost();
    context.programFolder = m_context.programFolder;
    context.appIcon = applicationIcon();
    context.translate = [this](const QString& text) { return m_translator.translate(text); };
    about::AboutDialog dialog(std::move(context), m_services.fileSystem(), m_services.shell(), this);
    centreOnScreen(dialog, *this);
    dialog.exec();
}

void MainWindow::openLanguageDialog() {
    LanguageDialogContext context = languageDialogContext(m_translator, m_services);
    context.dataFolder = m_context.dataFolder;
    context.programFile = m_context.programFile;
    context.translationPageUrl = translationPageUrl(m_services.webHost().makerWebHost());
    context.storeLanguage = [this](const QString& language) { return m_options.setLanguage(language); };
    context.showError = showApplicationError;
    // The script starts the program again a second from now: by then this one has given its place up.
    context.quit = [this] {
        if (m_beforeRestart) {
            m_beforeRestart();
        }
        QCoreApplication::quit();
    };
    LanguageDialog dialog(std::move(context), this);
    dialog.setWindowIcon(applicationIcon());
    centreOnScreen(dialog, *this);
    dialog.exec();
}

} // namespace clavora
