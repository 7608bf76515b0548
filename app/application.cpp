// The application object and its standard error box.
#include "app/application.h"

#include "app/identity.h"

#include <QFile>
#include <QMessageBox>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>

// Resources compiled into a static library must be registered by name, outside any namespace.
static void initAppResources() {
    Q_INIT_RESOURCE(resources);
}

namespace clavora {

namespace {

std::function<void(const QString&)>& ErrorHandler() {
    static std::function<void(const QString&)> handler;
    return handler;
}

constexpr int WindowFontPixelHeight = 11;

// Fusion, with the mark of a menu item among exclusive choices drawn as a radio button. Under a style sheet that
// styles menu items, the sheet hands every check mark to the base style's plain check; this keeps one of several
// choices (View > Keyboard Layout) telling itself apart from an option that is on or off.
class ProgramStyle : public QProxyStyle {
public:
    ProgramStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element == PE_IndicatorMenuCheckMark && item && item->checkType == QStyleOptionMenuItem::Exclusive) {
            QStyleOptionButton radio;
            radio.QStyleOption::operator=(*option);
            const int side = qMin(option->rect.width(), option->rect.height());
            radio.rect = QRect(0, 0, side, side);
            radio.rect.moveCenter(option->rect.center());
            radio.state =
                (option->state & State_Enabled) | (item->checked || (option->state & State_On) ? State_On : State_Off);
            QProxyStyle::drawPrimitive(PE_IndicatorRadioButton, &radio, painter, widget);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

// The program's look: a style sheet carried as a resource. A failure is shown and the default look stays.
void applyVisualStyle(QApplication& app) {
    QFile sheet(QStringLiteral(":/clavora/style.qss"));
    if (!sheet.open(QIODevice::ReadOnly)) {
        QMessageBox box(QMessageBox::Critical, QString(), QString(), QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.setText(QStringLiteral("Cannot load the visual style: %1").arg(sheet.errorString()));
        box.exec();
        return;
    }
    app.setStyle(new ProgramStyle);
    app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
}

} // namespace

QFont windowFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(WindowFontPixelHeight);
    return font;
}

void configureApplication(QApplication& app) {
    initAppResources();
    applyVisualStyle(app);
    QApplication::setApplicationName(QStringLiteral("Clavora"));
    QApplication::setFont(windowFont());
    // The window stays while hidden to the notification area.
    QApplication::setQuitOnLastWindowClosed(true);
}

void showApplicationError(const QString& message) {
    qCWarning(lcApp) << message;
    if (ErrorHandler()) {
        ErrorHandler()(message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), QString(), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText); // messages carry file names and the user's own text
    box.setText(message);
    box.exec();
}

void setApplicationErrorHandler(std::function<void(const QString&)> handler) {
    ErrorHandler() = std::move(handler);
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    return deliverGuarded([&] { return QApplication::notify(receiver, event); });
}

bool deliverGuarded(const std::function<bool()>& deliver) {
    try {
        return deliver();
    } catch (const std::exception& error) {
        showApplicationError(QString::fromLocal8Bit(error.what()));
    }
    return false;
}

} // namespace clavora
