// The application object: one place where an error that escapes an event handler is shown, after which the
// program carries on.
#pragma once

#include <QApplication>
#include <functional>
#include <stdexcept>

namespace clavora {

// An error meant for the user, raised by a command that cannot finish (a settings file that cannot be written).
class EAppError : public std::runtime_error {
public:
    explicit EAppError(const QString& message) : std::runtime_error(message.toStdString()), FMessage(message) {}
    const QString& message() const { return FMessage; }

private:
    QString FMessage;
};

// Shows Message in the application's standard error box.
void ShowApplicationError(const QString& message);

// Tests replace the error box to see what would have been shown; an empty function restores the box.
void SetApplicationErrorHandler(std::function<void(const QString&)> handler);

// Runs Deliver, showing an error that escapes it in the standard error box instead of ending the program.
// Returns what Deliver returned, or false after an error.
bool DeliverGuarded(const std::function<bool()>& deliver);

// The application object: whatever escapes an event handler is shown by DeliverGuarded.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace clavora
