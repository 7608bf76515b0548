// The notice of a hotkey mode that cannot hear keys.
#include "app/hotkeynotice.h"

#include "app/widgetnames.h"
#include "platform/shell.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTextDocument>
#include <QToolButton>

namespace clavora {

const QString HotkeyNotice::PlayCommand = QStringLiteral("clavora --play KEY");

HotkeyNotice::HotkeyNotice(platform::IShell& shell, QString helpUrl,
                           const std::function<QString(const QString&)>& translate, QWidget* parent)
    : QFrame(parent), m_shell(shell), m_helpUrl(std::move(helpUrl)) {
    const auto tr = [&](const char* text) {
        const QString source = QString::fromUtf8(text);
        return translate ? translate(source) : source;
    };
    setObjectName(QLatin1String(widgetnames::HotkeyNotice));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xCE));
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);

    m_label = new QLabel(this);
    m_label->setObjectName(QLatin1String(widgetnames::HotkeyNoticeText));
    m_label->setWordWrap(true);
    m_label->setTextFormat(Qt::RichText);
    m_label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    // The desktop's browser, through the program's own shell: not Qt's opener.
    m_label->setOpenExternalLinks(false);
    m_label->setText(tr("This desktop does not let programs watch keys, so hotkey mode hears no keys pressed in "
                        "other windows.")
                         .toHtmlEscaped() +
                     QLatin1Char(' ') +
                     tr("Bind keys to the command %1 in the desktop's own keyboard settings instead.")
                         .toHtmlEscaped()
                         .arg(QLatin1String("<b><tt>") + PlayCommand.toHtmlEscaped() + QLatin1String("</tt></b>")) +
                     QLatin1String(" <a href=\"") + m_helpUrl.toHtmlEscaped() + QLatin1String("\">") +
                     tr("How to bind keys on Wayland").toHtmlEscaped() + QLatin1String("</a>"));
    connect(m_label, &QLabel::linkActivated, this, [this](const QString& url) { m_shell.openUrl(url); });

    auto* close = new QToolButton(this);
    close->setObjectName(QLatin1String(widgetnames::HotkeyNoticeClose));
    close->setText(QStringLiteral("\u2715"));
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus);
    close->setToolTip(tr("Close"));
    connect(close, &QToolButton::clicked, this, &QWidget::hide);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 4, 4);
    layout->addWidget(m_label, 1);
    layout->addWidget(close, 0, Qt::AlignTop);
}

QString HotkeyNotice::text() const {
    QTextDocument document;
    document.setHtml(m_label->text());
    return document.toPlainText();
}

} // namespace clavora
