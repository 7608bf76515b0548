// The start-up sequence and the program's run.
#include "app/startup.h"

#include "app/application.h"
#include "app/audiodrivers.h"
#include "app/commandline.h"
#include "app/datafolder.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/options.h"
#include "app/remotecontrol.h"
#include "app/soundboard.h"
#include "app/voiceoutput.h"
#include "audio/soundplayer.h"
#include "i18n/translator.h"
#include "keymap/keymapfile.h"
#include "online/modalwork.h"
#include "platform/makeservices.h"

namespace clavora {

namespace {

// How long start-up waits for the sound server to say what it is; beyond it SDL chooses the driver itself.
constexpr std::chrono::milliseconds SoundServerTimeout{500};
// How long start-up waits for the audio output to open before it goes on without it. An output opens in a moment;
// a sound server that takes the connection and never answers would otherwise hold the window back for ever.
constexpr std::chrono::milliseconds AudioStartWait{1000};

void writeDiagnostics(std::FILE* out, audio::SoundPlayer& player) {
    const QByteArray line = player.engine().diagnostics().toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), out);
    std::fflush(out);
}

} // namespace

bool isDiagnosticsArgument(const QStringList& arguments) {
    return arguments.contains(QLatin1String("--diagnostics"), Qt::CaseInsensitive);
}

Startup::Startup(platform::Services& services, QStringList arguments)
    : m_services(services), m_settings(services.fileSystem()), m_translator(services) {
    m_context.arguments = std::move(arguments);
}

Startup::~Startup() {
    if (m_diagnosticsOut != nullptr && m_player) {
        writeDiagnostics(m_diagnosticsOut, *m_player);
    }
    m_window.reset();
    m_voiceOutput.reset();
    if (m_player) {
        m_player->stop();
    }
}

void Startup::run() {
    readIdentity();
    chooseDataFolder();
    openSettings();
    captureLocale();
    createWindow();
    loadLanguage();
    loadKeyMap();
    createDisplay();
    startAudio(); // and, once the output has opened or failed to, the volume slider and the voice output
    startUpdateCheck();
    startDiagnostics();
}

void Startup::readIdentity() {
    platform::IFileSystem& fs = m_services.fileSystem();
    m_context.programFile = fs.programFilePath();
    m_context.programFolder = fs.programFolder();
    if (!m_context.programFolder.endsWith(QLatin1Char('/'))) {
        m_context.programFolder += QLatin1Char('/');
    }
    m_context.identity = clavora::readIdentity(fs, m_context.programFile);
}

void Startup::chooseDataFolder() {
    m_context.dataFolder = clavora::chooseDataFolder(m_services.fileSystem(), m_context.programFolder,
                                                     m_context.identity.companyName, m_context.identity.productName);
    qCInfo(lcApp) << "data folder" << m_context.dataFolder;
}

void Startup::openSettings() {
    m_settings = openSettingsStore(m_services.fileSystem(), m_context.dataFolder);
    m_options = std::make_unique<Options>(m_settings);
}

void Startup::captureLocale() {
    platform::ILocale& locale = m_services.locale();
    m_context.locale.decimalSeparator = locale.decimalSeparator();
    m_context.locale.shortDateFormat = locale.shortDateFormat();
}

void Startup::createWindow() {
    // The player exists from here on so the window can be handed it; its output starts in the last step.
    // The period as small as the machine sustains: a soundboard is played like an instrument.
    audio::EngineConfig config;
    config.adaptivePeriod = true;
    // A lone dropout now and then comes with any period on a busy or virtual machine; a run of them is the period.
    config.periodPolicy.underrunsToGrow = 3;
    // Back down soon after a burst of load has passed; a smaller period that fails again waits twice as long.
    config.periodPolicy.quietNs = 10'000'000'000;
    // A machine whose processors are all taken drops out at the small periods before the underruns show it.
    config.periodPolicy.busyPeriod = 1024;
    config.preferDeviceRate = true;
    config.closedUntilFirstSound = true;
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) {
        const platform::SoundServerInfo server = m_services.soundServer().query(SoundServerTimeout);
        config.drivers = preferredAudioDrivers(server);
        qCInfo(lcApp) << "sound server:" << (server.answers ? server.name : QStringLiteral("none"))
                      << (server.pipeWire && !server.sessionManager ? "without a session manager" : "");
    }
    m_player = std::make_unique<audio::SoundPlayer>(
        audio::AudioServices{&m_services.fileSystem(), &m_services.threadPriority(), &m_services.fallbackPlayer(),
                             &m_services.systemInfo()},
        config);
    m_soundBoard = std::make_unique<SoundBoard>(m_keyMap, *m_options, *m_player, m_services.keyboard(),
                                                m_context.locale.decimalSeparator);
    m_window = std::make_unique<MainWindow>(m_services, m_context, *m_options, m_keyMap, *m_soundBoard, m_translator);
}

void Startup::loadLanguage() {
    // The language the user chose comes first; without one (or once it is uninstalled) the locale decides.
    const Status language = m_translator.loadPreferredLanguage(m_options->language());
    if (!language) {
        qCWarning(lcApp) << "language not loaded:" << language.message();
    }
}

void Startup::loadKeyMap() {
    KeyMapFile(m_services).load(m_context.dataFolder, m_context.programFolder, m_keyMap);
    m_soundBoard->keyMapChanged();
}

void Startup::createDisplay() {
    m_window->createDisplay();
}

void Startup::startAudio() {
    // Opened in the background: the window comes up and sounds go to the system's player until the output answers.
    const auto settled = [this](bool started) {
        if (!started) {
            showMessage(QStringLiteral("Could not initialize audio engine."));
        }
        startVolumeControl();
        startVoiceOutput();
    };
    if (!m_player->startInBackground(settled)) {
        settled(false);
        return;
    }
    if (!m_player->waitForStart(AudioStartWait)) {
        qCWarning(lcApp) << "The audio output does not answer yet; sounds go to the system player until it does";
    }
}

void Startup::startVolumeControl() {
    m_window->createVolumeControl(*m_player);
}

void Startup::startVoiceOutput() {
    m_voiceOutput = std::make_unique<VoiceOutput>(*m_options, *m_player, m_services.voiceMicrophone());
    m_window->setVoiceOutputAvailable(m_voiceOutput->start());
}

void Startup::startUpdateCheck() {
    m_window->startUpdateCheck();
}

void Startup::startDiagnostics(std::FILE* out) {
    if (!isDiagnosticsArgument(m_context.arguments)) {
        return;
    }
    m_diagnosticsOut = out;
    m_diagnosticsTimer.setInterval(1000);
    QObject::connect(&m_diagnosticsTimer, &QTimer::timeout, [this] {
        writeDiagnostics(m_diagnosticsOut, *m_player);
        m_diagnosticsTimer.setInterval(10000);
    });
    m_diagnosticsTimer.start();
}

int runProgram(int argc, char** argv) {
    Application app(argc, argv);
    configureApplication(app);
    // The toolkit has taken its own options (-display, -platform...) out of these.
    QStringList arguments = QApplication::arguments();
    if (!arguments.isEmpty()) {
        arguments.removeFirst();
    }

    // One instance per desktop session: a second start brings the first to the front instead of playing every
    // hotkey a second time. The autostart entry of a session where the program already runs does nothing.
    const std::unique_ptr<platform::IInstanceBus> bus = platform::makeInstanceBus();
    switch (bus->claim()) {
    case platform::IInstanceBus::Claim::Claimed:
        break;
    case platform::IInstanceBus::Claim::Taken: {
        if (isAutoStartArgument(arguments)) {
            return ExitDone;
        }
        QString failure;
        const std::unique_ptr<platform::IRunningInstance> running = bus->findRunning(&failure);
        const Status activated = running ? running->activate() : Status::failure(failure);
        if (!activated) {
            writeToStream(stderr, QStringLiteral("clavora: %1\n").arg(activated.message()));
            return ExitFailed;
        }
        return ExitDone;
    }
    case platform::IInstanceBus::Claim::Unavailable:
        qCInfo(lcApp) << "running without the session bus:" << bus->unavailableReason();
        break;
    }

    // What the session offers is looked at once; every part of the program is handed the services chosen for it.
    const std::unique_ptr<platform::Services> services =
        platform::makeServices(platform::detectSession(SoundServerTimeout));
    // Held for the life of the process; which instance runs is settled on the session bus.
    std::unique_ptr<platform::IHeld> mutex = services->process().createNamedMutex(QStringLiteral("ZEMTRAK_Clavora"));

    Startup startup(*services, arguments);
    // Ended by the system, the program still closes down in order: what it made at the sound server goes away.
    std::unique_ptr<platform::IHeld> endRequests =
        services->process().catchEndRequests([] { QCoreApplication::quit(); });
    // An end that comes while a feedback is being sent (from the system or the session) waits for the send.
    online::ModalWork::instance().holdEndRequests(app);
    startup.run();
    // Calls that came in during start-up have waited for this; they are answered now.
    RemoteControl remote(startup.window(), startup.soundBoard(), startup.options(), *bus);
    startup.window().setBeforeRestart([&bus] { bus->release(); });
    startup.window().show();
    return app.exec();
}

} // namespace clavora
