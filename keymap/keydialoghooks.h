// What the key dialogs ask of the desktop besides their own windows: message boxes and the file-open dialog. Tests
// replace both, so they can see the messages and pick files without a person at the screen.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace clavora {

struct KeyDialogHooks {
    // Shows Text in a modal message box over Parent with Icon, Caption and an OK button, and returns once it is
    // dismissed.
    std::function<void(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text)>
        showMessage;
    // Asks for one sound file, starting at StartFile (no file name when it is empty). Returns the chosen file's full
    // path, or an empty string when the user cancels.
    std::function<QString(QWidget* parent, const QString& startFile)> chooseSoundFile;

    // The real message box and the system's file-open dialog.
    static KeyDialogHooks desktop();
};

// Where the file-open dialog starts for the file named in a Filename field: the folder it opens at and the name it
// selects there. A backslash separates folders, as in keys.db ("Sounds\15.mp3"); a relative path is taken from
// the current folder, as playback takes it.
struct FileDialogStart {
    QString folder;
    QString fileName;
};
FileDialogStart fileDialogStart(const QString& startFile);

// The file dialog's filters: the audio files the engine plays, then every file.
extern const QStringList SoundFileFilters;

} // namespace clavora
