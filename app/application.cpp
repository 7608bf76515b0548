// The application object and its standard error box.
#include "app/application.h"

#include <QLoggingCategory>
#include <QMessageBox>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace clavora {

namespace {

std::function<void(const QString&)>& ErrorHandler() {
    static std::function<void(const QString&)> handler;
    return handler;
}

} // namespace

void ShowApplicationError(const QString& message) {
    qCWarning(lcApp) << message;
    if (ErrorHandler()) {
        ErrorHandler()(message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void SetApplicationErrorHandler(std::function<void(const QString&)> handler) { ErrorHandler() = std::move(handler); }

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    return DeliverGuarded([&] { return QApplication::notify(receiver, event); });
}

bool DeliverGuarded(const std::function<bool()>& deliver) {
    try {
        return deliver();
    } catch (const EAppError& error) {
        ShowApplicationError(error.message());
    } catch (const std::exception& error) {
        ShowApplicationError(QString::fromLocal8Bit(error.what()));
    }
    return false;
}

} // namespace clavora
