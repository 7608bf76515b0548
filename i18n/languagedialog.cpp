// The language dialog. Its controls carry the object names of i18n/widgetnames.h, which the tests look them up by.
#include "i18n/languagedialog.h"

#include "i18n/flagpictures.h"
#include "i18n/languagechoice.h"
#include "i18n/translator.h"
#include "i18n/widgetnames.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyledItemDelegate>

#include <algorithm>

namespace clavora {

namespace {

constexpr int Margin = 3;
constexpr int FlagSize = 16;

QFont dialogFont(int pixelSize, bool underline = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setUnderline(underline);
    return font;
}

QLabel* plainLabel(QWidget* parent, const char* name, const QString& text, int pixelSize) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(dialogFont(pixelSize));
    return label;
}

// Rows of the drop-down list RowHeight pixels high, whatever the style makes of its font.
class RowHeightDelegate : public QStyledItemDelegate {
public:
    RowHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), m_height(height) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), m_height);
    }

private:
    int m_height;
};

constexpr int NameRole = Qt::UserRole;
constexpr int FileRole = Qt::UserRole + 1;

// A label that opens an address when clicked with the left button.
class LinkLabel : public QLabel {
public:
    LinkLabel(QWidget* parent, platform::IShell& shell, QString url)
        : QLabel(parent), m_shell(shell), m_url(std::move(url)) {}

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            m_shell.openWebAddress(m_url);
        }
    }

private:
    platform::IShell& m_shell;
    QString m_url;
};

} // namespace

LanguageDialogContext languageDialogContext(const Translator& translator, platform::Services& services) {
    LanguageDialogContext context;
    context.services = &services;
    context.translate = [&translator](const QString& text) { return translator.translate(text); };
    context.languageFiles = translator.languageFiles();
    context.languagesFolder = translator.languagesFolder();
    context.currentLanguage = translator.currentLanguage();
    context.currentLanguageFile = translator.currentLanguageFile();
    return context;
}

LanguageDialog::LanguageDialog(LanguageDialogContext context, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_context(std::move(context)) {
    setObjectName(QLatin1String(widgetnames::language::Dialog));
    setWindowTitle(translate("Language"));
    setFont(dialogFont(11));
    setFixedSize(ClientWidth, ClientHeight);
    const qreal dpr = devicePixelRatioF();

    QLabel* title = plainLabel(this, widgetnames::language::LanguageLabel, translate("User Interface Language:"), 16);
    QLabel* creditsTitle = plainLabel(this, widgetnames::language::CreditsLabel, translate("Translated by:"), 16);
    // The labels are 258 pixels wide, or as wide as a translation needs; the list and the credits take the rest.
    const int labelWidth = std::max({258, title->sizeHint().width(), creditsTitle->sizeHint().width()});
    const int fieldsLeft = Margin + labelWidth + 2;
    const int fieldsWidth = ClientWidth - 4 - fieldsLeft;
    title->setGeometry(Margin, 6, labelWidth, 22);
    creditsTitle->setGeometry(Margin, 39, labelWidth, 22);

    m_languages = new QComboBox(this);
    m_languages->setObjectName(QLatin1String(widgetnames::language::LanguageBox));
    m_languages->setGeometry(fieldsLeft, 4, fieldsWidth, 24);
    m_languages->setFont(dialogFont(13));
    m_languages->setIconSize(QSize(FlagSize, FlagSize));
    m_languages->setItemDelegate(new RowHeightDelegate(RowHeight, m_languages));
    // The loaded language, or "English" when none is: the loaded file picks its item (a file named with the suffix in
    // other letters has an empty name), else its name does.
    const QString loadedFile = QFileInfo(m_context.currentLanguageFile).fileName();
    for (const LanguageItem& item : languageList(m_context.languageFiles)) {
        m_languages->addItem(QIcon(flagPicture(flagCodeFor(item.name), FlagSize, dpr)),
                             item.name.isEmpty() ? QString() : languageDisplayText(item.name));
        const int index = m_languages->count() - 1;
        m_languages->setItemData(index, item.name, NameRole);
        m_languages->setItemData(index, item.fileName, FileRole);
        const bool loaded = loadedFile.isEmpty() ? !item.name.isEmpty() && item.name == m_context.currentLanguage
                                                 : item.fileName == loadedFile;
        if (loaded && m_languages->currentIndex() == 0) {
            m_languages->setCurrentIndex(index);
        }
    }

    m_credits = new QPlainTextEdit(this);
    m_credits->setObjectName(QLatin1String(widgetnames::language::CreditsText));
    m_credits->setGeometry(fieldsLeft, 32, fieldsWidth, 151);
    m_credits->setReadOnly(true);
    m_credits->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_credits->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_credits->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_credits->setFont(dialogFont(16));
    m_credits->setStyleSheet(QStringLiteral("QPlainTextEdit { background-color: %1; }")
                                 .arg(QApplication::palette().color(QPalette::Button).name()));
    m_credits->setContextMenuPolicy(Qt::CustomContextMenu);

    m_creditsMenu = new QMenu(this);
    m_creditsMenu->setObjectName(QLatin1String(widgetnames::language::CreditsMenu));
    QAction* copy = m_creditsMenu->addAction(QIcon(copyPicture(16, dpr)), translate("Copy"));
    copy->setObjectName(QLatin1String(widgetnames::language::CopyAction));
    connect(copy, &QAction::triggered, m_credits, &QPlainTextEdit::copy);
    QAction* selectAll = m_creditsMenu->addAction(translate("Select All"));
    selectAll->setObjectName(QLatin1String(widgetnames::language::SelectAllAction));
    connect(selectAll, &QAction::triggered, m_credits, &QPlainTextEdit::selectAll);
    connect(m_credits, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_creditsMenu->popup(m_credits->viewport()->mapToGlobal(at)); });

    auto* separator = new QFrame(this);
    separator->setObjectName(QLatin1String(widgetnames::language::ButtonBarLine));
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    separator->setGeometry(0, ClientHeight - 39 - 1, ClientWidth, 1);

    auto* bar = new QWidget(this);
    bar->setObjectName(QLatin1String(widgetnames::language::ButtonBar));
    bar->setGeometry(0, ClientHeight - 39, ClientWidth, 39);

    auto* link = new LinkLabel(bar, m_context.services->shell(), m_context.translationPageUrl);
    link->setObjectName(QLatin1String(widgetnames::language::TranslationLink));
    link->setTextFormat(Qt::PlainText);
    link->setText(translate("Contribute to Translation"));
    link->setFont(dialogFont(16, true));
    link->setStyleSheet(QStringLiteral("QLabel { color: blue; background: transparent; }"));
    link->setCursor(Qt::PointingHandCursor);
    link->setToolTip(m_context.translationPageUrl);
    link->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // 177 pixels wide, or wider where the font or the translation needs it, so the text is never cut off.
    link->setGeometry(Margin, Margin, std::max(177, link->sizeHint().width()), 39 - 2 * Margin);

    auto* ok = new QPushButton(QIcon(tickPicture(16, dpr)), translate("OK"), bar);
    ok->setObjectName(QLatin1String(widgetnames::language::OkButton));
    ok->setFont(dialogFont(16));
    ok->setGeometry(ClientWidth - Margin - 172, Margin, 172, 33);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &LanguageDialog::confirm);

    setTabOrder(m_languages, m_credits);
    setTabOrder(m_credits, ok);
    m_languages->setFocus();

    connect(m_languages, &QComboBox::currentIndexChanged, this, &LanguageDialog::showCredits);
    showCredits();
    m_initialIndex = m_languages->currentIndex();
    m_initialLanguage = selectedLanguage();
}

LanguageDialog::~LanguageDialog() = default;

QString LanguageDialog::translate(const char* text) const {
    const QString source = QString::fromLatin1(text);
    return m_context.translate ? m_context.translate(source) : source;
}

QString LanguageDialog::selectedLanguage() const {
    return m_languages->currentData(NameRole).toString();
}

void LanguageDialog::showCredits() {
    const QString file = m_languages->currentData(FileRole).toString();
    const QString credit =
        file.isEmpty()
            ? languageCredit(m_context.services->fileSystem(), selectedLanguage(), m_context.languagesFolder)
            : languageFileCredit(m_context.services->fileSystem(), m_context.languagesFolder + QLatin1Char('/') + file);
    m_credits->setPlainText(creditLines(credit).join(QLatin1Char('\n')));
}

void LanguageDialog::confirm() {
    const QString selected = selectedLanguage();
    if (m_languages->currentIndex() == m_initialIndex) {
        accept();
        return;
    }

    QMessageBox question(QMessageBox::Question, translate("Confirmation"), QString(),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setObjectName(QLatin1String(widgetnames::language::RestartQuestion));
    question.setTextFormat(Qt::PlainText);
    question.setText(translate("Restart Application?"));
    question.button(QMessageBox::Yes)->setText(translate("Yes"));
    question.button(QMessageBox::No)->setText(translate("No"));
    question.setDefaultButton(QMessageBox::Yes);
    question.setEscapeButton(QMessageBox::No);
    if (question.exec() != QMessageBox::Yes) {
        return; // the dialog stays open with the new selection
    }

    const auto fail = [this](const QString& message) {
        if (m_context.showError) {
            m_context.showError(message);
        } else {
            QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), QString(), QMessageBox::Ok, this);
            box.setTextFormat(Qt::PlainText);
            box.setText(message);
            box.exec();
        }
    };
    QString folder = m_context.dataFolder;
    if (!folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    const QString script = folder + RestartScriptName;
    // The script first: when it cannot be written nothing changes, and the choice is not kept for a restart that
    // will not come.
    if (const Status written =
            m_context.services->fileSystem().writeFileReplacing(script, restartScript(m_context.programFile));
        !written) {
        fail(written.message());
        return;
    }
    if (m_context.storeLanguage) {
        if (const Status stored = m_context.storeLanguage(selected); !stored) {
            fail(stored.message());
            return;
        }
    }
    QCoreApplication::processEvents();
    // Whether the shell starts is not looked at: the program ends either way, as asked.
    m_context.services->shell().startDetached(QStringLiteral("/bin/sh"), {script});
    accept();
    if (m_context.quit) {
        m_context.quit();
    } else {
        QCoreApplication::quit();
    }
}

} // namespace clavora
