// Program entry and the main window.
#include "app/main.h"

#include "app/application.h"
#include "app/datafolder.h"
#include "app/identity.h"
#include "app/menuicons.h"
#include "app/messagedlg.h"
#include "app/options.h"
#include "app/versioninfo.h"
#include "app/volumecontrol.h"
#include "app/volumetarget.h"
#include "audio/playback.h"
#include "display/untLumoMatrix.h"
#include "i18n/checklanguage.h"
#include "input/focusedkeys.h"
#include "input/hotkeys.h"
#include "keymap/keymapfile.h"
#include "platform/autostart.h"
#include "platform/filesystem.h"
#include "platform/keyboard.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/programvolume.h"
#include "platform/shell.h"
#include "platform/webhost.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSlider>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

Q_LOGGING_CATEGORY(lcApp, "clavora.app")

// Resources compiled into a static library must be registered by name, outside any namespace.
static void InitAppResources() { Q_INIT_RESOURCE(resources); }

namespace clavora {

TSettingsIni SettingsIni;
TLumoMatrixDisplay* MatrixDisplay = nullptr;
QString DisplayText;

namespace {

constexpr int ClientWidth = 646;
constexpr int ClientHeight = 341;
constexpr int DisplayStripHeight = 65;
constexpr int VolumeSliderHeight = 25;
constexpr int KeyboardMargin = 3;

const QString PressAnyKey = QStringLiteral("Press any key");

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

QAction* addItem(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

QAction* addCheckItem(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = addItem(menu, name, caption);
    action->setCheckable(true);
    return action;
}

void addSeparator(QMenu* menu, const char* name) { menu->addSeparator()->setObjectName(QLatin1String(name)); }

} // namespace

bool IsAutoStartArgument(const QStringList& arguments) {
    return !arguments.isEmpty() && arguments.first().toLower() == QLatin1String("/auto");
}

QString HelpPageUrl(const QString& host, const QString& productName) {
    QString slug = productName.toLower();
    slug.replace(QLatin1Char(' '), QLatin1Char('-'));
    return QLatin1String("http://") + host + QLatin1String("/help/") + slug + QLatin1Char('/');
}

TAppForm::TAppForm(const QStringList& arguments, QWidget* parent) : QMainWindow(parent), FArguments(arguments) {
    setObjectName(QStringLiteral("AppForm"));
    setWindowIcon(ApplicationIcon());

    CreateControls();
    CreateMenus();

    TimerParam = new QTimer(this);
    TimerParam->setObjectName(QStringLiteral("TimerParam"));
    TimerParam->setInterval(100);
    TimerParam->setSingleShot(true);
    connect(TimerParam, &QTimer::timeout, this, &TAppForm::TimerParamTimer);

    TimerHotkey = new QTimer(this);
    TimerHotkey->setObjectName(QStringLiteral("TimerHotkey"));
    connect(TimerHotkey, &QTimer::timeout, this, &TAppForm::TimerHotkeyTimer);

    TrayIcon1 = new QSystemTrayIcon(ApplicationIcon(), this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            TrayIcon1Click();
        }
    });

    FormCreate();

    // The client area is 646 x 341 at 96 dpi; the menu bar comes on top of it.
    resize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }

    // A change of screen or of its pixel density rescales the window; the display is reloaded after it.
    winId();
    if (QWindow* window = windowHandle()) {
        connect(window, &QWindow::screenChanged, this, [this](QScreen* screen) {
            FormAfterMonitorDpiChanged();
            if (screen) {
                connect(screen, &QScreen::logicalDotsPerInchChanged, this, &TAppForm::FormAfterMonitorDpiChanged,
                        Qt::UniqueConnection);
            }
        });
    }

    // Runs once the event loop is going and the window is on screen.
    TimerParam->start();
}

TAppForm::~TAppForm() {
    if (FSound) {
        FSound->FreeAudio();
    }
    MatrixDisplay = nullptr;
}

void TAppForm::CreateControls() {
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

    TrackBar2 = new QSlider(Qt::Horizontal, client);
    TrackBar2->setObjectName(QStringLiteral("TrackBar2"));
    TrackBar2->setFixedHeight(VolumeSliderHeight);
    TrackBar2->setTickPosition(QSlider::NoTicks);
    TrackBar2->setFocusPolicy(Qt::ClickFocus); // not a tab stop
    TrackBar2->setRange(0, 0);
    layout->addWidget(TrackBar2);

    auto* keyboardArea = new QWidget(client);
    keyboardArea->setObjectName(QStringLiteral("KeyboardArea"));
    auto* keyboardLayout = new QVBoxLayout(keyboardArea);
    keyboardLayout->setContentsMargins(KeyboardMargin, KeyboardMargin, KeyboardMargin, KeyboardMargin);
    TouchKeyboard1 = new QWidget(keyboardArea);
    TouchKeyboard1->setObjectName(QStringLiteral("TouchKeyboard1"));
    keyboardLayout->addWidget(TouchKeyboard1);
    layout->addWidget(keyboardArea, 1);

    setCentralWidget(client);
    // Keys typed into the window reach the window itself, not a child.
    setFocusPolicy(Qt::StrongFocus);
    client->setFocusProxy(this);
}

void TAppForm::CreateMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    Soundboard1 = bar->addMenu(QStringLiteral("Soundboard"));
    Soundboard1->setObjectName(QStringLiteral("Soundboard1"));
    RedefineKeys1 = addItem(Soundboard1, "RedefineKeys1", QStringLiteral("Redefine Keys..."));
    addSeparator(Soundboard1, "N1");
    Exit1 = addItem(Soundboard1, "Exit1", QStringLiteral("Exit"));
    Exit1->setIcon(MenuIcon(QStringLiteral("exit")));

    View1 = bar->addMenu(QStringLiteral("View"));
    View1->setObjectName(QStringLiteral("View1"));
    MatrixDisplay1 = addCheckItem(View1, "MatrixDisplay1", QStringLiteral("Matrix Display"));
    MatrixDisplay1->setChecked(true);
    KeyboardLayout1 = View1->addMenu(QStringLiteral("Keyboard Layout"));
    KeyboardLayout1->setObjectName(QStringLiteral("KeyboardLayout1"));
    auto* layoutGroup = new QActionGroup(this);
    layoutGroup->setObjectName(QStringLiteral("KeyboardLayoutGroup"));
    layoutGroup->setExclusive(true);
    Standard1 = addCheckItem(KeyboardLayout1, "Standard1", QStringLiteral("Standard"));
    NumPad1 = addCheckItem(KeyboardLayout1, "NumPad1", QStringLiteral("NumPad"));
    layoutGroup->addAction(Standard1);
    layoutGroup->addAction(NumPad1);
    Standard1->setChecked(true);

    Settings1 = bar->addMenu(QStringLiteral("Settings"));
    Settings1->setObjectName(QStringLiteral("Settings1"));
    Autostartatstartup1 = addCheckItem(Settings1, "Autostartatstartup1", QStringLiteral("Auto Run at Startup"));
    StartMinimized1 = addCheckItem(Settings1, "StartMinimized1", QStringLiteral("Auto Minimize at Startup"));
    MinimizetoSystemTray1 = addCheckItem(Settings1, "MinimizetoSystemTray1", QStringLiteral("Minimize to System Tray"));
    addSeparator(Settings1, "N4");
    AllowOverlappingSounds1 =
        addCheckItem(Settings1, "AllowOverlappingSounds1", QStringLiteral("Allow Overlapping Sounds"));
    HotkeyMode1 = addCheckItem(Settings1, "HotkeyMode1", QStringLiteral("Hotkey Mode"));
    addSeparator(Settings1, "N2");
    ResettoDefaults1 = addItem(Settings1, "ResettoDefaults1", QStringLiteral("Reset to Defaults..."));

    Help1 = bar->addMenu(QStringLiteral("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Help2 = addItem(Help1, "Help2", QStringLiteral("Online Help"));
    Help2->setShortcut(QKeySequence(Qt::Key_F1));
    Help2->setShortcutContext(Qt::WindowShortcut);
    Help2->setIcon(MenuIcon(QStringLiteral("help")));
    addSeparator(Help1, "N3");
    UpdateNotifications1 = addCheckItem(Help1, "UpdateNotifications1", QStringLiteral("Update Notifications"));
    UpdateNotifications1->setChecked(true);
    UpdateNotifications1->setEnabled(false);
    addSeparator(Help1, "UpdateNotificationsBar");
    Language1 = addItem(Help1, "Language1", QStringLiteral("Language..."));
    Language1->setIcon(MenuIcon(QStringLiteral("flag")));
    Language1->setVisible(false);
    SendFeedback1 = addItem(Help1, "SendFeedback1", QStringLiteral("Send &Feedback..."));
    SendFeedback1->setIcon(MenuIcon(QStringLiteral("feedback")));
    About1 = addItem(Help1, "About1", QStringLiteral("&About..."));
    About1->setIcon(MenuIcon(QStringLiteral("about")));

    // The check mark is flipped by the action itself before its command runs. A command that fails shows its
    // error in the standard box and the program goes on; the error never unwinds through the toolkit.
    const auto command = [this](QAction* action, void (TAppForm::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] {
            DeliverGuarded([this, handler] {
                (this->*handler)();
                return true;
            });
        });
    };
    command(MinimizetoSystemTray1, &TAppForm::MinimizetoSystemTray1Click);
    command(StartMinimized1, &TAppForm::StartMinimized1Click);
    command(AllowOverlappingSounds1, &TAppForm::AllowOverlappingSounds1Click);
    command(HotkeyMode1, &TAppForm::HotkeyMode1Click);
    command(MatrixDisplay1, &TAppForm::MatrixDisplay1Click);
    command(Standard1, &TAppForm::Standard1Click);
    command(NumPad1, &TAppForm::NumPad1Click);
    command(Autostartatstartup1, &TAppForm::Autostartatstartup1Click);
    command(ResettoDefaults1, &TAppForm::ResettoDefaults1Click);
    command(Help2, &TAppForm::Help2Click);
    command(Exit1, &TAppForm::Exit1Click);
}

void TAppForm::FormCreate() {
    platform::IFileSystem& fs = platform::FileSystem();
    const QString programFile = fs.programFilePath();

    // 1-3: identity from the program file's version information. Without it the names stay empty and start-up
    // goes on.
    TEXEVersionData version;
    const TStatus versionRead = ReadVersionStrings(programFile, version);
    if (!versionRead) {
        qCWarning(lcApp) << "version information unreadable:" << versionRead.message();
    }
    AppCompanyName = version.CompanyName;
    AppProductName = version.ProductName;
    int major = 0;
    int minor = 0;
    const bool versionKnown = ReadFixedFileVersion(programFile, major, minor);
    AppVersion = FormatAppVersion(versionKnown, major, minor);
    AppTitle = AppCompanyName + QLatin1String(" - ") + AppProductName;
    setWindowTitle(AppTitle);

    // 4: the data folder.
    DataFolder = ChooseDataFolder(fs.programFolder(), AppCompanyName, AppProductName);
    qCInfo(lcApp) << "data folder" << DataFolder;

    // 5: the settings store.
    SettingsIni = OpenSettingsIni(DataFolder);

    // 6: the locale's formats.
    platform::ILocale& locale = platform::Locale();
    LocaleSettings.DecimalSeparator = locale.decimalSeparator();
    LocaleSettings.ShortDateFormat = locale.shortDateFormat();

    // 7: the hotkey poll interval and the volume slider's range.
    TimerHotkey->setInterval(50);
    TrackBar2->setRange(0, VolumeSteps);

    // 8: autostart and the options.
    ReadOptionsAtStartup();

    // 9: the user-interface language, chosen from the user's locale.
    const TStatus language = LoadLanguage(QString());
    if (!language) {
        qCWarning(lcApp) << "language not loaded:" << language.message();
    }

    // 10: the key map.
    LoadKeyMap(DataFolder, fs.programFolder() + QLatin1Char('/'));

    // 11: the display.
    MatrixDisplay = CreateMainWindowDisplay(Panel1);
    DisplayText = PressAnyKey;
    MatrixDisplay->LoadText(DisplayText, 0, 0, false);

    // 12: the audio output. Without it every sound goes to the system's simple player.
    FSound = std::make_unique<audio::TSoundPlayback>();
    FSound->Channel = 0;
    if (!FSound->InitAudio()) {
        ShowMessage(QStringLiteral("Could not initialize audio engine."));
    }

    // 13: the volume slider, on the volume the output turned out to have.
    FVolume = MakeProgramVolume(*FSound, platform::ProgramVolume(), platform::FileSystem().userStateFolder());
    const StatusTextSink displayText{[] { return DisplayText; },
                                     [](const QString& text) {
                                         DisplayText = text;
                                         if (MatrixDisplay) {
                                             MatrixDisplay->ClearDisplay(true, false);
                                             MatrixDisplay->LoadText(DisplayText, 0, 0, false);
                                         }
                                     }};
    FVolumeControl = std::make_unique<VolumeControl>(TrackBar2, this, *FVolume, displayText);
}

void TAppForm::ReadOptionsAtStartup() {
    const bool autostart = !platform::Autostart().readEntry(AppTitle).isEmpty();
    Autostartatstartup1->setChecked(autostart);
    StartMinimized1->setEnabled(autostart);

    const TOptions options = ReadOptions(SettingsIni);
    MinimizetoSystemTray1->setChecked(options.MinimizeToSystemTray);
    StartMinimized1->setChecked(options.MinimizeStartup);
    HotkeyMode1->setChecked(options.HotkeyMode);
    if (options.HotkeyMode) {
        TimerHotkey->start();
    }
    AllowOverlappingSounds1->setChecked(options.AllowOverlappingSounds);
    if (options.KeyboardLayout == LayoutNumPad) {
        NumPad1->setChecked(true);
    }
    FKeyboardLayout = options.KeyboardLayout;
    MatrixDisplay1->setChecked(options.MatrixDisplay);
    Panel1->setVisible(options.MatrixDisplay);
}

void TAppForm::WriteOption(const QString& key, const QString& value) {
    SettingsIni.writeString(SettingsSection, key, value);
    const TStatus written = SettingsIni.updateFile();
    if (!written) {
        throw EAppError(written.message());
    }
}

void TAppForm::MinimizetoSystemTray1Click() {
    WriteOption(KeyMinimizeToSystemTray, OnOff(MinimizetoSystemTray1->isChecked()));
}

void TAppForm::StartMinimized1Click() { WriteOption(KeyMinimizeStartup, OnOff(StartMinimized1->isChecked())); }

void TAppForm::AllowOverlappingSounds1Click() {
    WriteOption(KeyAllowOverlappingSounds, OnOff(AllowOverlappingSounds1->isChecked()));
}

void TAppForm::HotkeyMode1Click() {
    if (HotkeyMode1->isChecked()) {
        TimerHotkey->start();
    } else {
        TimerHotkey->stop();
    }
    WriteOption(KeyHotkeyMode, OnOff(HotkeyMode1->isChecked()));
}

void TAppForm::MatrixDisplay1Click() {
    const bool on = MatrixDisplay1->isChecked();
    Panel1->setVisible(on);
    if (on && MatrixDisplay) {
        DisplayText = PressAnyKey;
        MatrixDisplay->ClearDisplay(true, false);
        MatrixDisplay->LoadText(DisplayText, 0, 0, false);
    }
    WriteOption(KeyMatrixDisplay, OnOff(on));
}

void TAppForm::Standard1Click() {
    Standard1->setChecked(true);
    FKeyboardLayout = LayoutStandard;
    WriteOption(KeyKeyboardLayout, LayoutStandard);
}

void TAppForm::NumPad1Click() {
    NumPad1->setChecked(true);
    FKeyboardLayout = LayoutNumPad;
    WriteOption(KeyKeyboardLayout, LayoutNumPad);
}

void TAppForm::Autostartatstartup1Click() {
    // The check mark has already flipped; a failure ends the command where it happens.
    platform::IAutostart& autostart = platform::Autostart();
    if (Autostartatstartup1->isChecked()) {
        const TStatus written =
            autostart.writeEntry(AppTitle, platform::FileSystem().programFilePath(), QStringLiteral("/auto"));
        if (!written) {
            throw EAppError(written.message());
        }
        StartMinimized1->setEnabled(true);
        return;
    }
    const TStatus removed = autostart.removeEntry(AppTitle);
    if (!removed) {
        throw EAppError(removed.message());
    }
    if (StartMinimized1->isChecked()) {
        StartMinimized1->trigger(); // unchecks it and stores "OFF"
    }
    StartMinimized1->setEnabled(false);
}

void TAppForm::ResettoDefaults1Click() {
    const QMessageBox::StandardButton answer = MessageDlgWithCaptions(
        Translate(QStringLiteral("Restart Application?")), QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
        Translate(QStringLiteral("Confirmation")), {Translate(QStringLiteral("Yes")), Translate(QStringLiteral("No"))});
    if (answer != QMessageBox::Yes) {
        return;
    }
    platform::FileSystem().removeFile(DataFolder + QLatin1String("settings.ini"));
    QCoreApplication::processEvents();
    platform::Shell().startDetached(platform::FileSystem().programFilePath(), {});
    QCoreApplication::quit();
}

void TAppForm::Help2Click() { platform::Shell().openUrl(HelpPageUrl(platform::MakerWebHost(), AppProductName)); }

void TAppForm::Exit1Click() { QCoreApplication::quit(); }

void TAppForm::SistemTepsisineKucult() {
    hide();
    setWindowState(windowState() | Qt::WindowMinimized);
    TrayIcon1->setToolTip(AppTitle);
    TrayIcon1->show();
}

void TAppForm::TrayIcon1Click() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    activateWindow();
    TrayIcon1->hide();
}

void TAppForm::ApplicationEvents1Minimize() {
    if (MinimizetoSystemTray1->isChecked()) {
        SistemTepsisineKucult();
    }
}

void TAppForm::SetLanguageFile(const QString& filename) { Q_UNUSED(filename); }

void TAppForm::PlaySoundFile(const QString& fileName) {
    FSound->PlaySoundFile(fileName, AllowOverlappingSounds1->isChecked());
}

quint32 TAppForm::Channel() const { return FSound ? FSound->Channel : 0; }

void TAppForm::KeystrokeEkle(const QString& basilantus) {
    input::KeystrokeEkle(basilantus, KeyList, HotkeyMode1->isChecked(),
                         [this](const QString& path) { PlaySoundFile(path); });
}

void TAppForm::TimerHotkeyTimer() {
    input::HotkeyPoll(platform::Keyboard(), LocaleSettings.DecimalSeparator, KeyList, HotkeyMode1->isChecked(),
                      [this](const QString& path) { PlaySoundFile(path); });
}

void TAppForm::FormKeyDown(int key) {
    input::PlayFunctionKeyBindings(key, KeyList, [this](const QString& path) { PlaySoundFile(path); });
}

void TAppForm::FormKeyPress(QChar key) {
    input::PlayCharacterBindings(key, KeyList, [this](const QString& path) { PlaySoundFile(path); });
}

void TAppForm::keyPressEvent(QKeyEvent* event) {
    // The function keys by their key code, every other key by the character it types; the event goes on to its
    // normal handling either way.
    FormKeyDown(input::FunctionKeyCode(event->key()));
    const QString text = event->text();
    if (!text.isEmpty() && !input::FunctionKeyCode(event->key())) {
        FormKeyPress(text.at(0));
    }
    QMainWindow::keyPressEvent(event);
}

void TAppForm::FormResize() {
    if (!MatrixDisplay) {
        return;
    }
    DisplayText = PressAnyKey;
    MatrixDisplay->ClearDisplay(true, false);
    MatrixDisplay->LoadText(DisplayText, 0, 0, false);
}

void TAppForm::FormAfterMonitorDpiChanged() { FormResize(); }

void TAppForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TAppForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && isVisible()) {
        // Hiding from inside the state change confuses some window managers; do it right after.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && isVisible()) {
                ApplicationEvents1Minimize();
            }
        });
    }
}

void TAppForm::TimerParamTimer() {
    TimerParam->stop();
    if (!IsAutoStartArgument(FArguments) || !StartMinimized1->isChecked()) {
        return;
    }
    if (MinimizetoSystemTray1->isChecked()) {
        SistemTepsisineKucult();
    } else {
        showMinimized();
    }
}

int RunProgram(int argc, char** argv) {
    // Held for the life of the process and never tested: several instances may run.
    std::unique_ptr<platform::IHeld> mutex = platform::Process().createNamedMutex(QStringLiteral("ZEMTRAK_Clavora"));

    TApplication app(argc, argv);
    InitAppResources();
    ApplyVisualStyle(app);
    QApplication::setApplicationName(QStringLiteral("Clavora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Clavora"));
    // The window stays while hidden to the notification area.
    QApplication::setQuitOnLastWindowClosed(true);

    QStringList arguments = QApplication::arguments();
    if (!arguments.isEmpty()) {
        arguments.removeFirst();
    }
    TAppForm form(arguments);
    form.show();
    return app.exec();
}

} // namespace clavora
