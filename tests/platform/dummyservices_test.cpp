// The services of the dummy platform answer "unavailable" in the way each interface allows, so the logic above
// takes its failure paths instead of crashing or waiting.
#include "platform/dummy/dummyservices.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

namespace clavora::platform {
namespace {

TEST(DummyServicesTest, EveryServiceAnswersUnavailable) {
    DummyFileSystem files;
    EXPECT_FALSE(files.programFilePath().isEmpty());
    EXPECT_TRUE(files.userConfigFolder().isEmpty());
    EXPECT_TRUE(files.userStateFolder().isEmpty());
    EXPECT_FALSE(files.createAndRemoveExclusive(QStringLiteral("/tmp/chk.tmp")));
    EXPECT_EQ(files.fileKind(files.programFilePath()), FileKind::Missing);
    EXPECT_FALSE(files.fileExists(files.programFilePath()));
    QByteArray contents = "stale";
    const Status read = files.readFile(QStringLiteral("/x/keys.db"), contents);
    EXPECT_FALSE(read.ok());
    EXPECT_TRUE(read.message().contains(QStringLiteral("/x/keys.db")));
    EXPECT_TRUE(contents.isEmpty());
    EXPECT_FALSE(files.writeFileReplacing(QStringLiteral("/x/keys.db"), "x").ok());

    DummyAutostart autostart;
    EXPECT_FALSE(
        autostart.writeEntry(QStringLiteral("Zemtrak - Clavora"), QStringLiteral("/p"), QStringLiteral("/auto")).ok());
    EXPECT_TRUE(autostart.readEntry(QStringLiteral("Zemtrak - Clavora")).isEmpty());
    EXPECT_TRUE(autostart.removeEntry(QStringLiteral("Zemtrak - Clavora")).ok());

    DummyFolderSearch folders;
    QList<FolderEntry> entries{FolderEntry{QStringLiteral("stale"), false}};
    EXPECT_FALSE(folders.findEntries(QStringLiteral("/"), QStringLiteral("*"), entries).ok());
    EXPECT_TRUE(entries.isEmpty());
    EXPECT_FALSE(folders.folderExists(QStringLiteral("/")));

    DummyKeyboard keyboard;
    EXPECT_EQ(keyboard.snapshot(), KeyStateSnapshot());
    EXPECT_EQ(keyboard.keyboardLocaleName(), "xx");

    EXPECT_TRUE(DummyKeyCaptions().keyText(PhysicalKey{30, false}, KeyLevel{}).isEmpty());
    EXPECT_FALSE(DummyKeyInjector().sendKey(PhysicalKey{30, false}, true));
    EXPECT_FALSE(DummyKeyWatch().start([](int, bool) {}));
    EXPECT_EQ(DummyThreadPriority().raiseCurrentThread("test", 10).outcome, PriorityOutcome::Unchanged);

    DummyLocale locale;
    EXPECT_EQ(locale.ansiCodePage(), 1252);
    EXPECT_EQ(locale.uiLanguageId(), 1033);
    EXPECT_EQ(locale.decimalSeparator(), QLatin1Char('.'));

    DummyProgramVolume volume;
    volume.follow(QStringLiteral("Sound playback"));
    EXPECT_FALSE(volume.isAvailable());
    ChannelVolume channels{1, 2};
    EXPECT_FALSE(volume.read(channels));
    EXPECT_EQ(channels, (ChannelVolume{1, 2}));
    EXPECT_FALSE(volume.write(ChannelVolume{0, 0}));

    EXPECT_EQ(DummyProcess().createNamedMutex(QStringLiteral("ZEMTRAK_Clavora")), nullptr);
    EXPECT_FALSE(DummyShell().openUrl(QStringLiteral("https://www.example.com/")));
    EXPECT_FALSE(DummyShell().startDetached(QStringLiteral("/bin/true"), {}));
    DummyFallbackPlayer().play(QStringLiteral("/x/a.wav")); // returns at once, plays nothing

    const FileMapping mapped = files.mapFile(files.programFilePath());
    EXPECT_EQ(mapped.file, nullptr);
    EXPECT_NE(mapped.error, 0);
    EXPECT_TRUE(DummySystemInfo().machineId().isEmpty());
    EXPECT_TRUE(DummySystemInfo().systemFacts().osRelease.isEmpty());
    EXPECT_EQ(DummySystemInfo().processorLoad().processors, 0);
    EXPECT_FALSE(DummySoundServer().query(std::chrono::milliseconds(10)).answers);
}

// A build without the services of a system has the dummy ones alone, and says it can do nothing more.
TEST(DummyServicesTest, TheDummyBundleHasNoCapability) {
    const std::unique_ptr<Services> services = makeDummyServices();
    for (const Capability capability : {Capability::KeyState, Capability::KeyCaptions, Capability::KeyInjection,
                                        Capability::KeyWatch, Capability::ProgramVolume, Capability::VoiceMicrophone}) {
        EXPECT_FALSE(services->has(capability)) << int(capability);
    }
    EXPECT_FALSE(services->programVolumeFollows(QStringLiteral("pulseaudio")));
    EXPECT_FALSE(services->fileSystem().fileExists(services->fileSystem().programFilePath()));
    EXPECT_EQ(services->keyboard().keyboardLocaleName(), QStringLiteral("xx"));
}

} // namespace
} // namespace clavora::platform
