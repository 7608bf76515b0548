// The update-available notice: a small borderless window at the top right of the primary screen that grows into
// view, offers the download link, can be dragged anywhere, and shrinks away by itself eleven seconds after it was
// made. Closing only hides it; the program makes one at most per run.
#pragma once

#include "platform/shell.h"

#include <QIcon>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPropertyAnimation;
class QTimer;
class QToolButton;

namespace clavora::online {

using TranslateFunction = std::function<QString(const QString&)>;

struct UpdateNoticeContent {
    QString productName; // "Clavora"
    QString version;     // the server's version text (shown as plain text)
    QString downloadUrl; // opened by the link; the home page when empty; only http and https are opened
    QString homePageUrl;
    QIcon icon;                        // the application's icon
    TranslateFunction translate;       // the loaded language; unchanged text when empty
    platform::IShell* shell = nullptr; // opens the link; required
};

class UpdateNotice : public QWidget {
    Q_OBJECT
public:
    // Width and height of the window, and its distance from the screen's top and right edges.
    static constexpr int NoticeWidth = 320;
    static constexpr int NoticeHeight = 68;
    static constexpr int ScreenMargin = 5;
    static constexpr int CloseAfterSeconds = 11;
    static constexpr int AnimationMs = 100;

    // Made hidden; it positions itself and shows 1 ms later.
    explicit UpdateNotice(UpdateNoticeContent content, QWidget* parent = nullptr);
    ~UpdateNotice() override;

    // Seconds left before the notice closes by itself.
    qint64 closeCountdown() const { return m_closeCountdown; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void appear();
    void countDown();
    void shrinkAway();
    void updateLinkColour();
    void openLink();
    QRect homeGeometry() const;

    UpdateNoticeContent m_content;
    QLabel* m_link = nullptr;
    QString m_linkSheet; // the link's own style sheet, which carries its colour
    QTimer* m_startTimer = nullptr;
    QTimer* m_closeTimer = nullptr;
    QTimer* m_linkTimer = nullptr;
    QPropertyAnimation* m_animation = nullptr;
    qint64 m_closeCountdown = CloseAfterSeconds;
    bool m_dragging = false;
    QPoint m_dragFrom;
};

} // namespace clavora::online
