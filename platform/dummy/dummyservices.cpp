// The bundle of a build without the services of a system: every one answers "unavailable".
#include "platform/dummy/dummyservices.h"

namespace clavora::platform {

std::unique_ptr<Services> makeDummyServices() {
    auto files = std::make_shared<DummyFileSystem>();
    auto folders = std::make_shared<DummyFolderSearch>();
    auto locale = std::make_shared<DummyLocale>();
    auto process = std::make_shared<DummyProcess>();
    auto autostart = std::make_shared<DummyAutostart>();
    auto shell = std::make_shared<DummyShell>();
    auto webHost = std::make_shared<EnvironmentWebHost>();
    auto systemInfo = std::make_shared<DummySystemInfo>();
    auto priority = std::make_shared<DummyThreadPriority>();
    auto soundServer = std::make_shared<DummySoundServer>();
    auto player = std::make_shared<DummyFallbackPlayer>();
    auto keyboard = std::make_shared<DummyKeyboard>();
    auto captions = std::make_shared<DummyKeyCaptions>();
    auto injector = std::make_shared<DummyKeyInjector>();
    auto watch = std::make_shared<DummyKeyWatch>();
    auto volume = std::make_shared<DummyProgramVolume>();
    auto microphone = std::make_shared<DummyVoiceMicrophone>();
    auto shortcuts = std::make_shared<DummyGlobalShortcuts>();
    Services::Parts parts;
    parts.fileSystem = files.get();
    parts.folderSearch = folders.get();
    parts.locale = locale.get();
    parts.process = process.get();
    parts.autostart = autostart.get();
    parts.shell = shell.get();
    parts.webHost = webHost.get();
    parts.systemInfo = systemInfo.get();
    parts.threadPriority = priority.get();
    parts.soundServer = soundServer.get();
    parts.fallbackPlayer = player.get();
    parts.keyboard = keyboard.get();
    parts.keyCaptions = captions.get();
    parts.keyInjector = injector.get();
    parts.keyWatch = watch.get();
    parts.programVolume = volume.get();
    parts.voiceMicrophone = microphone.get();
    parts.globalShortcuts = shortcuts.get();
    return std::make_unique<Services>(
        parts, std::vector<Capability>{}, QStringList{},
        std::vector<std::shared_ptr<void>>{files, folders, locale, process, autostart, shell, webHost, systemInfo,
                                           priority, soundServer, player, keyboard, captions, injector, watch, volume,
                                           microphone, shortcuts});
}

} // namespace clavora::platform
