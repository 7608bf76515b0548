// Program entry and the main window.
#include "app/main.h"

#include "app/datafolder.h"
#include "app/identity.h"
#include "platform/filesystem.h"
#include "platform/locale.h"
#include "platform/process.h"

#include <QApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcApp, "clavora.app")

// Resources compiled into a static library must be registered by name, outside any namespace.
static void InitAppResources() { Q_INIT_RESOURCE(resources); }

namespace clavora {

namespace {

constexpr int ClientWidth = 646;
constexpr int ClientHeight = 341;
constexpr int DisplayStripHeight = 65;

// The program's look: a style sheet carried as a resource. A failure is shown and the default look stays.
void ApplyVisualStyle(QApplication& app) {
    QFile sheet(QStringLiteral(":/clavora/style.qss"));
    if (!sheet.open(QIODevice::ReadOnly)) {
        QMessageBox::critical(nullptr, QString(), QStringLiteral("Cannot load the visual style: %1").arg(sheet.errorString()));
        return;
    }
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
}

} // namespace

bool IsAutoStartArgument(const QStringList& arguments) {
    return !arguments.isEmpty() && arguments.first().toLower() == QLatin1String("/auto");
}

TAppForm::TAppForm(const QStringList& arguments, QWidget* parent) : QMainWindow(parent), FArguments(arguments) {
    setObjectName(QStringLiteral("AppForm"));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new QWidget(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(DisplayStripHeight);
    Panel1->setEnabled(false); // the strip takes no mouse or keyboard input
    layout->addWidget(Panel1);
    layout->addStretch(1);
    setCentralWidget(client);

    TimerParam = new QTimer(this);
    TimerParam->setObjectName(QStringLiteral("TimerParam"));
    TimerParam->setInterval(100);
    TimerParam->setSingleShot(true);
    connect(TimerParam, &QTimer::timeout, this, &TAppForm::TimerParamTimer);

    TimerHotkey = new QTimer(this);
    TimerHotkey->setObjectName(QStringLiteral("TimerHotkey"));

    FormCreate();

    resize(ClientWidth, ClientHeight + (menuWidget() ? menuWidget()->sizeHint().height() : 0));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    // Runs once the event loop is going and the window is on screen.
    TimerParam->start();
}

TAppForm::~TAppForm() = default;

void TAppForm::FormCreate() {
    platform::IFileSystem& fs = platform::FileSystem();

    // 1-3: identity from the program file's version information.
    AppTitle = AppCompanyName + QLatin1String(" - ") + AppProductName;
    setWindowTitle(AppTitle);

    // 4: the data folder.
    DataFolder = ChooseDataFolder(fs.programFolder(), AppCompanyName, AppProductName);
    qCInfo(lcApp) << "data folder" << DataFolder;

    // 6: the locale's formats.
    platform::ILocale& locale = platform::Locale();
    LocaleSettings.DecimalSeparator = locale.decimalSeparator();
    LocaleSettings.ShortDateFormat = locale.shortDateFormat();

    // 7: the hotkey poll interval.
    TimerHotkey->setInterval(50);
}

void TAppForm::TimerParamTimer() {
    TimerParam->stop();
    if (!IsAutoStartArgument(FArguments)) {
        return;
    }
}

int RunProgram(int argc, char** argv) {
    // Held for the life of the process and never tested: several instances may run.
    std::unique_ptr<platform::IHeld> mutex = platform::Process().createNamedMutex(QStringLiteral("ZEMTRAK_Clavora"));

    QApplication app(argc, argv);
    InitAppResources();
    ApplyVisualStyle(app);
    QApplication::setApplicationName(QStringLiteral("Clavora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Clavora"));

    QStringList arguments = QApplication::arguments();
    if (!arguments.isEmpty()) {
        arguments.removeFirst();
    }
    TAppForm form(arguments);
    form.show();
    return app.exec();
}

} // namespace clavora
