// The notice the main window shows when hotkey mode is on where the desktop does not let programs watch keys (a
// Wayland compositor without a way to bind global shortcuts): instead of a hotkey mode that silently hears nothing,
// it says so and names the command to bind in the desktop's own keyboard settings.
#pragma once

#include <QFrame>
#include <QString>

#include <functional>

class QLabel;

namespace clavora {

namespace platform {
class IShell;
}

class HotkeyNotice : public QFrame {
    Q_OBJECT
public:
    // What to bind a key to instead, KEY standing for the key's name in keys.db.
    static const QString PlayCommand;

    // HelpUrl: the page that says how to bind keys on such desktops, opened through Shell (which must outlive the
    // notice). Translate gives the loaded language's texts.
    HotkeyNotice(platform::IShell& shell, QString helpUrl, const std::function<QString(const QString&)>& translate,
                 QWidget* parent = nullptr);

    // The notice as plain text, as it reads.
    QString text() const;
    QString helpUrl() const { return m_helpUrl; }

private:
    platform::IShell& m_shell;
    QString m_helpUrl;
    QLabel* m_label = nullptr;
};

} // namespace clavora
