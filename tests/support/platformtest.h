// The base of tests that run logic against the platform fakes: the object under test is handed m_services, a bundle
// of one fake of each operating-system service, and the test gets a fresh temporary folder that the fake file
// system's per-user folders point into, so nothing a test does reaches the real system's services or the user's
// files.
#pragma once

#include "audio/audioservices.h"
#include "platform/fake/fakeservices.h"
#include "tests/support/testsupport.h"
#ifdef CLAVORA_PLATFORM_LINUX
#include "platform/x11/linuxkeyboard.h"
#include "platform/x11/linuxkeycaptions.h"
#include "platform/x11/linuxkeyinjector.h"
#include "platform/x11/linuxkeywatch.h"
#endif

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

    platform::FakeServices m_fakes;
    // What the object under test is handed.
    platform::Services& m_services = m_fakes.services();

    platform::FakeFileSystem& m_files = m_fakes.files;
    platform::FakeFolderSearch& m_folders = m_fakes.folders;
    platform::FakeLocale& m_locale = m_fakes.locale;
    platform::FakeKeyboard& m_keyboard = m_fakes.keyboard;
    platform::FakeAutostart& m_autostart = m_fakes.autostart;
    platform::FakeShell& m_shell = m_fakes.shell;
    platform::FakeProcess& m_process = m_fakes.process;
    platform::FakeFallbackPlayer& m_player = m_fakes.player;
    platform::FakeKeyCaptions& m_keyCaptions = m_fakes.keyCaptions;
    platform::FakeKeyInjector& m_keyInjector = m_fakes.keyInjector;
    platform::FakeKeyWatch& m_keyWatch = m_fakes.keyWatch;
    platform::FakeProgramVolume& m_programVolume = m_fakes.programVolume;
    platform::FakeVoiceMicrophone& m_voice = m_fakes.voice;
    platform::FakeSystemInfo& m_systemInfo = m_fakes.systemInfo;

    // What an engine or a player made by the test is handed: the fakes' files and simple player, nothing raised.
    audio::AudioServices audioServices() { return {&m_files, &m_fakes.threadPriority, &m_player, &m_systemInfo}; }
};

#ifdef CLAVORA_PLATFORM_LINUX
// The system's own keyboard, key captions, key injector and key watch on the X display of the rig, with the other
// services of Base: a member of the test, whose services() the object under test is handed in place of Base.
class RealKeyServices {
public:
    explicit RealKeyServices(const platform::Services& base)
        : m_services(base.withParts([this](platform::Services::Parts& parts) {
              parts.keyboard = &m_keyboard;
              parts.keyCaptions = &m_captions;
              parts.keyInjector = &m_injector;
              parts.keyWatch = &m_watch;
          })) {}

    platform::Services& services() { return *m_services; }

private:
    platform::LinuxKeyboard m_keyboard;
    platform::LinuxKeyCaptions m_captions;
    platform::LinuxKeyInjector m_injector;
    platform::LinuxKeyWatch m_watch;
    std::unique_ptr<platform::Services> m_services;
};
#endif

} // namespace clavora::test
