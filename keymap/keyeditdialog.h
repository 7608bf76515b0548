// The Add/Edit Key window: one binding's key and sound file. It works on the rows of the Redefine Keys dialog that
// opened it and has that dialog save the key map; it is not modal, and several can be open at once.
#pragma once

#include "keymap/redefinekeysdialog.h"

#include <QDialog>

class QLineEdit;
class QMimeData;
class QPushButton;
class QSpinBox;

namespace clavora {

class KeyEditDialog : public QDialog {
    Q_OBJECT
public:
    enum class Mode {
        Add,  // a new binding for a key of one character
        Edit, // a new sound file for the row it was opened from; the key cannot change
    };

    // Add mode: empty fields, the volume at 100%. Edit mode: the key, path and volume of the row with identity Row,
    // the key field disabled.
    // The window is a child of Owner, deletes itself when closed, and is shown by the caller.
    KeyEditDialog(RedefineKeysDialog& owner, Mode mode, RedefineKeysDialog::RowId row = 0);

    Mode mode() const { return m_mode; }
    RedefineKeysDialog::RowId row() const { return m_row; }
    QString key() const;
    QString fileName() const;
    void setFileName(const QString& fileName);
    // The binding's volume in percent, 0 to MaxBindingVolume.
    int volume() const;
    void setVolume(int percent);

    // OK. Add mode: appends the binding and saves, unless the key field is empty or the key already has a row.
    // Edit mode: gives the row its new file and volume and saves, unless the row has been deleted. The window closes
    // once the save succeeded; otherwise it stays open with its fields, after telling the user why.
    void confirm();
    // Browse...: the file dialog, starting at the file field's file; a chosen file replaces the field.
    void browse();

private:
    void warn(const QString& text);

    RedefineKeysDialog& m_owner;
    const Mode m_mode;
    const RedefineKeysDialog::RowId m_row;

    QLineEdit* m_keyField = nullptr;
    QLineEdit* m_fileField = nullptr;
    QSpinBox* m_volumeField = nullptr;
    QPushButton* m_browseButton = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};

// The local files (folders left out) among dropped URLs, in their order.
QStringList droppedLocalFiles(const QMimeData* mime);

} // namespace clavora
