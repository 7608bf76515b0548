// The update check's side of the main window: the "Update Notifications" command, the server's important message
// and the update-available notice. Made once by the main window, after its menus.
#pragma once

#include "online/updatenotice.h"

#include <QObject>

#include <memory>

class QAction;
class QWidget;

namespace clavora::online {

class UpdateChecker;

// Shows the server's message modally over Parent: caption, warning icon, an OK button; the text as plain text.
void showImportantMessage(QWidget* parent, const QString& caption, const QString& text);

class UpdateCheckUi : public QObject {
    Q_OBJECT
public:
    // UpdateNotifications is the checkable Help menu command, checked and disabled until the check is done. Notice
    // gives what the notice shows besides the server's version and address (product name, home page, icon,
    // translation). Checker, the command and MainWindow must outlive this object; making it a child of MainWindow
    // does that.
    UpdateCheckUi(UpdateChecker& checker, QAction& updateNotifications, QWidget& mainWindow,
                  UpdateNoticeContent notice);
    ~UpdateCheckUi() override;

    // The notice, once the check has announced an update; null before.
    UpdateNotice* notice() const { return m_notice.get(); }

private:
    void finished(bool showUpdates);
    void announce(const QString& version, const QString& downloadUrl);
    void showMessage(const QString& text);

    UpdateChecker& m_checker;
    QAction& m_command;
    QWidget& m_mainWindow;
    UpdateNoticeContent m_noticeContent;
    std::unique_ptr<UpdateNotice> m_notice;
};

} // namespace clavora::online
