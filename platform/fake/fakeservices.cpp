// The bundle of fakes.
#include "platform/fake/fakeservices.h"

namespace clavora::platform {

FakeServices::FakeServices()
    : m_services(parts(),
                 {Capability::KeyState, Capability::KeyCaptions, Capability::KeyInjection, Capability::KeyWatch,
                  Capability::ProgramVolume, Capability::VoiceMicrophone},
                 {QStringLiteral("pulseaudio"), QStringLiteral("pipewire")}) {}

Services::Parts FakeServices::parts() {
    Services::Parts parts;
    parts.fileSystem = &files;
    parts.folderSearch = &folders;
    parts.locale = &locale;
    parts.process = &process;
    parts.autostart = &autostart;
    parts.shell = &shell;
    parts.webHost = &webHost;
    parts.systemInfo = &systemInfo;
    parts.threadPriority = &threadPriority;
    parts.soundServer = &soundServer;
    parts.fallbackPlayer = &player;
    parts.keyboard = &keyboard;
    parts.keyCaptions = &keyCaptions;
    parts.keyInjector = &keyInjector;
    parts.keyWatch = &keyWatch;
    parts.programVolume = &programVolume;
    parts.voiceMicrophone = &voice;
    parts.globalShortcuts = &shortcuts;
    return parts;
}

} // namespace clavora::platform
