// The services of a system Clavora does not support yet: each one answers "unavailable" the way its interface
// allows (a failure status, an empty result, no key down, a player that plays nothing), so the logic above builds,
// runs and is tested without X11, a sound server or any other system library.
#pragma once

#include "platform/autostart.h"
#include "platform/fallbackplayer.h"
#include "platform/filesystem.h"
#include "platform/foldersearch.h"
#include "platform/instancebus.h"
#include "platform/keyboard.h"
#include "platform/keycaptions.h"
#include "platform/keyinjector.h"
#include "platform/keywatch.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/programvolume.h"
#include "platform/services.h"
#include "platform/shell.h"
#include "platform/soundserver.h"
#include "platform/systeminfo.h"
#include "platform/threadpriority.h"
#include "platform/voicemicrophone.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>

namespace clavora::platform {

inline QString unavailableReason() {
    return QStringLiteral("Not available on this system");
}

class DummyFileSystem : public IFileSystem {
public:
    // Qt knows where the program is on every system; without an application object it is only a name.
    QString programFilePath() override {
        const QString path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
        return path.isEmpty() ? QStringLiteral("clavora") : path;
    }
    QString programFolder() override { return QFileInfo(programFilePath()).absolutePath(); }
    QString userConfigFolder() override { return QString(); }
    QString userStateFolder() override { return QString(); }
    bool createAndRemoveExclusive(const QString&) override { return false; }
    bool createFolder(const QString&) override { return false; }
    FileKind fileKind(const QString&) override { return FileKind::Missing; }
    bool fileIdentity(const QString&, FileIdentity&) override { return false; }
    bool copyFileNoOverwrite(const QString&, const QString&) override { return false; }
    Status readFile(const QString& path, QByteArray& contents, qint64 = MaxReadBytes) override {
        contents.clear();
        return Status::failure(QStringLiteral("Cannot open file \"%1\". %2").arg(path, unavailableReason()));
    }
    Status writeFileReplacing(const QString& path, const QByteArray&) override {
        return Status::failure(QStringLiteral("Cannot create file \"%1\". %2").arg(path, unavailableReason()));
    }
    bool removeFile(const QString&) override { return false; }
    FileMapping mapFile(const QString&) override { return {nullptr, ENOSYS}; }
    OpenedFile openForReading(const QString&) override { return {nullptr, ENOSYS}; }
};

class DummyAutostart : public IAutostart {
public:
    QString readEntry(const QString&) override { return QString(); }
    Status writeEntry(const QString& name, const QString&, const QString&) override {
        return Status::failure(
            QStringLiteral("Cannot create the autostart entry \"%1\". %2").arg(name, unavailableReason()));
    }
    // There is never an entry, so there is nothing to remove.
    Status removeEntry(const QString&) override { return Status::success(); }
};

class DummyFallbackPlayer : public IFallbackPlayer {
public:
    void play(const QString&) override {}
    void stopAll() override {}
};

class DummyFolderSearch : public IFolderSearch {
public:
    bool folderExists(const QString&) override { return false; }
    Status findEntries(const QString& folder, const QString&, QList<FolderEntry>& entries) override {
        entries.clear();
        return Status::failure(QStringLiteral("Cannot list folder \"%1\". %2").arg(folder, unavailableReason()));
    }
};

class DummyKeyboard : public IKeyboard {
public:
    KeyStateSnapshot snapshot() override { return KeyStateSnapshot(); }
    QString keyboardLocaleName() override { return QStringLiteral("xx"); }
};

// No layout is known, so no key types anything visible, and no layout ever changes.
class DummyKeyCaptions : public IKeyCaptions {
public:
    QString keyText(PhysicalKey, KeyLevel) override { return QString(); }
    void setChangeHandler(std::function<void()>) override {}
};

// Nothing reaches the system's keyboard input; callers deliver the key themselves.
class DummyGlobalShortcuts : public IGlobalShortcuts {
public:
    bool bind(const QStringList&, Handler) override { return false; }
    void unbind() override {}
};

class DummyKeyInjector : public IKeyInjector {
public:
    bool sendKey(PhysicalKey, bool, InjectOptions = {}) override { return false; }
};

// The fallbacks the interface names for a locale that cannot be found.
class DummyLocale : public ILocale {
public:
    QChar decimalSeparator() override { return QLatin1Char('.'); }
    QString shortDateFormat() override { return QStringLiteral("M/d/yy"); }
    int ansiCodePage() override { return 1252; }
    quint16 uiLanguageId() override { return 1033; }
    QString formatLocaleTag() override { return QStringLiteral("en-US"); }
};

class DummyProcess : public IProcess {
public:
    std::unique_ptr<IHeld> createNamedMutex(const QString&) override { return nullptr; }
    std::unique_ptr<IHeld> catchEndRequests(std::function<void()>) override { return nullptr; }
};

// No sound server is known here: the stream is never found, so its volume can neither be read nor set.
class DummyProgramVolume : public IProgramVolume {
public:
    void follow(const QString&) override {}
    bool isAvailable() override { return false; }
    bool read(ChannelVolume&) override { return false; }
    bool write(ChannelVolume) override { return false; }
};

class DummyShell : public IShell {
public:
    bool openUrl(const QString&) override { return false; }
    bool startDetached(const QString&, const QStringList&) override { return false; }
};

// No sound server: the option never shows.
class DummyVoiceMicrophone : public IVoiceMicrophone {
public:
    bool serverReachable() override { return false; }
    int removeLeftovers() override { return 0; }
    Status create() override {
        return Status::failure(QStringLiteral("Cannot make \"%1\". %2").arg(VoiceMicrophoneName, unavailableReason()));
    }
    void remove() override {}
    bool isCreated() const override { return false; }
    QString mixDeviceName() const override { return QString(); }
    std::unique_ptr<IHeld> steerDefaultOutputToMix() override { return nullptr; }
    bool mixHasOurPlayback() override { return false; }
};

// No key is ever heard, so hotkeys rely on their poll (which sees no key either).
class DummyKeyWatch : public IKeyWatch {
public:
    bool start(KeyHandler) override { return false; }
    void stop() override {}
};

class DummyThreadPriority : public IThreadPriority {
public:
    PriorityResult raiseCurrentThread(const char*, int) override {
        return {PriorityOutcome::Unchanged, unavailableReason()};
    }
    PriorityResult raiseThread(qint64, const char*, int) override {
        return {PriorityOutcome::Unchanged, unavailableReason()};
    }
    qint64 findThread(const QByteArray&) override { return 0; }
};

// Nothing is known about the machine.
class DummySystemInfo : public ISystemInfo {
public:
    QByteArray machineId() override { return {}; }
    SystemFacts systemFacts() override { return {}; }
    ProcessorLoad processorLoad() override { return {}; }
};

// No sound server answers.
class DummySoundServer : public ISoundServer {
public:
    SoundServerInfo query(std::chrono::milliseconds) override { return {}; }
};

// No session bus: every start runs on its own, and no other process reaches it.
class DummyInstanceBus : public IInstanceBus {
public:
    Claim claim() override { return Claim::Unavailable; }
    QString unavailableReason() const override { return platform::unavailableReason(); }
    void serve(IInstanceCommands&) override {}
    void release() override {}
    void soundStarted(const QString&) override {}
    void volumeChanged(unsigned) override {}
    void hotkeyModeChanged(bool) override {}
    std::unique_ptr<IRunningInstance> findRunning(QString* failure) override {
        if (failure != nullptr) {
            *failure = platform::unavailableReason();
        }
        return nullptr;
    }
};

// A bundle of the dummy services alone, with no capability; the web host is the one of every system.
std::unique_ptr<Services> makeDummyServices();

} // namespace clavora::platform
