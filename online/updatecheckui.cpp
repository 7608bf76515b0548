// The update check's side of the main window.
#include "online/updatecheckui.h"

#include "online/modalwork.h"
#include "online/updatechecker.h"
#include "online/widgetnames.h"

#include <QAction>
#include <QMessageBox>

namespace clavora::online {

void showImportantMessage(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, QString(), QMessageBox::Ok, parent);
    box.setObjectName(QLatin1String(widgetnames::updates::ImportantMessage));
    box.setTextFormat(Qt::PlainText); // the server's text is data: no links, pictures or layout
    box.setText(text);
    box.exec();
}

UpdateCheckUi::UpdateCheckUi(UpdateChecker& checker, QAction& updateNotifications, QWidget& mainWindow,
                             UpdateNoticeContent notice)
    : QObject(&mainWindow), m_checker(checker), m_command(updateNotifications), m_mainWindow(mainWindow),
      m_noticeContent(std::move(notice)) {
    setObjectName(QLatin1String(widgetnames::updates::Ui));
    connect(&checker, &UpdateChecker::checkFinished, this, &UpdateCheckUi::finished);
    connect(&checker, &UpdateChecker::showNotice, this, &UpdateCheckUi::announce);
    connect(&checker, &UpdateChecker::importantMessage, this, &UpdateCheckUi::showMessage);
    // A checkable command flips its own check mark; the new state is what gets stored.
    connect(&updateNotifications, &QAction::triggered, &checker, &UpdateChecker::setShowUpdates);
}

UpdateCheckUi::~UpdateCheckUi() = default;

void UpdateCheckUi::finished(bool showUpdates) {
    m_command.setEnabled(true);
    if (!showUpdates) {
        m_command.setChecked(false);
    }
}

void UpdateCheckUi::announce(const QString& version, const QString& downloadUrl) {
    if (m_notice) {
        return; // one notice per run
    }
    UpdateNoticeContent content = m_noticeContent;
    content.version = version;
    content.downloadUrl = downloadUrl;
    m_notice = std::make_unique<UpdateNotice>(std::move(content));
}

void UpdateCheckUi::showMessage(const QString& text) {
    // Not over a feedback being sent: the box waits until that is over.
    ModalWork::instance().whenIdle(this, [this, text] {
        const QString caption = QStringLiteral("IMPORTANT");
        showImportantMessage(&m_mainWindow, m_noticeContent.translate ? m_noticeContent.translate(caption) : caption,
                             text);
    });
}

} // namespace clavora::online
