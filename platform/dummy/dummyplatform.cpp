// The dummy services as the defaults of a build configured with CLAVORA_PLATFORM=dummy.
#include "platform/dummy/dummyservices.h"

namespace clavora::platform {

template <> IFileSystem& defaultService<IFileSystem>() {
    static DummyFileSystem service;
    return service;
}

template <> IAutostart& defaultService<IAutostart>() {
    static DummyAutostart service;
    return service;
}

template <> IFallbackPlayer& defaultService<IFallbackPlayer>() {
    static DummyFallbackPlayer service;
    return service;
}

template <> IFolderSearch& defaultService<IFolderSearch>() {
    static DummyFolderSearch service;
    return service;
}

template <> IKeyboard& defaultService<IKeyboard>() {
    static DummyKeyboard service;
    return service;
}

template <> IKeyCaptions& defaultService<IKeyCaptions>() {
    static DummyKeyCaptions service;
    return service;
}

template <> IKeyInjector& defaultService<IKeyInjector>() {
    static DummyKeyInjector service;
    return service;
}

template <> IKeyWatch& defaultService<IKeyWatch>() {
    static DummyKeyWatch service;
    return service;
}

template <> ILocale& defaultService<ILocale>() {
    static DummyLocale service;
    return service;
}

template <> IProcess& defaultService<IProcess>() {
    static DummyProcess service;
    return service;
}

template <> IProgramVolume& defaultService<IProgramVolume>() {
    static DummyProgramVolume service;
    return service;
}

template <> IShell& defaultService<IShell>() {
    static DummyShell service;
    return service;
}

template <> IVoiceMicrophone& defaultService<IVoiceMicrophone>() {
    static DummyVoiceMicrophone service;
    return service;
}

template <> IThreadPriority& defaultService<IThreadPriority>() {
    static DummyThreadPriority service;
    return service;
}

} // namespace clavora::platform
