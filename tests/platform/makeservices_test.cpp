// The run-time choice of the services: what the session offers decides, service by service, whether the system's
// implementation or the dummy one is used, and the capability queries tell the program which it got.
#include "platform/dummy/dummyservices.h"
#include "platform/makeservices.h"
#include "tests/support/testsupport.h"
#ifdef CLAVORA_PLATFORM_LINUX
#include "platform/pulse/linuxprogramvolume.h"
#include "platform/pulse/linuxvoicemicrophone.h"
#include "platform/wayland/waylandkeyboard.h"
#include "platform/x11/linuxkeyboard.h"
#include "platform/x11/linuxkeycaptions.h"
#include "platform/x11/linuxkeyinjector.h"
#include "platform/x11/linuxkeywatch.h"
#include "platform/x11/x11session.h"
#endif

#include <QFile>
#include <gtest/gtest.h>

namespace clavora::platform {
namespace {

template <class Implementation, class Interface> bool is(Interface& service) {
    return dynamic_cast<Implementation*>(&service) != nullptr;
}

// The rig's X display, when the tests run on one.
QByteArray reachableDisplay() {
#ifdef CLAVORA_PLATFORM_LINUX
    const QByteArray display = qgetenv("DISPLAY");
    return !display.isEmpty() && x11DisplayReachable(display) ? display : QByteArray();
#else
    return QByteArray();
#endif
}

TEST(MakeServicesTest, EachServiceComesFromWhatTheSessionOffers) {
    const QByteArray display = reachableDisplay();
    SoundServerInfo answering;
    answering.answers = true;
    answering.name = QStringLiteral("PulseAudio (on PipeWire 1.0.0)");
    answering.pipeWire = true;
    const struct {
        const char* what;
        Session session;
        bool keys;  // the system's keyboard services
        bool sound; // the sound server's volume and microphone
        // The keymap services of a Wayland compositor; this one is not there, so the keymap is the XKB defaults'.
        bool wayland = false;
    } cases[] = {
        {"nothing", Session{}, false, false},
        {"a Wayland display alone", Session{QByteArray(), false, "wayland-0", {}}, false, false},
        {"an X display that does not open", Session{":99", false, {}, {}}, false, false},
        {"a sound server", Session{QByteArray(), false, {}, answering, false}, false, true},
        {"a sound server yet to answer", Session{QByteArray(), false, {}, {}, true}, false, true},
        {"the rig's X display", Session{display, true, {}, {}}, true, false},
        {"the rig's X display and a sound server", Session{display, true, "wayland-0", answering}, true, true},
        {"a Wayland compositor", Session{QByteArray(), false, "clavora-no-compositor", {}, false, true}, false, false,
         true},
        // The window on the compositor, with XWayland's display beside it: the compositor's keyboard still.
        {"a Wayland compositor and an X display", Session{display, true, "clavora-no-compositor", {}, false, true},
         false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.session.x11Reachable && display.isEmpty()) {
            continue; // no X display here to open
        }
        const std::unique_ptr<Services> services = makeServices(c.session);
        ASSERT_NE(services, nullptr);
#ifdef CLAVORA_PLATFORM_LINUX
        const bool keys = c.keys;
        const bool sound = c.sound;
        EXPECT_EQ(is<LinuxKeyboard>(services->keyboard()), keys);
        EXPECT_EQ(is<LinuxKeyCaptions>(services->keyCaptions()), keys);
        EXPECT_EQ(is<LinuxKeyInjector>(services->keyInjector()), keys);
        EXPECT_EQ(is<LinuxKeyWatch>(services->keyWatch()), keys);
        EXPECT_EQ(is<LinuxProgramVolume>(services->programVolume()), sound);
        EXPECT_EQ(is<LinuxVoiceMicrophone>(services->voiceMicrophone()), sound);
        const bool wayland = c.wayland;
        EXPECT_EQ(is<WaylandKeyboard>(services->keyboard()), wayland);
        EXPECT_EQ(is<WaylandKeyCaptions>(services->keyCaptions()), wayland);
        // The on-screen keyboard posts its keys itself when the injector sends nothing.
        EXPECT_EQ(is<DummyKeyInjector>(services->keyInjector()), !keys);
#else
        const bool keys = false;
        const bool sound = false;
        const bool wayland = false;
#endif
        EXPECT_EQ(is<DummyKeyboard>(services->keyboard()), !keys && !wayland);
        EXPECT_EQ(is<DummyKeyWatch>(services->keyWatch()), !keys);
        EXPECT_EQ(is<DummyProgramVolume>(services->programVolume()), !sound);
        EXPECT_EQ(is<DummyVoiceMicrophone>(services->voiceMicrophone()), !sound);

        EXPECT_EQ(services->canReadKeys(), keys);
        EXPECT_EQ(services->has(Capability::KeyCaptions), keys || wayland);
        EXPECT_EQ(services->canWatchKeys(), keys);
        // The rig's X server has XTest: keys can be typed into it.
        EXPECT_EQ(services->canInjectKeys(), keys);
        EXPECT_EQ(services->hasProgramVolume(), sound);
        EXPECT_EQ(services->hasVoiceMicrophone(), sound);
        EXPECT_EQ(services->programVolumeFollows(QStringLiteral("pulseaudio")), sound);
        EXPECT_EQ(services->programVolumeFollows(QStringLiteral("pipewire")), sound);
        EXPECT_FALSE(services->programVolumeFollows(QStringLiteral("alsa")));
        EXPECT_FALSE(services->programVolumeFollows(QStringLiteral("disk")));

        // A dummy keyboard has every key up and no layout; the system's reads the rig's US layout, the Wayland one
        // the US layout of the XKB defaults.
        EXPECT_EQ(services->keyboard().keyboardLocaleName() != QLatin1String("xx"), keys || wayland);
    }
}

TEST(MakeServicesTest, TheSessionIsWhatTheEnvironmentReaches) {
    test::TempFolder folder;
    // A sound server address where nothing listens: it is asked and does not answer, and none is to be found.
    test::ScopedEnvironment server("PULSE_SERVER", "unix:" + QFile::encodeName(folder.file(QStringLiteral("none"))));
    {
        test::ScopedEnvironment noDisplay("DISPLAY", QByteArray());
        test::ScopedEnvironment wayland("WAYLAND_DISPLAY", "wayland-7");
        const Session session = detectSession(std::chrono::milliseconds(2000));
        EXPECT_FALSE(session.x11Reachable);
        EXPECT_EQ(session.waylandDisplay, "wayland-7");
        EXPECT_FALSE(session.waylandReachable);
        EXPECT_FALSE(session.soundServer.answers);
        EXPECT_FALSE(session.soundServerExpected);
        const std::unique_ptr<Services> services = makeServices(session);
        EXPECT_FALSE(services->canReadKeys());
        EXPECT_FALSE(services->hasProgramVolume());
    }
#ifdef CLAVORA_PLATFORM_LINUX
    {
        // Something at the address that does not speak: a server still busy starting, which may answer later.
        test::writeBytes(folder.file(QStringLiteral("silent")), "");
        test::ScopedEnvironment silent("PULSE_SERVER",
                                       "unix:" + QFile::encodeName(folder.file(QStringLiteral("silent"))));
        const Session session = detectSession(std::chrono::milliseconds(2000));
        EXPECT_FALSE(session.soundServer.answers);
        EXPECT_TRUE(session.soundServerExpected);
        EXPECT_TRUE(makeServices(session)->hasProgramVolume());
    }
#endif
    const QByteArray display = reachableDisplay();
    if (display.isEmpty()) {
        GTEST_SKIP() << "needs the rig's X display";
    }
    const Session session = detectSession(std::chrono::milliseconds(2000));
    EXPECT_TRUE(session.x11Reachable);
    EXPECT_EQ(session.x11Display, display);
    EXPECT_FALSE(session.soundServer.answers);
    const std::unique_ptr<Services> services = makeServices(session);
    EXPECT_TRUE(services->canReadKeys());
    EXPECT_FALSE(services->hasProgramVolume());
}

TEST(MakeServicesTest, ABundleWithAPartReplacedKeepsTheOthersAndTheCapabilities) {
    const std::unique_ptr<Services> dummy = makeDummyServices();
    DummyKeyboard other;
    const std::unique_ptr<Services> mixed =
        dummy->withParts([&other](Services::Parts& parts) { parts.keyboard = &other; });
    EXPECT_EQ(&mixed->keyboard(), &other);
    EXPECT_EQ(&mixed->fileSystem(), &dummy->fileSystem());
    EXPECT_EQ(&mixed->voiceMicrophone(), &dummy->voiceMicrophone());
    EXPECT_EQ(mixed->capabilities(), dummy->capabilities());
}

} // namespace
} // namespace clavora::platform
