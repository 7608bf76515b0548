// The Redefine Keys dialog: every binding of the key map as a row of key, sound file and volume, with Add, Edit and
// Delete.
// It edits the key map it is given in place and rewrites keys.db after every change, so the next key press, in the
// window or from the hotkey poll, plays the new bindings.
#pragma once

#include "keymap/keydialoghooks.h"
#include "keymap/keymap.h"
#include "keymap/keymapfile.h"
#include "platform/status.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QStringList>

#include <functional>

class QPushButton;
class QTableWidget;

namespace clavora {

class KeyEditDialog;

class RedefineKeysDialog : public QDialog {
    Q_OBJECT
public:
    // A row's identity for as long as the dialog is open, unlike its index, which moves when rows above it are
    // deleted. An Edit Key window holds the identity of the row it was opened from.
    using RowId = quint64;

    // Lists KeyMap's bindings. Every change is written to KeysDbPath (the whole file, replaced safely) and only then
    // made in KeyMap and in the list; see commit(). Lines without a bar get no row and go at the first save. Files
    // reads and writes the key map files.
    RedefineKeysDialog(KeyMap& keyMap, KeyMapFile files, QString keysDbPath, QWidget* parent = nullptr);
    ~RedefineKeysDialog() override;

    // Tests replace the message box and the file dialog; the Add/Edit Key windows use these too.
    void setHooks(KeyDialogHooks hooks) { m_hooks = std::move(hooks); }
    const KeyDialogHooks& hooks() const { return m_hooks; }

    const KeyMap& keyMap() const { return m_keyMap; }
    QString keysDbPath() const { return m_keysDbPath; }

    // Row lookups for the Add/Edit Key windows. rowOfKey: the first row whose key is exactly Key (letter case
    // counts), or -1. rowOf: the current index of the row with this identity, or -1 once it is deleted.
    qsizetype rowOfKey(const QString& key) const;
    qsizetype rowOf(RowId id) const;
    RowId rowId(qsizetype row) const { return m_rowIds.at(row); }

    // The changes, each saved at once. False when the save failed: the error has been shown over MessageParent
    // (this dialog when null) and the key map, the list and the file are as they were before the change.
    // replacePath is false as well, showing nothing, when the row has been deleted.
    bool appendBinding(const Binding& binding, QWidget* messageParent = nullptr);
    bool replacePath(RowId id, const QString& path, QWidget* messageParent = nullptr);
    // Likewise, with the row's new gain (its volume) as well.
    bool replaceSound(RowId id, const QString& path, float gain, QWidget* messageParent = nullptr);
    // Delete: every selected row at once, without asking. With nothing selected the file is still rewritten, which
    // drops the lines without a bar and puts the file in the written form.
    bool deleteSelectedRows();

    // Add: a new non-modal Add Key window, its file field filled with FileName.
    KeyEditDialog* openAddKey(const QString& fileName = QString());
    // Edit: a new non-modal Edit Key window for the first selected row; null when none is selected.
    KeyEditDialog* editSelectedRow();
    // A new non-modal Edit Key window for Row.
    KeyEditDialog* openEditKey(qsizetype row);
    // The Add/Edit Key windows of this dialog still open.
    QList<KeyEditDialog*> keyEditWindows() const;

    // Sound files dropped on the list: one Add Key window per file, at most this many per drop.
    static constexpr int MaxDroppedFiles = 10;
    void addDroppedFiles(const QStringList& fileNames);

signals:
    // KeyMap and keys.db have just taken a change.
    void keyMapSaved();

protected:
    // Every way of closing ends here; the Add/Edit Key windows work on this dialog's rows and close with it.
    void done(int result) override;

private:
    void createControls();
    void fillList();
    void appendListRow(const Binding& binding);
    // Applies Change to a copy of the key map without its lines that bind nothing, writes the copy to keys.db, and
    // only when that succeeded makes it the key map. A failure is shown with the key map's error message.
    bool commit(const std::function<void(KeyMap&)>& change, QWidget* messageParent);
    KeyEditDialog* track(KeyEditDialog* window);

    KeyMap& m_keyMap;
    const KeyMapFile m_files;
    const QString m_keysDbPath;
    KeyDialogHooks m_hooks = KeyDialogHooks::desktop();
    QList<RowId> m_rowIds; // one per row of the list and of the key map
    RowId m_nextRowId = 1;
    QList<QPointer<KeyEditDialog>> m_windows;

    QTableWidget* m_list = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_editButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
};

} // namespace clavora
