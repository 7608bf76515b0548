// The application object: one place where an error that escapes an event handler is shown, after which the
// program carries on.
#pragma once

#include <QApplication>
#include <QFont>
#include <functional>
#include <stdexcept>

namespace clavora {

// Shows Message in the application's standard error box.
void showApplicationError(const QString& message);

// Tests replace the error box to see what would have been shown; an empty function restores the box.
void setApplicationErrorHandler(std::function<void(const QString&)> handler);

// Runs Deliver, showing an exception that escapes it in the standard error box instead of ending the program: the
// last resort for the unexpected, as commands return their expected failures as a Status and show them themselves.
// Returns what Deliver returned, or false after an exception.
bool deliverGuarded(const std::function<bool()>& deliver);

// The application object: whatever escapes an event handler is shown by deliverGuarded.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The program's application-wide look and names: its resources, the visual style (a failure is shown and the
// default look stays), the name "Clavora" that plain message boxes carry as their caption, and the window font.
// No display name is set, since the toolkit would append it to every dialog's caption.
void configureApplication(QApplication& app);

// The window font: DejaVu Sans with a character height of 11 pixels.
QFont windowFont();

} // namespace clavora
