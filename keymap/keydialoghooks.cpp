// The desktop's message box and file-open dialog for the key dialogs.
#include "keymap/keydialoghooks.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace clavora {

const QStringList SoundFileFilters = {
    QStringLiteral("Audio Files (*.wav *.mp3 *.mp2 *.mp1 *.aiff *.ogg *.m4a *.flac *.opus)"),
    // "*" rather than "*.*": on this system a file name need not hold a dot.
    QStringLiteral("Any File (*)"),
};

FileDialogStart fileDialogStart(const QString& startFile) {
    const QFileInfo start(QString(startFile).replace(QLatin1Char('\\'), QLatin1Char('/')));
    return FileDialogStart{start.absolutePath(), start.fileName()};
}

KeyDialogHooks KeyDialogHooks::desktop() {
    KeyDialogHooks hooks;
    hooks.showMessage = [](QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
        QMessageBox box(icon, caption, QString(), QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText); // the text names the user's files
        box.setText(text);
        box.exec();
    };
    hooks.chooseSoundFile = [](QWidget* parent, const QString& startFile) {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(SoundFileFilters);
        dialog.setDefaultSuffix(QStringLiteral("wav"));
        if (!startFile.isEmpty()) {
            const FileDialogStart start = fileDialogStart(startFile);
            dialog.setDirectory(start.folder);
            dialog.selectFile(start.fileName);
        }
        if (dialog.exec() != QDialog::Accepted) {
            return QString();
        }
        return dialog.selectedFiles().value(0);
    };
    return hooks;
}

} // namespace clavora
