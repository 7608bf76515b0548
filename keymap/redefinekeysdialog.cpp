// The Redefine Keys dialog.
#include "keymap/redefinekeysdialog.h"

#include "keymap/keyeditdialog.h"
#include "keymap/keymapfile.h"
#include "keymap/widgetnames.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace clavora {

namespace {

// The list of bindings, taking sound files dropped from a file manager.
class BindingList : public QTableWidget {
public:
    BindingList(std::function<void(const QStringList&)> filesDropped, QWidget* parent)
        : QTableWidget(parent), m_filesDropped(std::move(filesDropped)) {
        setAcceptDrops(true);
        viewport()->setAcceptDrops(true);
        setDragDropMode(QAbstractItemView::DropOnly);
    }

protected:
    // Home and End go to the first and the last row, as in any list; a table's own would go to the first and the
    // last column of the row, which shows nothing with whole rows selected. Page Up and Page Down keep their paging
    // by rows.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        if ((action != MoveHome && action != MoveEnd) || rowCount() == 0) {
            return QTableWidget::moveCursor(action, modifiers);
        }
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        return model()->index(action == MoveHome ? 0 : rowCount() - 1, column);
    }
    void dragEnterEvent(QDragEnterEvent* event) override { acceptFiles(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { acceptFiles(event); }
    void dropEvent(QDropEvent* event) override {
        const QStringList files = droppedLocalFiles(event->mimeData());
        if (files.isEmpty()) {
            event->ignore();
            return;
        }
        event->acceptProposedAction();
        m_filesDropped(files);
    }

private:
    void acceptFiles(QDropEvent* event) {
        if (droppedLocalFiles(event->mimeData()).isEmpty()) {
            event->ignore();
        } else {
            event->acceptProposedAction();
        }
    }

    std::function<void(const QStringList&)> m_filesDropped;
};

constexpr int VolumeColumnWidth = 60;

QString volumeText(float gain) {
    return QString::number(volumePercentOf(gain)) + QLatin1Char('%');
}

} // namespace

RedefineKeysDialog::RedefineKeysDialog(KeyMap& keyMap, KeyMapFile files, QString keysDbPath, QWidget* parent)
    : QDialog(parent), m_keyMap(keyMap), m_files(files), m_keysDbPath(std::move(keysDbPath)) {
    setObjectName(QLatin1String(widgetnames::redefinekeys::Dialog));
    setWindowTitle(QStringLiteral("Redefine Keys"));
    setSizeGripEnabled(true);
    // Room for the volumes beside a sound column of 500.
    resize(635 + VolumeColumnWidth, 299);
    createControls();
    fillList();
}

RedefineKeysDialog::~RedefineKeysDialog() = default;

void RedefineKeysDialog::createControls() {
    m_list = new BindingList([this](const QStringList& files) { addDroppedFiles(files); }, this);
    m_list->setObjectName(QLatin1String(widgetnames::redefinekeys::BindingList));
    m_list->setColumnCount(3);
    m_list->setHorizontalHeaderLabels({QStringLiteral("Key"), QStringLiteral("Sound"), QStringLiteral("Volume")});
    m_list->setColumnWidth(0, 100);
    m_list->setColumnWidth(1, 500);
    m_list->setColumnWidth(2, VolumeColumnWidth);
    // The sound column takes the width the window gives the list, so long paths show as the window grows.
    m_list->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
    m_list->setShowGrid(true);
    m_list->setWordWrap(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the list for the buttons instead of walking its cells, so the dialog works from the keyboard.
    m_list->setTabKeyNavigation(false);
    // A double-click on a row edits that row; one on the empty part of the list hits no row and does nothing.
    connect(m_list, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { openEditKey(row); });

    auto* strip = new QWidget(this);
    strip->setFixedHeight(34);
    auto* buttons = new QHBoxLayout(strip);
    buttons->setContentsMargins(0, 3, 0, 3);
    buttons->setSpacing(6);
    auto addButton = [&](const char* name, const QString& text) {
        auto* button = new QPushButton(text, strip);
        button->setObjectName(QLatin1String(name));
        button->setFixedSize(75, 28);
        button->setAutoDefault(false);
        buttons->addWidget(button);
        return button;
    };
    m_addButton = addButton(widgetnames::redefinekeys::AddButton, QStringLiteral("Add"));
    m_editButton = addButton(widgetnames::redefinekeys::EditButton, QStringLiteral("Edit"));
    m_deleteButton = addButton(widgetnames::redefinekeys::DeleteButton, QStringLiteral("Delete"));
    buttons->addStretch();
    connect(m_addButton, &QPushButton::clicked, this, [this] { openAddKey(); });
    connect(m_editButton, &QPushButton::clicked, this, [this] { editSelectedRow(); });
    connect(m_deleteButton, &QPushButton::clicked, this, [this] { deleteSelectedRows(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(3, 3, 3, 0);
    layout->setSpacing(0);
    layout->addWidget(m_list, 1);
    layout->addWidget(strip);

    auto* close = new QAction(QStringLiteral("Close"), this);
    close->setObjectName(QLatin1String(widgetnames::redefinekeys::CloseAction));
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, this, &QDialog::reject);
    addAction(close);
}

void RedefineKeysDialog::fillList() {
    m_list->setRowCount(0);
    m_rowIds.clear();
    for (const Binding& binding : m_keyMap.rows()) {
        appendListRow(binding);
    }
}

void RedefineKeysDialog::appendListRow(const Binding& binding) {
    const int row = m_list->rowCount();
    m_list->insertRow(row);
    m_list->setItem(row, 0, new QTableWidgetItem(binding.key));
    m_list->setItem(row, 1, new QTableWidgetItem(soundPathForDisplay(binding.path)));
    m_list->setItem(row, 2, new QTableWidgetItem(volumeText(binding.gain)));
    m_rowIds.append(m_nextRowId++);
}

qsizetype RedefineKeysDialog::rowOfKey(const QString& key) const {
    const QList<Binding>& rows = m_keyMap.rows();
    for (qsizetype row = 0; row < rows.size(); ++row) {
        if (rows.at(row).key == key) {
            return row;
        }
    }
    return -1;
}

qsizetype RedefineKeysDialog::rowOf(RowId id) const {
    return m_rowIds.indexOf(id);
}

bool RedefineKeysDialog::commit(const std::function<void(KeyMap&)>& change, QWidget* messageParent) {
    KeyMap changed = m_keyMap;
    changed.removeLinesWithoutBinding();
    change(changed);
    const Status saved = m_files.save(m_keysDbPath, changed);
    if (!saved) {
        qCWarning(lcKeyMap).noquote() << saved.message();
        // The application's error box: its icon and caption.
        m_hooks.showMessage(messageParent ? messageParent : this, QMessageBox::Critical,
                            QApplication::applicationDisplayName(), saved.message());
        return false;
    }
    m_keyMap = std::move(changed);
    emit keyMapSaved();
    return true;
}

bool RedefineKeysDialog::appendBinding(const Binding& binding, QWidget* messageParent) {
    if (!commit([&binding](KeyMap& map) { map.appendRow(binding); }, messageParent)) {
        return false;
    }
    appendListRow(binding);
    return true;
}

bool RedefineKeysDialog::replacePath(RowId id, const QString& path, QWidget* messageParent) {
    const qsizetype row = rowOf(id);
    if (row < 0) {
        return false;
    }
    return replaceSound(id, path, m_keyMap.row(row).gain, messageParent);
}

bool RedefineKeysDialog::replaceSound(RowId id, const QString& path, float gain, QWidget* messageParent) {
    const qsizetype row = rowOf(id);
    if (row < 0) {
        return false;
    }
    const auto change = [row, &path, gain](KeyMap& map) {
        map.replacePath(row, path);
        map.setGain(row, gain);
    };
    if (!commit(change, messageParent)) {
        return false;
    }
    m_list->item(int(row), 1)->setText(soundPathForDisplay(path));
    m_list->item(int(row), 2)->setText(volumeText(gain));
    return true;
}

bool RedefineKeysDialog::deleteSelectedRows() {
    QList<int> rows;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    // Runs of adjacent rows, from the bottom up, so the indexes still to remove stay where they are; each run goes
    // in one step, so deleting a long selection of a long list stays linear.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    struct Run {
        int first;
        int count;
    };
    QList<Run> runs;
    for (int row : rows) {
        if (!runs.isEmpty() && runs.last().first == row + 1) {
            runs.last().first = row;
            ++runs.last().count;
        } else if (runs.isEmpty() || runs.last().first != row) {
            runs.append(Run{row, 1});
        }
    }
    if (!commit(
            [&runs](KeyMap& map) {
                for (const Run& run : runs) {
                    map.removeRows(run.first, run.count);
                }
            },
            this)) {
        return false;
    }
    for (const Run& run : runs) {
        m_list->model()->removeRows(run.first, run.count);
        m_rowIds.remove(run.first, run.count);
    }
    return true;
}

KeyEditDialog* RedefineKeysDialog::track(KeyEditDialog* window) {
    m_windows.removeAll(nullptr);
    m_windows.append(window);
    window->show();
    return window;
}

KeyEditDialog* RedefineKeysDialog::openAddKey(const QString& fileName) {
    auto* window = new KeyEditDialog(*this, KeyEditDialog::Mode::Add);
    window->setFileName(fileName);
    return track(window);
}

KeyEditDialog* RedefineKeysDialog::editSelectedRow() {
    const QModelIndexList selected = m_list->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return nullptr;
    }
    int first = selected.first().row();
    for (const QModelIndex& index : selected) {
        first = std::min(first, index.row());
    }
    return openEditKey(first);
}

KeyEditDialog* RedefineKeysDialog::openEditKey(qsizetype row) {
    if (row < 0 || row >= m_rowIds.size()) {
        return nullptr;
    }
    return track(new KeyEditDialog(*this, KeyEditDialog::Mode::Edit, m_rowIds.at(row)));
}

QList<KeyEditDialog*> RedefineKeysDialog::keyEditWindows() const {
    QList<KeyEditDialog*> windows;
    for (const QPointer<KeyEditDialog>& window : m_windows) {
        if (window && window->isVisible()) {
            windows.append(window.data());
        }
    }
    return windows;
}

void RedefineKeysDialog::addDroppedFiles(const QStringList& fileNames) {
    if (fileNames.size() > MaxDroppedFiles) {
        qCInfo(lcKeyMap) << "Dropped" << fileNames.size() << "files; Add Key windows open for the first"
                         << MaxDroppedFiles;
    }
    for (const QString& fileName : fileNames.mid(0, MaxDroppedFiles)) {
        openAddKey(fileName);
    }
}

void RedefineKeysDialog::done(int result) {
    for (KeyEditDialog* window : keyEditWindows()) {
        window->close();
    }
    QDialog::done(result);
}

} // namespace clavora
