// The feedback dialog: a like and a dislike panel, the text, an optional e-mail address and "Send", which posts the
// feedback to the maker's server. Modal; made when opened and destroyed when closed.
#pragma once

#include "online/feedback.h"
#include "online/updatenotice.h" // TranslateFunction

#include <QDialog>
#include <QFrame>

#include <memory>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace clavora::online {

// What the dialog is handed by the window that opens it.
struct FeedbackContext {
    QString productName; // "Clavora": the caption's first word
    QString appTitle;    // the "appname=" field
    QString appVersion;  // the "version=" field
    QString endpoint;    // feedbackEndpoint(host)
    QString caFile;      // authorities for HTTPS in PEM; empty: the system's store (tests hand their own)
    int timeoutMs = FeedbackTimeoutMs;
    TranslateFunction translate; // the loaded language; unchanged text when empty
};

// A choice panel: normal or selected, and the left button toggles it through the dialog.
class ChoicePanel : public QFrame {
    Q_OBJECT
public:
    explicit ChoicePanel(QWidget* parent = nullptr);

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    QString caption() const;
    void setCaption(const QString& caption);
    void setPicture(const QPixmap& picture);
    // The colours it paints itself in.
    QColor background() const { return m_background; }
    QColor foreground() const { return m_foreground; }

signals:
    void leftPressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QLabel* m_picture = nullptr;
    QLabel* m_caption = nullptr;
    QColor m_background;
    QColor m_foreground;
    bool m_selected = false;
};

class FeedbackDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 525;
    static constexpr int ClientHeight = 326;

    explicit FeedbackDialog(FeedbackContext context, QWidget* parent = nullptr);
    ~FeedbackDialog() override;

    // The "Send" command: builds the message, checks it and starts sending it; the user is told how it went once
    // the server has answered or the request has given up (up to twice the time-out). Meanwhile the dialog stays
    // modal and repaints, its input is held back and the busy pointer shows; the request runs on a worker thread
    // and no loop of the dialog's own runs in between, so nothing else can open a box inside it.
    void send();

    // True while a request is under way.
    bool isSending() const { return m_sending; }

signals:
    // A send has ended, after its box (none when the program is ending).
    void sendFinished();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void choose(ChoicePanel* clicked, ChoicePanel* other);
    QString translate(const char* text) const;
    // Starts the request on a worker thread; finishSending takes its reply on the GUI thread.
    void post(const FormFields& fields);
    void finishSending();
    void tellOutcome(const ServerReply& reply);

    FeedbackContext m_context;
    ChoicePanel* m_like = nullptr;
    ChoicePanel* m_dislike = nullptr;
    QPlainTextEdit* m_text = nullptr;
    QLineEdit* m_email = nullptr;
    QPushButton* m_send = nullptr;
    bool m_sending = false;
    // While sending: the worker and what it hands back, the program's mark of modal work, the busy pointer.
    struct Sending;
    std::unique_ptr<Sending> m_request;
};

} // namespace clavora::online
