// The update-available notice. Its controls carry the object names of online/widgetnames.h, which the tests look
// them up by. Everything from the server reaches the screen as plain text.
#include "online/updatenotice.h"

#include "online/widgetnames.h"
#include "platform/shell.h"

#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

namespace clavora::online {

namespace {

constexpr int IconSize = 60;
constexpr int IconMargin = 3;
constexpr int Bevel = 1; // the frame's raised edge
constexpr int ClosePanelWidth = 22;
constexpr int LabelMargin = 3;
constexpr int TitleHeight = 18;

QFont noticeFont(int pixelSize, bool bold = false, bool underline = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

QLabel* plainLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setText(text);
    return label;
}

bool isMouseEvent(QEvent::Type type) {
    return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick || type == QEvent::MouseMove ||
           type == QEvent::MouseButtonRelease;
}

} // namespace

UpdateNotice::UpdateNotice(UpdateNoticeContent content, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_content(std::move(content)) {
    setObjectName(QLatin1String(widgetnames::updatenotice::Notice));
    // Shown beside whatever the user is doing: it takes neither the focus nor a task-bar button.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFont(noticeFont(11));
    const auto translate = [this](const char* text) {
        const QString source = QString::fromLatin1(text);
        return m_content.translate ? m_content.translate(source) : source;
    };

    auto* panel1 = new QFrame(this);
    panel1->setObjectName(QLatin1String(widgetnames::updatenotice::Frame));
    panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel1->setGeometry(0, 0, NoticeWidth, NoticeHeight);

    auto* image1 = new QLabel(panel1);
    image1->setObjectName(QLatin1String(widgetnames::updatenotice::Icon));
    image1->setAlignment(Qt::AlignCenter);
    image1->setGeometry(Bevel + IconMargin, Bevel + IconMargin, IconSize, IconSize);
    image1->setPixmap(m_content.icon.pixmap(48, 48));

    auto* panel3 = new QWidget(panel1);
    panel3->setObjectName(QLatin1String(widgetnames::updatenotice::ClosePanel));
    panel3->setGeometry(NoticeWidth - ClosePanelWidth - Bevel, Bevel, ClosePanelWidth, NoticeHeight - 2 * Bevel);
    auto* button1 = new QToolButton(panel3);
    button1->setObjectName(QLatin1String(widgetnames::updatenotice::CloseButton));
    button1->setGeometry(0, 0, ClosePanelWidth, ClosePanelWidth);
    button1->setAutoRaise(true);
    button1->setFocusPolicy(Qt::NoFocus);
    button1->setCursor(Qt::PointingHandCursor);
    button1->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    connect(button1, &QToolButton::clicked, this, &QWidget::close);

    const int textLeft = Bevel + IconMargin + IconSize + IconMargin;
    auto* panel2 = new QWidget(panel1);
    panel2->setObjectName(QLatin1String(widgetnames::updatenotice::TextPanel));
    panel2->setGeometry(textLeft, Bevel, panel3->x() - textLeft, NoticeHeight - 2 * Bevel);

    QLabel* label1 = plainLabel(panel2, widgetnames::updatenotice::TitleLabel, translate("UPDATE AVAILABLE"));
    label1->setFont(noticeFont(13, true));
    label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label1->setGeometry(LabelMargin, LabelMargin, panel2->width() - 2 * LabelMargin, TitleHeight);

    m_link = plainLabel(panel2, widgetnames::updatenotice::DownloadLink,
                        translate("Click to download") + QLatin1Char(' ') + m_content.productName + QLatin1Char(' ') +
                            m_content.version);
    m_link->setFont(noticeFont(13, false, true));
    m_link->setAlignment(Qt::AlignCenter);
    m_link->setWordWrap(true);
    m_link->setCursor(Qt::PointingHandCursor);
    const int linkTop = LabelMargin + TitleHeight;
    m_link->setGeometry(0, linkTop, panel2->width(), panel2->height() - linkTop);

    // Drag sources move the window; the text panel and the link keep their mouse to themselves.
    for (QObject* source : {static_cast<QObject*>(this), static_cast<QObject*>(panel1), static_cast<QObject*>(image1),
                            static_cast<QObject*>(label1), static_cast<QObject*>(panel3), static_cast<QObject*>(panel2),
                            static_cast<QObject*>(m_link)}) {
        source->installEventFilter(this);
    }

    setGeometry(homeGeometry());

    m_animation = new QPropertyAnimation(this, "geometry", this);
    m_animation->setDuration(AnimationMs);

    m_startTimer = new QTimer(this);
    m_startTimer->setObjectName(QLatin1String(widgetnames::updatenotice::OpenTimer));
    m_startTimer->setInterval(1);
    connect(m_startTimer, &QTimer::timeout, this, &UpdateNotice::appear);
    m_startTimer->start();

    m_closeTimer = new QTimer(this);
    m_closeTimer->setObjectName(QLatin1String(widgetnames::updatenotice::CloseTimer));
    m_closeTimer->setInterval(1000);
    connect(m_closeTimer, &QTimer::timeout, this, &UpdateNotice::countDown);
    m_closeTimer->start();

    m_linkTimer = new QTimer(this);
    m_linkTimer->setObjectName(QLatin1String(widgetnames::updatenotice::LinkTimer));
    m_linkTimer->setInterval(100);
    connect(m_linkTimer, &QTimer::timeout, this, &UpdateNotice::updateLinkColour);
    m_linkTimer->start();
}

UpdateNotice::~UpdateNotice() = default;

QRect UpdateNotice::homeGeometry() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, NoticeWidth + 2 * ScreenMargin, NoticeHeight);
    return QRect(area.x() + area.width() - NoticeWidth - ScreenMargin, area.y() + ScreenMargin, NoticeWidth,
                 NoticeHeight);
}

void UpdateNotice::appear() {
    m_startTimer->stop();
    const QRect full = geometry();
    m_animation->stop();
    m_animation->setStartValue(QRect(full.center(), QSize(1, 1)));
    m_animation->setEndValue(full);
    setGeometry(QRect(full.center(), QSize(1, 1)));
    show();
    m_animation->start();
}

void UpdateNotice::countDown() {
    --m_closeCountdown;
    if (m_closeCountdown > 0) {
        return;
    }
    m_closeTimer->stop();
    shrinkAway();
}

void UpdateNotice::shrinkAway() {
    if (!isVisible()) {
        return;
    }
    m_animation->stop();
    const QRect full = geometry();
    m_animation->setStartValue(full);
    m_animation->setEndValue(QRect(full.center(), QSize(1, 1)));
    connect(
        m_animation, &QPropertyAnimation::finished, this,
        [this, full] {
            close();
            setGeometry(full);
        },
        Qt::SingleShotConnection);
    m_animation->start();
}

void UpdateNotice::updateLinkColour() {
    const bool hovered = m_link->isVisible() && m_link->rect().contains(m_link->mapFromGlobal(QCursor::pos()));
    const QColor colour = palette().color(hovered ? QPalette::Highlight : QPalette::WindowText);
    // The program's style sheet gives every widget its text colour, and a sheet beats a palette: the colour goes in
    // as a sheet of the link's own, set again only when it changes.
    const QString sheet = QStringLiteral("QLabel { color: %1; }").arg(colour.name(QColor::HexArgb));
    if (sheet != m_linkSheet) {
        m_linkSheet = sheet;
        m_link->setStyleSheet(sheet);
    }
}

void UpdateNotice::openLink() {
    const QString url = m_content.downloadUrl.isEmpty() ? m_content.homePageUrl : m_content.downloadUrl;
    // Anything but an http or https address is not opened; the notice closes either way.
    m_content.shell->openWebAddress(url);
    close();
}

bool UpdateNotice::eventFilter(QObject* watched, QEvent* event) {
    if (!isMouseEvent(event->type())) {
        return QWidget::eventFilter(watched, event);
    }
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (watched == m_link) {
        if (event->type() == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton &&
            m_link->rect().contains(mouse->position().toPoint())) {
            openLink();
        }
        return true;
    }
    if (watched->objectName() == QLatin1String(widgetnames::updatenotice::TextPanel)) {
        return true; // not a drag source, and its parent is one
    }
    const QPoint at = mouse->globalPosition().toPoint();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (mouse->button() != Qt::RightButton) {
            m_dragging = true;
            m_dragFrom = at;
        }
        break;
    case QEvent::MouseMove:
        if (m_dragging) {
            move(pos() + (at - m_dragFrom));
            m_dragFrom = at;
        }
        break;
    default: // release
        m_dragging = false;
        break;
    }
    return true;
}

} // namespace clavora::online
