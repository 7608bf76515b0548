// The run-time choice of the services.
#include "platform/makeservices.h"

#include "platform/dummy/dummyservices.h"

#ifdef CLAVORA_WITH_LINUX_SERVICES
#include "platform/dbus/dbusinstancebus.h"
#include "platform/posix/linuxautostart.h"
#include "platform/posix/linuxfilesystem.h"
#include "platform/posix/linuxfoldersearch.h"
#include "platform/posix/linuxlocale.h"
#include "platform/posix/linuxprocess.h"
#include "platform/posix/linuxshell.h"
#include "platform/posix/linuxsysteminfo.h"
#include "platform/posix/linuxthreadpriority.h"
#include "platform/pulse/linuxfallbackplayer.h"
#include "platform/pulse/linuxprogramvolume.h"
#include "platform/pulse/linuxsoundserver.h"
#include "platform/pulse/linuxvoicemicrophone.h"
#include "platform/wayland/portalshortcuts.h"
#include "platform/wayland/waylandkeyboard.h"
#include "platform/x11/linuxkeyboard.h"
#include "platform/x11/linuxkeycaptions.h"
#include "platform/x11/linuxkeyinjector.h"
#include "platform/x11/linuxkeywatch.h"
#include "platform/x11/x11session.h"
#endif

#include <QCoreApplication>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcServices, "clavora.platform.services")

namespace clavora::platform {

namespace {

#ifdef CLAVORA_WITH_LINUX_SERVICES
// How long the desktop portal may take to say whether it binds shortcuts; the first question may start it.
constexpr std::chrono::milliseconds PortalTimeout{3000};
#endif

// Collects the parts of a bundle and what keeps them alive.
class Assembly {
public:
    template <class T> T* own(std::shared_ptr<T> part) {
        m_owned.push_back(part);
        return part.get();
    }
    template <class T, class... Args> T* make(Args&&... args) {
        return own(std::make_shared<T>(std::forward<Args>(args)...));
    }
    void grant(Capability capability) { m_capabilities.push_back(capability); }

    std::unique_ptr<Services> finish(QStringList volumeDrivers = {}) {
        return std::make_unique<Services>(parts, m_capabilities, std::move(volumeDrivers), std::move(m_owned));
    }

    Services::Parts parts;

private:
    std::vector<std::shared_ptr<void>> m_owned;
    std::vector<Capability> m_capabilities;
};

#ifdef CLAVORA_WITH_LINUX_SERVICES

void takeDummyKeyboard(Assembly& made) {
    made.parts.keyboard = made.make<DummyKeyboard>();
    made.parts.keyCaptions = made.make<DummyKeyCaptions>();
    made.parts.keyInjector = made.make<DummyKeyInjector>();
    made.parts.keyWatch = made.make<DummyKeyWatch>();
}

void takeDummyShortcuts(Assembly& made) {
    made.parts.globalShortcuts = made.make<DummyGlobalShortcuts>();
}

void takeDummySoundServer(Assembly& made) {
    made.parts.programVolume = made.make<DummyProgramVolume>();
    made.parts.voiceMicrophone = made.make<DummyVoiceMicrophone>();
}

std::unique_ptr<Services> makeLinuxServices(const Session& session) {
    Assembly made;
    IFileSystem* files = made.make<LinuxFileSystem>();
    made.parts.fileSystem = files;
    made.parts.folderSearch = made.make<LinuxFolderSearch>();
    made.parts.locale = made.make<LinuxLocale>();
    made.parts.process = made.make<LinuxProcess>();
    made.parts.autostart = made.make<LinuxAutostart>(*files);
    made.parts.shell = made.make<LinuxShell>();
    made.parts.webHost = made.make<EnvironmentWebHost>();
    made.parts.systemInfo = made.make<LinuxSystemInfo>();
    made.parts.threadPriority = made.make<LinuxThreadPriority>();
    made.parts.soundServer = made.make<PulseSoundServer>();
    // libcanberra plays through whatever the desktop's sound goes to, with a sound server or without.
    made.parts.fallbackPlayer = made.make<LinuxFallbackPlayer>();

    // The window's own display server decides: a window on the Wayland compositor gets no keys from XWayland.
    if (session.waylandReachable) {
        // A Wayland compositor lets a client read the keymap and nothing else of the keyboard: the captions and the
        // layout come from its keymap; the on-screen keyboard posts its keys to our own window (the dummy injector
        // sends nothing), and no keys are watched outside it.
        auto keymap = std::make_shared<WaylandKeymap>(session.waylandDisplay);
        WaylandKeymap& shared = *made.own(std::move(keymap));
        made.parts.keyboard = made.make<WaylandKeyboard>(shared);
        made.parts.keyCaptions = made.make<WaylandKeyCaptions>(shared);
        made.parts.keyInjector = made.make<DummyKeyInjector>();
        made.parts.keyWatch = made.make<DummyKeyWatch>();
        made.grant(Capability::KeyCaptions);
    } else if (session.x11Reachable) {
        made.parts.keyboard = made.make<LinuxKeyboard>(session.x11Display);
        made.parts.keyCaptions = made.make<LinuxKeyCaptions>(session.x11Display);
        auto injector = std::make_shared<LinuxKeyInjector>(session.x11Display);
        const bool injects = injector->available();
        made.parts.keyInjector = made.own(std::move(injector));
        made.parts.keyWatch = made.make<LinuxKeyWatch>(session.x11Display);
        made.grant(Capability::KeyState);
        made.grant(Capability::KeyCaptions);
        made.grant(Capability::KeyWatch);
        if (injects) {
            made.grant(Capability::KeyInjection);
        }
    } else {
        takeDummyKeyboard(made);
    }

    if (session.globalShortcutsPortal) {
        made.parts.globalShortcuts = made.make<PortalGlobalShortcuts>();
        made.grant(Capability::GlobalShortcuts);
    } else {
        takeDummyShortcuts(made);
    }

    QStringList volumeDrivers;
    // A server that takes its time still gets the program's stream once it answers: its services follow it.
    if (session.soundServer.answers || session.soundServerExpected) {
        made.parts.programVolume = made.make<LinuxProgramVolume>();
        made.parts.voiceMicrophone = made.make<LinuxVoiceMicrophone>();
        made.grant(Capability::ProgramVolume);
        made.grant(Capability::VoiceMicrophone);
        // The audio drivers that play as a stream of this server: PulseAudio's own, and PipeWire's, whose streams
        // its PulseAudio interface shows too.
        volumeDrivers = {QStringLiteral("pulseaudio"), QStringLiteral("pipewire")};
    } else {
        takeDummySoundServer(made);
    }
    return made.finish(volumeDrivers);
}

#endif

} // namespace

Session detectSession(std::chrono::milliseconds soundServerTimeout) {
    Session session;
    session.x11Display = qgetenv("DISPLAY");
    session.waylandDisplay = qgetenv("WAYLAND_DISPLAY");
#ifdef CLAVORA_WITH_LINUX_SERVICES
    session.x11Reachable = !session.x11Display.isEmpty() && x11DisplayReachable(session.x11Display);
    // Under XWayland (the window on the X display) the keyboard is X11's; natively on the compositor, or without an
    // X display, it is the compositor's.
    const QCoreApplication* app = QCoreApplication::instance();
    const bool windowOnWayland =
        app && app->property("platformName").toString().startsWith(QLatin1String("wayland"), Qt::CaseInsensitive);
    session.waylandReachable = (windowOnWayland || !session.x11Reachable) && !session.waylandDisplay.isEmpty() &&
                               waylandDisplayReachable(session.waylandDisplay);
    session.globalShortcutsPortal =
        session.waylandReachable && portalOffersGlobalShortcuts(QDBusConnection::sessionBus(), PortalTimeout);
    session.soundServer = PulseSoundServer().query(soundServerTimeout);
    session.soundServerExpected = !session.soundServer.answers && soundServerExpected();
#else
    Q_UNUSED(soundServerTimeout);
#endif
    QByteArray wayland = session.waylandDisplay.isEmpty() ? QByteArray("none") : session.waylandDisplay;
    if (session.waylandReachable) {
        wayland += session.globalShortcutsPortal ? " (keyboard from the compositor, shortcuts from the desktop portal)"
                                                 : " (keyboard from the compositor)";
    }
    qCInfo(lcServices) << "X display" << (session.x11Reachable ? session.x11Display : QByteArray("none"))
                       << "Wayland display" << wayland << "sound server"
                       << (session.soundServer.answers   ? session.soundServer.name
                           : session.soundServerExpected ? QStringLiteral("not answering yet")
                                                         : QStringLiteral("none"));
    return session;
}

std::unique_ptr<Services> makeServices(const Session& session) {
#ifdef CLAVORA_WITH_LINUX_SERVICES
    return makeLinuxServices(session);
#else
    Q_UNUSED(session);
    return makeDummyServices();
#endif
}

std::unique_ptr<IInstanceBus> makeInstanceBus() {
#ifdef CLAVORA_WITH_LINUX_SERVICES
    return std::make_unique<DBusInstanceBus>();
#else
    return std::make_unique<DummyInstanceBus>();
#endif
}

} // namespace clavora::platform
