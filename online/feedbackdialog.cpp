// The feedback dialog. Its controls carry the object names of online/widgetnames.h, which the tests look them up by.
// What the user typed and what the server answers reach the screen as plain text only.
#include "online/feedbackdialog.h"

#include "i18n/textcodec.h"
#include "online/feedbackpictures.h"
#include "online/modalwork.h"
#include "online/widgetnames.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>
#include <thread>

namespace clavora::online {

namespace {

constexpr int Margin = 3;
constexpr int PictureSize = 32;
// Between the two sentences of a box: an empty line (a box's plain text breaks lines at LF only).
const QLatin1String ParagraphBreak("\n\n");

QFont dialogFont(int pixelSize, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QLabel* plainLabel(QWidget* parent, const char* name, const QString& text, const QFont& font) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    return label;
}

void showBox(QWidget* parent, QMessageBox::Icon icon, const char* name, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, QString(), QMessageBox::Ok, parent);
    box.setObjectName(QLatin1String(name));
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.exec();
}

bool isUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}

// Holds the application's busy pointer for its lifetime.
class BusyPointer {
public:
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

} // namespace

ChoicePanel::ChoicePanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(Margin, Margin, Margin, Margin);
    m_picture = new QLabel(this);
    m_picture->setFixedSize(PictureSize, PictureSize);
    m_picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_caption = new QLabel(this);
    m_caption->setTextFormat(Qt::PlainText);
    m_caption->setAlignment(Qt::AlignCenter);
    m_caption->setFont(dialogFont(16));
    m_caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(m_picture);
    layout->addWidget(m_caption, 1);
    setSelected(false);
}

void ChoicePanel::setSelected(bool selected) {
    m_selected = selected;
    // The panel paints its own colours, not the visual style's: button face when normal, highlight when selected.
    // A style sheet of its own, since the application's style sheet would otherwise paint over the palette.
    const QPalette system = QApplication::palette();
    m_background = system.color(selected ? QPalette::Highlight : QPalette::Button);
    m_foreground = system.color(selected ? QPalette::HighlightedText : QPalette::WindowText);
    setStyleSheet(QStringLiteral("clavora--online--ChoicePanel { background-color: %1; }"
                                 " QLabel { background: transparent; color: %2; }")
                      .arg(m_background.name(), m_foreground.name()));
    setFrameShadow(selected ? QFrame::Sunken : QFrame::Raised);
}

QString ChoicePanel::caption() const {
    return m_caption->text();
}

void ChoicePanel::setCaption(const QString& caption) {
    m_caption->setText(caption);
}

void ChoicePanel::setPicture(const QPixmap& picture) {
    m_picture->setPixmap(picture);
}

void ChoicePanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit leftPressed();
    }
    event->accept();
}

FeedbackDialog::FeedbackDialog(FeedbackContext context, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_context(std::move(context)) {
    setObjectName(QLatin1String(widgetnames::feedback::Dialog));
    setAttribute(Qt::WA_DeleteOnClose, false); // the opener owns it; closing ends exec()
    setWindowTitle(m_context.productName + QLatin1Char(' ') + translate("feedback"));
    setFont(dialogFont(11));
    setFixedSize(ClientWidth, ClientHeight);
    const qreal dpr = devicePixelRatioF();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* choices = new QWidget(this);
    choices->setObjectName(QLatin1String(widgetnames::feedback::ChoicePanel));
    choices->setFixedHeight(46);
    auto* choicesLayout = new QHBoxLayout(choices);
    choicesLayout->setContentsMargins(Margin, Margin, Margin, Margin);
    choicesLayout->setSpacing(2 * Margin);
    m_like = new ChoicePanel(choices);
    m_like->setObjectName(QLatin1String(widgetnames::feedback::LikeChoice));
    m_like->setCaption(translate("I like it!"));
    m_like->setPicture(smilingFacePicture(PictureSize, dpr));
    m_dislike = new ChoicePanel(choices);
    m_dislike->setObjectName(QLatin1String(widgetnames::feedback::DislikeChoice));
    m_dislike->setCaption(translate("I dislike it!"));
    m_dislike->setPicture(sadFacePicture(PictureSize, dpr));
    m_dislike->setFixedWidth(256);
    choicesLayout->addWidget(m_like, 1);
    choicesLayout->addWidget(m_dislike);
    layout->addWidget(choices);
    connect(m_like, &ChoicePanel::leftPressed, this, [this] { choose(m_like, m_dislike); });
    connect(m_dislike, &ChoicePanel::leftPressed, this, [this] { choose(m_dislike, m_like); });

    auto* body = new QVBoxLayout;
    body->setContentsMargins(Margin, Margin, Margin, Margin);
    body->setSpacing(2 * Margin);
    body->addWidget(plainLabel(this, widgetnames::feedback::IntroLabel,
                               translate("We would really appreciate your feedback."), dialogFont(16)));
    body->addWidget(plainLabel(this, widgetnames::feedback::QuestionLabel, translate("What did you like or dislike?"),
                               dialogFont(13, true)));
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QLatin1String(widgetnames::feedback::FeedbackText));
    m_text->setFont(dialogFont(13));
    m_text->setTabChangesFocus(true);
    m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A plain text box has no length limit of its own: what goes past the limit (typed or pasted) is cut off.
    connect(m_text, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = m_text->toPlainText();
        if (text.size() > MaxFeedbackLength) {
            QTextCursor cursor = m_text->textCursor();
            const int position = std::min(cursor.position(), MaxFeedbackLength);
            m_text->setPlainText(text.left(MaxFeedbackLength));
            cursor = m_text->textCursor();
            cursor.setPosition(position);
            m_text->setTextCursor(cursor);
        }
    });
    body->addWidget(m_text, 1);
    layout->addLayout(body, 1);

    auto* emailPanel = new QWidget(this);
    emailPanel->setObjectName(QLatin1String(widgetnames::feedback::EmailPanel));
    emailPanel->setFixedHeight(30);
    auto* emailLayout = new QHBoxLayout(emailPanel);
    emailLayout->setContentsMargins(Margin, Margin, Margin, Margin);
    emailLayout->addWidget(
        plainLabel(emailPanel, widgetnames::feedback::EmailLabel, translate("Include my e-mail:"), dialogFont(13)));
    m_email = new QLineEdit(emailPanel);
    m_email->setObjectName(QLatin1String(widgetnames::feedback::EmailField));
    m_email->setFont(dialogFont(13));
    m_email->setMaxLength(MaxEmailLength);
    emailLayout->addWidget(m_email, 1);
    layout->addWidget(emailPanel);

    auto* buttonPanel = new QWidget(this);
    buttonPanel->setObjectName(QLatin1String(widgetnames::feedback::ButtonPanel));
    buttonPanel->setFixedHeight(39);
    auto* buttonLayout = new QHBoxLayout(buttonPanel);
    buttonLayout->setContentsMargins(Margin, Margin, Margin, Margin);
    buttonLayout->addStretch(1);
    m_send = new QPushButton(translate("Send"), buttonPanel);
    m_send->setObjectName(QLatin1String(widgetnames::feedback::SendButton));
    m_send->setFont(dialogFont(16));
    m_send->setFixedSize(172, 33);
    m_send->setIcon(QIcon(envelopePicture(24, dpr)));
    m_send->setIconSize(QSize(24, 24));
    // Enter in the e-mail box must not send half-written feedback: only a click or Space on the button sends.
    m_send->setAutoDefault(false);
    m_send->setDefault(false);
    buttonLayout->addWidget(m_send);
    layout->addWidget(buttonPanel);
    connect(m_send, &QPushButton::clicked, this, &FeedbackDialog::send);

    setTabOrder(m_text, m_email);
    setTabOrder(m_email, m_send);
    m_text->setFocus();
}

struct FeedbackDialog::Sending {
    // The worker's reply, written before it tells the dialog it is done.
    std::shared_ptr<ServerReply> reply = std::make_shared<ServerReply>();
    std::thread worker;
    ModalWork::Scope work;
    BusyPointer busy;

    ~Sending() {
        if (worker.joinable()) {
            worker.join();
        }
    }
};

FeedbackDialog::~FeedbackDialog() {
    if (m_sending) {
        qApp->removeEventFilter(this);
    }
}

QString FeedbackDialog::translate(const char* text) const {
    const QString source = QString::fromLatin1(text);
    return m_context.translate ? m_context.translate(source) : source;
}

void FeedbackDialog::choose(ChoicePanel* clicked, ChoicePanel* other) {
    if (clicked->isSelected()) {
        clicked->setSelected(false); // a second click withdraws the choice
        return;
    }
    clicked->setSelected(true);
    other->setSelected(false);
}

void FeedbackDialog::send() {
    if (m_sending) {
        return;
    }
    const QString body = text::trimBlanksAndControls(m_text->toPlainText());
    if (body.isEmpty()) {
        m_text->setFocus();
        QApplication::beep();
        return;
    }
    const QString message = buildFeedbackMessage({m_like->isSelected(), m_like->caption()},
                                                 {m_dislike->isSelected(), m_dislike->caption()}, body);
    const QString email = text::trimBlanksAndControls(m_email->text());
    if (!email.isEmpty() && !isValidEmail(email)) {
        m_email->setFocus();
        showBox(this, QMessageBox::Critical, widgetnames::feedback::InvalidEmailBox, translate("Failure"),
                translate("Invalid e-mail address!"));
        return;
    }

    post(feedbackFields(m_context.appTitle, m_context.appVersion, message, email));
}

void FeedbackDialog::post(const FormFields& fields) {
    m_sending = true;
    qApp->installEventFilter(this);
    m_request = std::make_unique<Sending>();
    // The worker gets copies of everything it reads; the dialog outlives it, since the dialog joins it before it
    // goes away.
    m_request->worker = std::thread([this, reply = m_request->reply, endpoint = m_context.endpoint, fields,
                                     timeoutMs = m_context.timeoutMs, caFile = m_context.caFile] {
        const FailureReport report = [](const QString& scheme, const QString& message) {
            qCInfo(lcOnline) << "Feedback over" << scheme << "failed:" << message;
        };
        RequestOptions options;
        options.caFile = caFile;
        // The feedback carries what the user wrote and their address: it goes over HTTPS or not at all.
        *reply = sendToServer(endpoint, fields, timeoutMs, report, options, PlainRetry::Never);
        QMetaObject::invokeMethod(this, &FeedbackDialog::finishSending, Qt::QueuedConnection);
    });
}

void FeedbackDialog::finishSending() {
    const ServerReply reply = *m_request->reply;
    qApp->removeEventFilter(this);
    m_sending = false;
    m_request.reset(); // joins the worker, ends the modal work, restores the pointer
    // An end of the program held back while sending comes now, with no box in its way.
    if (!ModalWork::instance().isEndRequested()) {
        // Other boxes wait until this one is answered too; an end request no longer does.
        ModalWork::Scope outcome(ModalWork::Holds::Boxes);
        tellOutcome(reply);
    }
    emit sendFinished();
}

void FeedbackDialog::tellOutcome(const ServerReply& reply) {
    if (isFeedbackDelivered(reply.text)) {
        showBox(this, QMessageBox::Information, widgetnames::feedback::SuccessBox, translate("Success"),
                translate("Your feedback is received.") + ParagraphBreak + translate("Thank you!"));
        accept();
        return;
    }
    showBox(this, QMessageBox::Critical, widgetnames::feedback::FailureBox, translate("Failure"),
            translate("Something went wrong. Your feedback could not be delivered.") + ParagraphBreak +
                translate("Please try again later."));
}

bool FeedbackDialog::eventFilter(QObject* watched, QEvent* event) {
    // While sending, user input is dropped: the dialog stays modal and repaints, but nothing can be typed, clicked
    // or closed until the reply is in. A box that came up over the dialog meanwhile keeps its input, or nothing
    // could ever close it.
    if (m_sending && isUserInput(event->type())) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == this) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FeedbackDialog::reject() {
    if (!m_sending) {
        QDialog::reject();
    }
}

void FeedbackDialog::closeEvent(QCloseEvent* event) {
    if (m_sending) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace clavora::online
