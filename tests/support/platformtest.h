// The base of tests that run logic against the platform fakes: every operating-system service is replaced by its
// fake for the test's lifetime, and the test gets a fresh temporary folder that the fake file system's per-user
// folders point into, so nothing a test does reaches the real system's services or the user's files.
#pragma once

#include "platform/fake/fakeautostart.h"
#include "platform/fake/fakefallbackplayer.h"
#include "platform/fake/fakefilesystem.h"
#include "platform/fake/fakefoldersearch.h"
#include "platform/fake/fakekeyboard.h"
#include "platform/fake/fakekeycaptions.h"
#include "platform/fake/fakekeyinjector.h"
#include "platform/fake/fakelocale.h"
#include "platform/fake/fakeprocess.h"
#include "platform/fake/fakeprogramvolume.h"
#include "platform/fake/fakeshell.h"
#include "platform/fake/fakevoicemicrophone.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

namespace clavora::test {

class PlatformTest : public ::testing::Test {
protected:
    PlatformTest() {
        m_files.configFolder = m_root.file(QStringLiteral("config"));
        m_files.stateFolder = m_root.file(QStringLiteral("state"));
    }

    // The test's own folder, removed afterwards; the per-user folders are "config" and "state" inside it (not made).
    TempFolder m_root;

    platform::FakeFileSystem m_files;
    platform::FakeFolderSearch m_folders;
    platform::FakeLocale m_locale;
    platform::FakeKeyboard m_keyboard;
    platform::FakeAutostart m_autostart;
    platform::FakeShell m_shell;
    platform::FakeProcess m_process;
    platform::FakeFallbackPlayer m_player;
    platform::FakeKeyCaptions m_keyCaptions;
    platform::FakeKeyInjector m_keyInjector;
    platform::FakeProgramVolume m_programVolume;
    platform::FakeVoiceMicrophone m_voice;

private:
    platform::ScopedService<platform::IFileSystem> m_useFiles{m_files};
    platform::ScopedService<platform::IFolderSearch> m_useFolders{m_folders};
    platform::ScopedService<platform::ILocale> m_useLocale{m_locale};
    platform::ScopedService<platform::IKeyboard> m_useKeyboard{m_keyboard};
    platform::ScopedService<platform::IAutostart> m_useAutostart{m_autostart};
    platform::ScopedService<platform::IShell> m_useShell{m_shell};
    platform::ScopedService<platform::IProcess> m_useProcess{m_process};
    platform::ScopedService<platform::IFallbackPlayer> m_usePlayer{m_player};
    platform::ScopedService<platform::IKeyCaptions> m_useKeyCaptions{m_keyCaptions};
    platform::ScopedService<platform::IKeyInjector> m_useKeyInjector{m_keyInjector};
    platform::ScopedService<platform::IProgramVolume> m_useProgramVolume{m_programVolume};
    platform::ScopedService<platform::IVoiceMicrophone> m_useVoice{m_voice};
};

// The system's own keyboard, key captions and key injector in place of the fakes of a PlatformTest, for tests on the
// X display of the rig: a member of the test, declared after the fakes are in place.
struct RealKeyServices {
    platform::ScopedService<platform::IKeyboard> keyboard{platform::defaultService<platform::IKeyboard>()};
    platform::ScopedService<platform::IKeyCaptions> captions{platform::defaultService<platform::IKeyCaptions>()};
    platform::ScopedService<platform::IKeyInjector> injector{platform::defaultService<platform::IKeyInjector>()};
};

} // namespace clavora::test
