// The main window.
#include "app/mainwindow.h"

#include "app/application.h"
#include "app/hotkeynotice.h"
#include "app/identity.h"
#include "app/launcher.h"
#include "app/menuicons.h"
#include "app/messagebox.h"
#include "app/shortcuthotkeys.h"
#include "app/soundboard.h"
#include "app/textdisplay.h"
#include "app/volumecontrol.h"
#include "app/volumetarget.h"
#include "app/widgetnames.h"
#include "audio/audioengine.h"
#include "display/ledmatrixdisplay.h"
#include "display/onscreenkeyboard.h"
#include "i18n/translator.h"
#include "keymap/keyeditdialog.h"
#include "keymap/redefinekeysdialog.h"
#include "online/updatechecker.h"
#include "online/updatecheckui.h"
#include "platform/programvolume.h"
#include "platform/services.h"
#include "platform/soundserver.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace clavora {

namespace {

constexpr int ClientWidth = 646;
constexpr int ClientHeight = 341;
constexpr int DisplayStripHeight = 65;
constexpr int VolumeSliderHeight = 25;
constexpr int KeyboardMargin = 3;
constexpr int HotkeyPollInterval = 50;
constexpr int AutoSwitchDelay = 100;
// How long the Output Device menu waits for the sound server's list as it opens.
constexpr std::chrono::milliseconds OutputListTimeout{500};

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

void addSeparator(QMenu* menu, const char* name) {
    menu->addSeparator()->setObjectName(QLatin1String(name));
}

// A command runs through the application's guard: an error it raises is shown in the standard error box and the
// program goes on; it never unwinds through the toolkit.
// A command's expected failure, shown in the application's error box; the command has stopped where it failed.
void showFailure(const Status& status) {
    if (!status) {
        showApplicationError(status.message());
    }
}

} // namespace

QString helpPageUrl(const QString& host, const QString& productName) {
    QString slug = productName.toLower();
    slug.replace(QLatin1Char(' '), QLatin1Char('-'));
    return QLatin1String("http://") + host + QLatin1String("/help/") + slug + QLatin1Char('/');
}

MainWindow::MainWindow(platform::Services& services, const AppContext& context, Options& options, KeyMap& keyMap,
                       SoundBoard& soundBoard, const Translator& translator, QWidget* parent)
    : QMainWindow(parent), m_services(services), m_context(context), m_options(options), m_keyMap(keyMap),
      m_soundBoard(soundBoard), m_translator(translator),
      m_trayAvailable([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {
    setObjectName(QLatin1String(widgetnames::MainWindow));
    setWindowIcon(applicationIcon());
    setWindowTitle(m_context.identity.title);
    setFont(windowFont());

    createControls();
    createMenus();

    m_autoSwitchTimer = new QTimer(this);
    m_autoSwitchTimer->setObjectName(QLatin1String(widgetnames::AutoSwitchTimer));
    m_autoSwitchTimer->setInterval(AutoSwitchDelay);
    m_autoSwitchTimer->setSingleShot(true);
    connect(m_autoSwitchTimer, &QTimer::timeout, this, &MainWindow::onAutoSwitchTimer);

    m_hotkeyTimer = new QTimer(this);
    m_hotkeyTimer->setObjectName(QLatin1String(widgetnames::HotkeyTimer));
    m_hotkeyTimer->setInterval(HotkeyPollInterval);
    connect(m_hotkeyTimer, &QTimer::timeout, this, &MainWindow::pollHotkeys);
    m_shortcutHotkeys = new ShortcutHotkeys(m_services.globalShortcuts(), m_keyMap, m_soundBoard, this);

    m_trayIcon = new QSystemTrayIcon(trayIcon(), this);
    m_trayIcon->setObjectName(QLatin1String(widgetnames::TrayIcon));
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            restoreFromTray();
        }
    });

    showOptions();
    connect(&m_options, &Options::changed, this, &MainWindow::applyOption);

    // The client area is 646 x 341 at 96 dpi; the menu bar comes on top of it.
    resize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }

    // A change of screen or of its pixel density rescales the window; the display is reloaded after it. The first
    // screen is watched as well as any the window moves to.
    winId();
    if (QWindow* window = windowHandle()) {
        watchScreen(window->screen());
        connect(window, &QWindow::screenChanged, this, [this](QScreen* screen) {
            watchScreen(screen);
            reloadDisplay();
        });
    }

    // What the window system says of the window's state while it comes back from the notification area.
    if (QWindow* window = windowHandle()) {
        window->installEventFilter(this);
    }
}

MainWindow::~MainWindow() {
    stopKeyWatch();
}

void MainWindow::watchScreen(QScreen* screen) {
    if (screen) {
        connect(screen, &QScreen::logicalDotsPerInchChanged, this, &MainWindow::reloadDisplay, Qt::UniqueConnection);
    }
}

void MainWindow::createControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QLatin1String(widgetnames::ClientArea));
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_displayPanel = new QWidget(client);
    m_displayPanel->setObjectName(QLatin1String(widgetnames::DisplayPanel));
    m_displayPanel->setFixedHeight(DisplayStripHeight);
    m_displayPanel->setEnabled(false); // the strip takes no mouse or keyboard input
    layout->addWidget(m_displayPanel);

    m_volumeSlider = new QSlider(Qt::Horizontal, client);
    m_volumeSlider->setObjectName(QLatin1String(widgetnames::VolumeSlider));
    m_volumeSlider->setFixedHeight(VolumeSliderHeight);
    m_volumeSlider->setTickPosition(QSlider::NoTicks);
    m_volumeSlider->setFocusPolicy(Qt::ClickFocus); // not a tab stop
    connect(m_volumeSlider, &QSlider::valueChanged, this, &MainWindow::volumeStepChanged);
    layout->addWidget(m_volumeSlider);

    auto* keyboardArea = new QWidget(client);
    keyboardArea->setObjectName(QLatin1String(widgetnames::KeyboardArea));
    auto* keyboardLayout = new QVBoxLayout(keyboardArea);
    keyboardLayout->setContentsMargins(KeyboardMargin, KeyboardMargin, KeyboardMargin, KeyboardMargin);
    createOnScreenKeyboard(keyboardArea);
    keyboardLayout->addWidget(m_touchKeyboard);
    layout->addWidget(keyboardArea, 1);

    setCentralWidget(client);
    // Keys typed into the window reach the window itself, not a child.
    setFocusPolicy(Qt::StrongFocus);
    client->setFocusProxy(this);
}

void MainWindow::createOnScreenKeyboard(QWidget* area) {
    // The keyboard takes no focus when clicked: the keys it injects reach the window's own key handlers. Its minimum
    // size, with the strip and the slider above it, is the window's.
    m_touchKeyboard =
        new OnScreenKeyboard(m_services.keyboard(), m_services.keyCaptions(), m_services.keyInjector(), area);
    m_touchKeyboard->setObjectName(QLatin1String(widgetnames::OnScreenKeyboard));
    connect(m_touchKeyboard, &OnScreenKeyboard::errorOccurred, this,
            [](const QString& message) { showApplicationError(message); });
}

void MainWindow::applyKeyboardLayout() {
    m_touchKeyboard->setLayoutType(m_options.keyboardLayout() == LayoutNumPad ? KeyboardLayoutType::NumPad
                                                                              : KeyboardLayoutType::Standard);
}

void MainWindow::createMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QLatin1String(widgetnames::MenuBar));

    // The check items of the option table, wired to its one change path. The action flips its own mark before
    // the command runs.
    const auto optionItem = [this](QMenu* menu, Option option) {
        const OptionRow& row = optionRow(option);
        QAction* action = addCheckItem(menu, row.actionName, row.caption);
        m_optionActions[size_t(option)] = action;
        connect(action, &QAction::triggered, this,
                [this, option](bool checked) { changeOption(option, onOff(checked)); });
        return action;
    };

    QMenu* soundboard = bar->addMenu(QStringLiteral("Soundboard"));
    soundboard->setObjectName(QLatin1String(widgetnames::SoundboardMenu));
    QAction* redefineKeys = addItem(soundboard, widgetnames::RedefineKeysAction, QStringLiteral("Redefine Keys..."));
    connect(redefineKeys, &QAction::triggered, this, &MainWindow::redefineKeys);
    addStopAllItem(soundboard);
    addSeparator(soundboard, widgetnames::ExitSeparator);
    QAction* exit = addItem(soundboard, widgetnames::ExitAction, QStringLiteral("Exit"));
    exit->setIcon(menuIcon(QStringLiteral("exit")));
    connect(exit, &QAction::triggered, this, [] { QCoreApplication::quit(); });

    QMenu* view = bar->addMenu(QStringLiteral("View"));
    view->setObjectName(QLatin1String(widgetnames::ViewMenu));
    optionItem(view, Option::MatrixDisplay);
    const OptionRow& layoutSpec = optionRow(Option::KeyboardLayout);
    QMenu* layouts = view->addMenu(layoutSpec.caption);
    layouts->setObjectName(QLatin1String(widgetnames::KeyboardLayoutMenu));
    auto* layoutGroup = new QActionGroup(this);
    layoutGroup->setObjectName(QLatin1String(widgetnames::KeyboardLayoutGroup));
    layoutGroup->setExclusive(true);
    for (const OptionChoice& choice : layoutSpec.choices) {
        QAction* action = addCheckItem(layouts, choice.actionName, choice.caption);
        layoutGroup->addAction(action);
        m_layoutActions.insert(choice.value, action);
        // Choosing the layout that is already checked writes it again.
        connect(action, &QAction::triggered, this,
                [this, value = choice.value] { changeOption(Option::KeyboardLayout, value); });
    }

    QMenu* settings = bar->addMenu(QStringLiteral("Settings"));
    settings->setObjectName(QLatin1String(widgetnames::SettingsMenu));
    m_autostartAction = addCheckItem(settings, widgetnames::AutostartAction, QStringLiteral("Auto Run at Startup"));
    connect(m_autostartAction, &QAction::triggered, this, [this] { showFailure(toggleAutostart()); });
    optionItem(settings, Option::MinimizeStartup);
    optionItem(settings, Option::MinimizeToSystemTray);
    addSeparator(settings, widgetnames::OverlapSeparator);
    optionItem(settings, Option::AllowOverlappingSounds);
    optionItem(settings, Option::PressAgainToStop);
    optionItem(settings, Option::EvenLoudness);
    m_outputDeviceMenu = settings->addMenu(QStringLiteral("Output Device"));
    m_outputDeviceMenu->setObjectName(QLatin1String(widgetnames::OutputDeviceMenu));
    // Only a sound server lists outputs and moves a stream between them.
    m_outputDeviceMenu->menuAction()->setVisible(m_services.hasProgramVolume());
    connect(m_outputDeviceMenu, &QMenu::aboutToShow, this, &MainWindow::listOutputDevices);
    optionItem(settings, Option::HotkeyMode);
    optionItem(settings, Option::VoiceOutput)->setVisible(false);
    addSeparator(settings, widgetnames::ResetSeparator);
    QAction* reset = addItem(settings, widgetnames::ResetToDefaultsAction, QStringLiteral("Reset to Defaults..."));
    connect(reset, &QAction::triggered, this, [this] { resetToDefaults(); });

    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    help->setObjectName(QLatin1String(widgetnames::HelpMenu));
    QAction* onlineHelp = addItem(help, widgetnames::OnlineHelpAction, QStringLiteral("Online Help"));
    onlineHelp->setShortcut(QKeySequence(Qt::Key_F1));
    onlineHelp->setShortcutContext(Qt::WindowShortcut);
    onlineHelp->setIcon(menuIcon(QStringLiteral("help")));
    connect(onlineHelp, &QAction::triggered, this, [this] { openHelpPage(); });
    addSeparator(help, widgetnames::UpdateNotificationsSeparator);
    QAction* updateNotifications =
        addCheckItem(help, widgetnames::UpdateNotificationsAction, QStringLiteral("Update Notifications"));
    updateNotifications->setChecked(true);
    updateNotifications->setEnabled(false);
    addSeparator(help, widgetnames::LanguageSeparator);
    QAction* language = addItem(help, widgetnames::LanguageAction, QStringLiteral("&Language..."));
    language->setIcon(menuIcon(QStringLiteral("flag")));
    connect(language, &QAction::triggered, this, [this] { openLanguageDialog(); });
    QAction* feedback = addItem(help, widgetnames::SendFeedbackAction, QStringLiteral("Send &Feedback..."));
    feedback->setIcon(menuIcon(QStringLiteral("feedback")));
    connect(feedback, &QAction::triggered, this, [this] { openFeedbackDialog(); });
    QAction* about = addItem(help, widgetnames::AboutAction, QStringLiteral("&About..."));
    about->setIcon(menuIcon(QStringLiteral("about")));
    connect(about, &QAction::triggered, this, [this] { openAboutDialog(); });
}

void MainWindow::addStopAllItem(QMenu* soundboard) {
    QAction* stopAll = addItem(soundboard, widgetnames::StopAllSoundsAction, QStringLiteral("Stop All Sounds"));
    // No key of its own: every key has a name a binding may use (Pause is "PAUSE"), and a shortcut would stop the
    // very sound its binding had just started. A keys.db binding to the stop-all token gives it a key in hotkey mode.
    connect(stopAll, &QAction::triggered, this, [this] { m_soundBoard.stopAll(); });
}

void MainWindow::setVoiceOutputAvailable(bool available) {
    m_optionActions[size_t(Option::VoiceOutput)]->setVisible(available);
}

void MainWindow::showOptions() {
    const bool autostart = !m_services.autostart().readEntry(m_context.identity.title).isEmpty();
    m_autostartAction->setChecked(autostart);
    m_optionActions[size_t(Option::MinimizeStartup)]->setEnabled(autostart);
    for (const OptionRow& row : optionTable()) {
        applyOption(row.option);
    }
    if (m_services.hasProgramVolume()) {
        applyOutputDevice();
    }
}

void MainWindow::listOutputDevices() {
    // Made afresh at every opening: outputs come and go (a headset plugged in).
    qDeleteAll(m_outputDeviceMenu->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly));
    m_outputDeviceMenu->clear();
    auto* group = new QActionGroup(m_outputDeviceMenu);
    group->setExclusive(true);
    const QString chosen = m_options.outputDevice();
    const auto addDevice = [&](const QString& caption, const QString& name) {
        QAction* action = m_outputDeviceMenu->addAction(caption);
        action->setCheckable(true);
        action->setChecked(name == chosen);
        action->setData(name);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, name] { chooseOutputDevice(name); });
        return action;
    };
    addDevice(QStringLiteral("Default"), QString());
    bool listed = chosen.isEmpty();
    for (const platform::SoundOutput& output : m_services.soundServer().outputs(OutputListTimeout)) {
        addDevice(output.description, output.name);
        listed = listed || output.name == chosen;
    }
    if (!listed) {
        // Chosen, and gone for now: the sounds play on the default until it is back.
        addDevice(chosen, chosen)->setEnabled(false);
    }
}

void MainWindow::chooseOutputDevice(const QString& name) {
    const Status written = m_options.setOutputDevice(name);
    applyOutputDevice();
    showFailure(written);
}

void MainWindow::applyOutputDevice() {
    const QString device = m_options.outputDevice();
    platform::IProgramVolume& stream = m_services.programVolume();
    stream.keepOn(device);
    if (!device.isEmpty()) {
        // Following the stream again does nothing when the volume slider follows it already.
        stream.follow(QString::fromUtf8(audio::OutputStreamName));
    }
}

void MainWindow::applyOption(Option option) {
    if (option == Option::KeyboardLayout) {
        if (QAction* action = m_layoutActions.value(m_options.keyboardLayout())) {
            action->setChecked(true);
        }
        applyKeyboardLayout();
        return;
    }
    const bool on = m_options.isOn(option);
    m_optionActions[size_t(option)]->setChecked(on);
    switch (option) {
    case Option::HotkeyMode:
        if (m_trayHotkeyAction != nullptr) {
            m_trayHotkeyAction->setChecked(on);
        }
        if (on) {
            m_hotkeyTimer->start();
            startKeyWatch();
            if (!m_keyWatch && m_services.canBindShortcuts()) {
                m_shortcutHotkeys->start();
            }
            noticeHotkeysUnheard();
        } else {
            m_hotkeyTimer->stop();
            stopKeyWatch();
            m_shortcutHotkeys->stop();
        }
        break;
    case Option::EvenLoudness:
        m_soundBoard.setEvenLoudness(on, loudnessCacheFile(m_services.fileSystem().userStateFolder()));
        break;
    case Option::MatrixDisplay:
        if (on) {
            reloadDisplay();
        }
        m_displayPanel->setVisible(on);
        break;
    default:
        break;
    }
}

void MainWindow::changeOption(Option option, const QString& value) {
    showFailure(m_options.set(option, value));
}

TextDisplay& MainWindow::createDisplay() {
    m_display = std::make_unique<TextDisplay>(createMainWindowDisplay(m_displayPanel));
    m_display->showText(PressAnyKey);
    return *m_display;
}

void MainWindow::createVolumeControl(audio::SoundPlayer& player) {
    m_volume = makeProgramVolume(player, m_services, m_services.fileSystem().userStateFolder());
    const StatusTextSink displayText{[this] { return m_display ? m_display->text() : QString(); },
                                     [this](const QString& text) {
                                         if (m_display) {
                                             m_display->showText(text);
                                         }
                                     }};
    // A child of the window, so its timer is found among the window's; the window still ends it before its slider.
    m_volumeControl = std::make_unique<VolumeControl>(m_volumeSlider, this, *m_volume, displayText, this);
}

void MainWindow::startUpdateCheck() {
    const Identity& identity = m_context.identity;
    m_updateChecker = new online::UpdateChecker(
        online::makeUpdateCheckContext(m_services, identity.companyName, identity.productName, identity.version), this);
    online::UpdateNoticeContent notice;
    notice.productName = identity.productName;
    notice.homePageUrl = online::makerHomePage(m_services.webHost().makerWebHost());
    notice.shell = &m_services.shell();
    notice.icon = applicationIcon();
    notice.translate = [&translator = m_translator](const QString& text) { return translator.translate(text); };
    // The menu item stays checked and disabled until the check is done; the check's side of the window owns it.
    auto* updateNotifications = findChild<QAction*>(QLatin1String(widgetnames::UpdateNotificationsAction));
    new online::UpdateCheckUi(*m_updateChecker, *updateNotifications, *this, std::move(notice));
    m_updateChecker->start();
}

Status MainWindow::toggleAutostart() {
    // The check mark has already flipped; a failure ends the command where it happens.
    platform::IAutostart& autostart = m_services.autostart();
    QAction* startMinimized = m_optionActions[size_t(Option::MinimizeStartup)];
    if (m_autostartAction->isChecked()) {
        const Status written = autostart.writeEntry(m_context.identity.title, launcherPath(m_context.programFile),
                                                    QStringLiteral("/auto"));
        if (!written) {
            return written;
        }
        startMinimized->setEnabled(true);
        return Status::success();
    }
    const Status removed = autostart.removeEntry(m_context.identity.title);
    if (!removed) {
        return removed;
    }
    if (m_options.isOn(Option::MinimizeStartup)) {
        const Status written = m_options.setOn(Option::MinimizeStartup, false);
        if (!written) {
            return written;
        }
    }
    startMinimized->setEnabled(false);
    return Status::success();
}

void MainWindow::resetToDefaults() {
    const QMessageBox::StandardButton answer = messageBoxWithCaptions(
        m_translator.translate(QStringLiteral("Restart Application?")), QMessageBox::Question,
        QMessageBox::Yes | QMessageBox::No, m_translator.translate(QStringLiteral("Confirmation")),
        {m_translator.translate(QStringLiteral("Yes")), m_translator.translate(QStringLiteral("No"))});
    if (answer != QMessageBox::Yes) {
        return;
    }
    m_services.fileSystem().removeFile(m_context.dataFolder + QLatin1String("settings.ini"));
    QCoreApplication::processEvents();
    if (m_beforeRestart) {
        m_beforeRestart();
    }
    m_services.shell().startDetached(m_context.programFile, {});
    QCoreApplication::quit();
}

void MainWindow::openHelpPage() {
    m_services.shell().openUrl(helpPageUrl(m_services.webHost().makerWebHost(), m_context.identity.productName));
}

void MainWindow::redefineKeys() {
    // The dialog changes the key map the sound board plays from, so the next key press, here or from the hotkey
    // poll (which goes on while the dialog is open), plays the new bindings.
    RedefineKeysDialog dialog(m_keyMap, KeyMapFile(m_services), m_context.dataFolder + QLatin1String("keys.db"), this);
    connect(&dialog, &RedefineKeysDialog::keyMapSaved, this, [this] {
        m_soundBoard.keyMapChanged();
        m_shortcutHotkeys->keyMapChanged();
    });
    dialog.exec();
}

void MainWindow::hideToTray() {
    m_restoring = false;
    if (!m_trayAvailable()) {
        showMinimized();
        return;
    }
    hide();
    setWindowState(windowState() | Qt::WindowMinimized);
    m_trayIcon->setToolTip(m_context.identity.title);
    m_trayIcon->setContextMenu(trayMenu());
    m_trayIcon->show();
}

QMenu* MainWindow::trayMenu() {
    if (m_trayMenu != nullptr) {
        return m_trayMenu;
    }
    const auto text = [this](const char* source) { return m_translator.translate(QLatin1String(source)); };
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName(QLatin1String(widgetnames::TrayMenu));
    QAction* show = addItem(m_trayMenu, widgetnames::TrayShowAction, text("Show %s"));
    show->setText(show->text().replace(QLatin1String("%s"), m_context.identity.productName));
    connect(show, &QAction::triggered, this, &MainWindow::activate);
    m_trayMenu->setDefaultAction(show);
    QAction* stopAll = addItem(m_trayMenu, widgetnames::TrayStopAllAction, text("Stop All Sounds"));
    connect(stopAll, &QAction::triggered, this, [this] { m_soundBoard.stopAll(); });
    m_trayHotkeyAction = addCheckItem(m_trayMenu, widgetnames::TrayHotkeyModeAction, text("Hotkey Mode"));
    m_trayHotkeyAction->setChecked(m_options.isOn(Option::HotkeyMode));
    connect(m_trayHotkeyAction, &QAction::triggered, this,
            [this](bool checked) { changeOption(Option::HotkeyMode, onOff(checked)); });
    m_trayMenu->addSeparator();
    QAction* exit = addItem(m_trayMenu, widgetnames::TrayExitAction, text("Exit"));
    exit->setIcon(menuIcon(QStringLiteral("exit")));
    connect(exit, &QAction::triggered, this, [] { QCoreApplication::quit(); });
    return m_trayMenu;
}

void MainWindow::activate() {
    if (m_trayIcon->isVisible() || !isVisible()) {
        restoreFromTray();
        return;
    }
    if (isMinimized()) {
        m_restoring = true;
        setWindowState(windowState() & ~Qt::WindowMinimized);
        showNormal();
    }
    raise();
    activateWindow();
}

int MainWindow::volumeStep() const {
    return m_volumeSlider->value();
}

void MainWindow::setVolumeStep(int step) {
    m_volumeSlider->setValue(step);
}

void MainWindow::restoreFromTray() {
    // A window manager may map the window iconic once more on its way back (it still had the hint of its hidden
    // state when it was managed): until the window is on screen or active, that is no minimize of the user's.
    m_restoring = true;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    activateWindow();
    m_trayIcon->hide();
}

void MainWindow::onMinimized() {
    // Without a notification area the window simply stays minimized on the task bar.
    if (m_options.isOn(Option::MinimizeToSystemTray) && m_trayAvailable()) {
        hideToTray();
    }
}

void MainWindow::onAutoSwitchTimer() {
    m_autoSwitchTimer->stop();
    if (!isAutoStartArgument(m_context.arguments) || !m_options.isOn(Option::MinimizeStartup)) {
        return;
    }
    if (m_options.isOn(Option::MinimizeToSystemTray)) {
        hideToTray();
    } else {
        showMinimized();
    }
}

bool MainWindow::hasKeyboardFocus() const {
    // Keys go to the volume slider while it holds the focus, and to a menu while one is open.
    return isActiveWindow() && QApplication::focusWidget() != m_volumeSlider && !QApplication::activePopupWidget();
}

input::KeyFocus MainWindow::keyFocus() const {
    // Typing a key's name or a file name into one of our fields plays nothing; the Add/Edit Key window is for
    // typing from whichever of its parts has the focus.
    const QWidget* focus = QApplication::focusWidget();
    if ((focus && focus->testAttribute(Qt::WA_InputMethodEnabled)) ||
        qobject_cast<const KeyEditDialog*>(QApplication::activeWindow())) {
        return input::KeyFocus::TextEntry;
    }
    return hasKeyboardFocus() ? input::KeyFocus::MainWindow : input::KeyFocus::Elsewhere;
}

void MainWindow::startKeyWatch() {
    if (m_keyWatch) {
        return;
    }
    platform::IKeyWatch& watch = m_services.keyWatch();
    const bool watching = watch.start([this](int virtualKey, bool down) {
        if (down) {
            m_soundBoard.keyWentDown(virtualKey, keyFocus());
        } else {
            m_soundBoard.keyWentUp(virtualKey);
        }
    });
    if (watching) {
        m_keyWatch = &watch;
    }
}

void MainWindow::noticeHotkeysUnheard() {
    if (m_hotkeyNotice || m_services.canWatchKeys() || m_services.canReadKeys() ||
        (m_shortcutHotkeys->running() && m_services.canBindShortcuts())) {
        return;
    }
    qCInfo(lcApp) << "Hotkey mode hears no keys: this desktop does not let programs watch keys; bind"
                  << HotkeyNotice::PlayCommand << "in its keyboard settings instead";
    m_hotkeyNotice = new HotkeyNotice(
        m_services.shell(),
        helpPageUrl(m_services.webHost().makerWebHost(), m_context.identity.productName) + QLatin1String("#wayland"),
        [&translator = m_translator](const QString& text) { return translator.translate(text); }, centralWidget());
    // Above the display strip, in the window itself: nothing to dismiss before going on.
    if (auto* layout = qobject_cast<QVBoxLayout*>(centralWidget()->layout())) {
        layout->insertWidget(0, m_hotkeyNotice);
    }
    m_hotkeyNotice->show();
}

void MainWindow::stopKeyWatch() {
    if (m_keyWatch) {
        m_keyWatch->stop();
        m_keyWatch = nullptr;
    }
}

void MainWindow::pollHotkeys() {
    m_soundBoard.pollHotkeys(keyFocus());
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // The slider keeps the keys it is given; what it does not use comes on to the window, where it must not play.
    // The event goes on to its normal handling either way.
    if (focusWidget() != m_volumeSlider) {
        m_soundBoard.playTypedKey(event->key(), event->text(), event->isAutoRepeat());
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::reloadDisplay() {
    if (m_display) {
        m_display->showText(PressAnyKey);
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    reloadDisplay();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The /auto switch is looked at once the window is on screen, not while start-up still runs a box of its own.
    if (!m_autoSwitchStarted) {
        m_autoSwitchStarted = true;
        m_autoSwitchTimer->start();
    }
    // The icon is there only while the window is hidden to the notification area.
    m_trayIcon->hide();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        // Keys typed while the window is active are its own; the log tells when that changes.
        qCDebug(lcApp) << (isActiveWindow() ? "Main window active" : "Main window inactive");
    }
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        m_restoring = false;
    }
    if (event->type() == QEvent::WindowStateChange && isMinimized() && isVisible()) {
        // Hiding from inside the state change confuses some window managers; do it right after.
        QTimer::singleShot(0, this, [this] {
            if (!isMinimized() || !isVisible()) {
                return;
            }
            if (m_restoring) {
                // The iconic state of the way back: the click asked for the window in normal state.
                showNormal();
                activateWindow();
                return;
            }
            onMinimized();
        });
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle() && windowHandle()->isExposed() && !isMinimized()) {
        m_restoring = false;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace clavora
