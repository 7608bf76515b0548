// The operating-system services as one bundle. Start-up detects once what the session offers (Session), makes the
// bundle for it (makeServices, platform/makeservices.h) and hands it down: every part of the program gets the
// services it uses through its constructor, so a test hands it fakes instead (platform/fake/fakeservices.h).
#pragma once

#include "platform/autostart.h"
#include "platform/fallbackplayer.h"
#include "platform/filesystem.h"
#include "platform/foldersearch.h"
#include "platform/globalshortcuts.h"
#include "platform/keyboard.h"
#include "platform/keycaptions.h"
#include "platform/keyinjector.h"
#include "platform/keywatch.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/programvolume.h"
#include "platform/shell.h"
#include "platform/soundserver.h"
#include "platform/systeminfo.h"
#include "platform/threadpriority.h"
#include "platform/voicemicrophone.h"
#include "platform/webhost.h"

#include <QByteArray>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

namespace clavora::platform {

// What the session the program runs in offers, as found at start-up.
struct Session {
    QByteArray x11Display;       // $DISPLAY
    bool x11Reachable = false;   // an X display with the keyboard extension opened there
    QByteArray waylandDisplay;   // $WAYLAND_DISPLAY
    SoundServerInfo soundServer; // as it answered, if it did
    // A sound server is there to be found though it has not answered yet (it may be busy starting).
    bool soundServerExpected = false;
    // A Wayland compositor answers at $WAYLAND_DISPLAY, and the program's window is on it (Qt's Wayland platform)
    // or there is no X display: the keyboard is the compositor's, not X11's (under XWayland it stays X11's).
    bool waylandReachable = false;
    // The desktop portal on the session bus binds global shortcuts (asked only on Wayland, where no key is watched).
    bool globalShortcutsPortal = false;
};

// What the services in a bundle can do beyond answering "unavailable".
enum class Capability {
    KeyState,        // the keyboard's keys and layout are read
    KeyCaptions,     // the layout's key texts are known
    KeyInjection,    // keys can be typed into the focused window
    KeyWatch,        // keys are heard as they go down, whichever window has the focus
    GlobalShortcuts, // the desktop binds shortcuts for the program and tells it of their presses
    ProgramVolume,   // the program's stream volume at the sound server
    VoiceMicrophone, // the virtual microphone at the sound server
};

class Services {
public:
    // One implementation of each service; none may be missing.
    struct Parts {
        IFileSystem* fileSystem = nullptr;
        IFolderSearch* folderSearch = nullptr;
        ILocale* locale = nullptr;
        IProcess* process = nullptr;
        IAutostart* autostart = nullptr;
        IShell* shell = nullptr;
        IWebHost* webHost = nullptr;
        ISystemInfo* systemInfo = nullptr;
        IThreadPriority* threadPriority = nullptr;
        ISoundServer* soundServer = nullptr;
        IFallbackPlayer* fallbackPlayer = nullptr;
        IKeyboard* keyboard = nullptr;
        IKeyCaptions* keyCaptions = nullptr;
        IKeyInjector* keyInjector = nullptr;
        IKeyWatch* keyWatch = nullptr;
        IProgramVolume* programVolume = nullptr;
        IVoiceMicrophone* voiceMicrophone = nullptr;
        IGlobalShortcuts* globalShortcuts = nullptr;
    };

    // Capabilities: what the parts can do. VolumeDrivers: the audio drivers (as the audio output names them) whose
    // stream the program volume follows at the sound server. Owned: what the bundle keeps alive for its parts,
    // released in the reverse order.
    Services(const Parts& parts, std::initializer_list<Capability> capabilities, QStringList volumeDrivers = {},
             std::vector<std::shared_ptr<void>> owned = {});
    Services(const Parts& parts, const std::vector<Capability>& capabilities, QStringList volumeDrivers = {},
             std::vector<std::shared_ptr<void>> owned = {});
    ~Services();
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    IFileSystem& fileSystem() const { return *m_parts.fileSystem; }
    IFolderSearch& folderSearch() const { return *m_parts.folderSearch; }
    ILocale& locale() const { return *m_parts.locale; }
    IProcess& process() const { return *m_parts.process; }
    IAutostart& autostart() const { return *m_parts.autostart; }
    IShell& shell() const { return *m_parts.shell; }
    IWebHost& webHost() const { return *m_parts.webHost; }
    ISystemInfo& systemInfo() const { return *m_parts.systemInfo; }
    IThreadPriority& threadPriority() const { return *m_parts.threadPriority; }
    ISoundServer& soundServer() const { return *m_parts.soundServer; }
    IFallbackPlayer& fallbackPlayer() const { return *m_parts.fallbackPlayer; }
    IKeyboard& keyboard() const { return *m_parts.keyboard; }
    IKeyCaptions& keyCaptions() const { return *m_parts.keyCaptions; }
    IKeyInjector& keyInjector() const { return *m_parts.keyInjector; }
    IKeyWatch& keyWatch() const { return *m_parts.keyWatch; }
    IProgramVolume& programVolume() const { return *m_parts.programVolume; }
    IVoiceMicrophone& voiceMicrophone() const { return *m_parts.voiceMicrophone; }
    IGlobalShortcuts& globalShortcuts() const { return *m_parts.globalShortcuts; }

    // The parts, for a bundle that replaces one or two of them (a test's real autostart among fakes).
    const Parts& parts() const { return m_parts; }
    // A bundle of these parts with Change applied to them, and the same capabilities. It does not keep this one's
    // parts alive: this bundle must outlive it.
    std::unique_ptr<Services> withParts(const std::function<void(Parts&)>& change) const;
    const std::vector<Capability>& capabilities() const { return m_capabilities; }
    const QStringList& volumeDrivers() const { return m_volumeDrivers; }

    bool has(Capability capability) const;
    bool canReadKeys() const { return has(Capability::KeyState); }
    bool canWatchKeys() const { return has(Capability::KeyWatch); }
    bool canInjectKeys() const { return has(Capability::KeyInjection); }
    bool canBindShortcuts() const { return has(Capability::GlobalShortcuts); }
    bool hasProgramVolume() const { return has(Capability::ProgramVolume); }
    bool hasVoiceMicrophone() const { return has(Capability::VoiceMicrophone); }

    // Whether the program volume follows the stream of an audio output that plays through AudioDriver ("pulseaudio",
    // "pipewire"...): only then does the volume slider stand for the stream at the sound server.
    bool programVolumeFollows(const QString& audioDriver) const;

private:
    Parts m_parts;
    std::vector<Capability> m_capabilities;
    QStringList m_volumeDrivers;
    std::vector<std::shared_ptr<void>> m_owned;
};

} // namespace clavora::platform
