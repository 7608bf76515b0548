// The Add/Edit Key window.
#include "keymap/keyeditdialog.h"

#include "keymap/widgetnames.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QUrl>

namespace clavora {

namespace {

const QString WarningCaption = QStringLiteral("WARNING");

// The file field: a sound file dropped on it replaces its text instead of inserting a URL at the cursor.
class FileField : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (droppedLocalFiles(event->mimeData()).isEmpty()) {
            QLineEdit::dragEnterEvent(event);
        } else {
            event->acceptProposedAction();
        }
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        if (droppedLocalFiles(event->mimeData()).isEmpty()) {
            QLineEdit::dragMoveEvent(event);
        } else {
            event->acceptProposedAction();
        }
    }
    void dropEvent(QDropEvent* event) override {
        const QStringList files = droppedLocalFiles(event->mimeData());
        if (files.isEmpty()) {
            QLineEdit::dropEvent(event);
            return;
        }
        event->acceptProposedAction();
        setText(files.first());
        setFocus();
    }
};

} // namespace

QStringList droppedLocalFiles(const QMimeData* mime) {
    QStringList files;
    if (mime == nullptr || !mime->hasUrls()) {
        return files;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isDir()) {
            files.append(url.toLocalFile());
        }
    }
    return files;
}

KeyEditDialog::KeyEditDialog(RedefineKeysDialog& owner, Mode mode, RedefineKeysDialog::RowId row)
    : QDialog(&owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_owner(owner), m_mode(mode), m_row(row) {
    setObjectName(QLatin1String(widgetnames::keyedit::Dialog));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(mode == Mode::Add ? QStringLiteral("Add Key") : QStringLiteral("Edit Key"));
    setFixedSize(385, 140);

    auto* keyLabel = new QLabel(QStringLiteral("Key:"), this);
    keyLabel->move(8, 11);
    m_keyField = new QLineEdit(this);
    m_keyField->setObjectName(QLatin1String(widgetnames::keyedit::KeyField));
    m_keyField->setGeometry(72, 8, 225, 21);
    keyLabel->setBuddy(m_keyField);

    auto* fileLabel = new QLabel(QStringLiteral("Filename:"), this);
    fileLabel->move(8, 43);
    m_fileField = new FileField(this);
    m_fileField->setObjectName(QLatin1String(widgetnames::keyedit::FileField));
    m_fileField->setGeometry(72, 40, 225, 21);
    fileLabel->setBuddy(m_fileField);

    auto* volumeLabel = new QLabel(QStringLiteral("Volume:"), this);
    volumeLabel->move(8, 75);
    m_volumeField = new QSpinBox(this);
    m_volumeField->setObjectName(QLatin1String(widgetnames::keyedit::VolumeField));
    m_volumeField->setGeometry(72, 72, 80, 21);
    m_volumeField->setRange(0, MaxBindingVolume);
    m_volumeField->setSingleStep(5);
    m_volumeField->setSuffix(QStringLiteral("%"));
    m_volumeField->setValue(100);
    volumeLabel->setBuddy(m_volumeField);

    auto makeButton = [this](const char* name, const QString& text, QRect geometry) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(QLatin1String(name));
        button->setGeometry(geometry);
        // Neither OK nor Cancel answers Enter: a stray Enter must not save a half-typed binding.
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    };
    m_browseButton =
        makeButton(widgetnames::keyedit::BrowseButton, QStringLiteral("Browse..."), QRect(303, 38, 75, 25));
    m_okButton = makeButton(widgetnames::keyedit::OkButton, QStringLiteral("OK"), QRect(72, 107, 88, 25));
    m_cancelButton = makeButton(widgetnames::keyedit::CancelButton, QStringLiteral("Cancel"), QRect(166, 107, 88, 25));
    connect(m_browseButton, &QPushButton::clicked, this, &KeyEditDialog::browse);
    connect(m_okButton, &QPushButton::clicked, this, &KeyEditDialog::confirm);
    connect(m_cancelButton, &QPushButton::clicked, this, &QWidget::close);

    setTabOrder(m_keyField, m_fileField);
    setTabOrder(m_fileField, m_browseButton);
    setTabOrder(m_browseButton, m_volumeField);
    setTabOrder(m_volumeField, m_okButton);
    setTabOrder(m_okButton, m_cancelButton);

    auto* close = new QAction(QStringLiteral("Close"), this);
    close->setObjectName(QLatin1String(widgetnames::keyedit::CloseAction));
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);

    if (mode == Mode::Edit) {
        const qsizetype index = owner.rowOf(row);
        if (index >= 0) {
            const Binding& binding = owner.keyMap().row(index);
            m_keyField->setText(binding.key);
            m_fileField->setText(binding.path);
            m_volumeField->setValue(volumePercentOf(binding.gain));
        }
        // The key of a row may be a whole key name (F5, ENTER), shown in full; it cannot be changed here.
        m_keyField->setEnabled(false);
        m_fileField->setFocus();
    } else {
        // With room for one character only, a selected character is what the next one typed replaces: so the
        // field always holds the last character typed. One character, not one UTF-16 unit: an emoji is two, and
        // half of one would be written to keys.db as "?".
        connect(m_keyField, &QLineEdit::textChanged, m_keyField, [this](const QString& text) {
            const qsizetype first =
                text.size() > 1 && text.at(0).isHighSurrogate() && text.at(1).isLowSurrogate() ? 2 : 1;
            if (text.size() > first) {
                const QSignalBlocker quiet(m_keyField);
                m_keyField->setText(text.left(first));
            }
            m_keyField->selectAll();
        });
        m_keyField->setFocus();
    }
}

QString KeyEditDialog::key() const {
    return m_keyField->text();
}

QString KeyEditDialog::fileName() const {
    return m_fileField->text();
}

void KeyEditDialog::setFileName(const QString& fileName) {
    m_fileField->setText(fileName);
}

int KeyEditDialog::volume() const {
    return m_volumeField->value();
}

void KeyEditDialog::setVolume(int percent) {
    m_volumeField->setValue(percent);
}

void KeyEditDialog::warn(const QString& text) {
    m_owner.hooks().showMessage(this, QMessageBox::Warning, WarningCaption, text);
}

void KeyEditDialog::confirm() {
    const QString key = m_keyField->text();
    if (m_mode == Mode::Add) {
        if (key.isEmpty()) {
            warn(QStringLiteral("Type the key first."));
            m_keyField->setFocus();
            return;
        }
        if (key.contains(QLatin1Char('|'))) {
            // keys.db separates the key from the file name with the bar: "||x.wav" reads back as an empty key.
            warn(QStringLiteral("The | character cannot be a key: it separates the key from the file name."));
            m_keyField->setFocus();
            return;
        }
        if (m_owner.rowOfKey(key) >= 0) {
            warn(QStringLiteral("Key already exists!"));
            return;
        }
        if (m_owner.appendBinding(Binding{key, m_fileField->text(), gainOfVolume(volume())}, this)) {
            close();
        }
        return;
    }
    if (m_owner.rowOf(m_row) < 0) {
        warn(QStringLiteral("This key has been deleted from the list."));
        return;
    }
    if (m_owner.replaceSound(m_row, m_fileField->text(), gainOfVolume(volume()), this)) {
        close();
    }
}

void KeyEditDialog::browse() {
    const QString chosen = m_owner.hooks().chooseSoundFile(this, m_fileField->text());
    if (!chosen.isEmpty()) {
        m_fileField->setText(chosen);
    }
}

} // namespace clavora
