// The language dialog: the installed languages with their flags, who translated the selected one, and, when the
// user confirms another language, the choice kept and the program started again through a script in the data
// folder. The language itself is only loaded at start-up.
#pragma once

#include "platform/services.h"
#include "platform/status.h"

#include <QDialog>
#include <QStringList>

#include <functional>

class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace clavora {

class Translator;

// What the dialog is handed by the window that opens it.
struct LanguageDialogContext {
    // Reads the credits, writes the restart script and starts it, opens the translation page. Required.
    platform::Services* services = nullptr;
    std::function<QString(const QString&)> translate; // the loaded language; unchanged text when empty
    QStringList languageFiles;                        // the installed language files, as the translator found them
    QString languagesFolder;
    QString currentLanguage; // the loaded language's name; empty when none is loaded
    // The loaded language file (a path or a name); empty when none is loaded. It picks the item even when the file's
    // name gives no language name.
    QString currentLanguageFile;
    QString dataFolder;  // the restart script goes here
    QString programFile; // what the script starts
    QString translationPageUrl;
    // Keeps the confirmed language (its name) for the next start. Null: nothing is kept.
    std::function<Status(const QString& language)> storeLanguage;
    // Shows a failure to write the script or keep the choice; null: a plain error box.
    std::function<void(const QString& message)> showError;
    // Ends the program's event loop once the script runs; null: the application quits.
    std::function<void()> quit;
};

// The translator's part of the context: its translation, its files, its folder and its current language.
LanguageDialogContext languageDialogContext(const Translator& translator, platform::Services& services);

class LanguageDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 622;
    static constexpr int ClientHeight = 227;

    explicit LanguageDialog(LanguageDialogContext context, QWidget* parent = nullptr);
    ~LanguageDialog() override;

    // The language name of the item selected when the dialog was made.
    const QString& initialLanguage() const { return m_initialLanguage; }

    // The height of a row of the drop-down list.
    static constexpr int RowHeight = 23;

    // "OK": closes without a change; after a change asks to restart, and on Yes writes the script, keeps the choice,
    // runs the script and ends the program.
    void confirm();

private:
    QString translate(const char* text) const;
    QString selectedLanguage() const;
    void showCredits();

    LanguageDialogContext m_context;
    QString m_initialLanguage;
    int m_initialIndex = 0;
    QComboBox* m_languages = nullptr;
    QPlainTextEdit* m_credits = nullptr;
    QMenu* m_creditsMenu = nullptr;
};

} // namespace clavora
