// One fake of every service and the bundle made of them, for the tests that hand an object its services: the test
// keeps the fakes at hand to set what the "system" answers and to see what the object asked of it.
#pragma once

#include "platform/fake/fakeautostart.h"
#include "platform/fake/fakefallbackplayer.h"
#include "platform/fake/fakefilesystem.h"
#include "platform/fake/fakefoldersearch.h"
#include "platform/fake/fakeglobalshortcuts.h"
#include "platform/fake/fakekeyboard.h"
#include "platform/fake/fakekeycaptions.h"
#include "platform/fake/fakekeyinjector.h"
#include "platform/fake/fakekeywatch.h"
#include "platform/fake/fakelocale.h"
#include "platform/fake/fakeprocess.h"
#include "platform/fake/fakeprogramvolume.h"
#include "platform/fake/fakeshell.h"
#include "platform/fake/fakesoundserver.h"
#include "platform/fake/fakesysteminfo.h"
#include "platform/fake/fakethreadpriority.h"
#include "platform/fake/fakevoicemicrophone.h"
#include "platform/services.h"

namespace clavora::platform {

class FakeServices {
public:
    FakeServices();
    FakeServices(const FakeServices&) = delete;
    FakeServices& operator=(const FakeServices&) = delete;

    // The fakes as one bundle with every capability; its program volume follows the streams of the PulseAudio and
    // PipeWire drivers, as at a desktop's sound server.
    Services& services() { return m_services; }
    operator Services&() { return m_services; }

    FakeFileSystem files;
    FakeFolderSearch folders;
    FakeLocale locale;
    FakeProcess process;
    FakeAutostart autostart;
    FakeShell shell;
    EnvironmentWebHost webHost; // the real one: tests point it at their server through the environment
    FakeSystemInfo systemInfo;
    FakeThreadPriority threadPriority;
    FakeSoundServer soundServer;
    FakeFallbackPlayer player;
    FakeKeyboard keyboard;
    FakeKeyCaptions keyCaptions;
    FakeKeyInjector keyInjector;
    FakeKeyWatch keyWatch;
    FakeProgramVolume programVolume;
    FakeVoiceMicrophone voice;
    FakeGlobalShortcuts shortcuts;

    Services::Parts parts();

private:
    Services m_services;
};

} // namespace clavora::platform
