// What the volume slider stands for.
#include "app/volumetarget.h"

#include "app/settingsini.h"
#include "audio/playback.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcVolumeTarget, "clavora.app.volume")

namespace clavora {

namespace {

const QString StoreSection = QStringLiteral("Volume");
const QString StoreLeft = QStringLiteral("Left");
const QString StoreRight = QStringLiteral("Right");
constexpr int SaveDelayMs = 1000;

// The sound server's volume, followed for the engine's stream.
class ServerVolume : public platform::IProgramVolume {
public:
    explicit ServerVolume(platform::IProgramVolume& server) : m_server(server) {
        m_server.follow(QString::fromUtf8(audio::OutputStreamName));
    }
    void follow(const QString& streamName) override { m_server.follow(streamName); }
    bool isAvailable() override { return m_server.isAvailable(); }
    bool read(platform::ChannelVolume& volume) override { return m_server.read(volume); }
    bool write(platform::ChannelVolume volume) override { return m_server.write(volume); }

private:
    platform::IProgramVolume& m_server;
};

// No audio output: nothing to read or set.
class NoVolume : public platform::IProgramVolume {
public:
    void follow(const QString&) override {}
    bool isAvailable() override { return false; }
    bool read(platform::ChannelVolume&) override { return false; }
    bool write(platform::ChannelVolume) override { return false; }
};

bool parseChannel(const QString& text, quint16& channel) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > 65535) {
        return false;
    }
    channel = static_cast<quint16>(value);
    return true;
}

} // namespace

VolumeTarget ChooseVolumeTarget(bool audioRunning, const QString& audioDriver) {
    if (!audioRunning) {
        return VolumeTarget::None;
    }
    // Through ALSA the program may still reach a sound server by way of ALSA's own plug-in, but then its stream
    // carries ALSA's name, not ours; the engine's gain is the one volume that is sure to be ours.
    if (audioDriver == QLatin1String("pulseaudio") || audioDriver == QLatin1String("pipewire")) {
        return VolumeTarget::SoundServer;
    }
    return VolumeTarget::EngineGain;
}

QString StateStoreFile(const QString& stateFolder) {
    if (stateFolder.isEmpty()) {
        return QString();
    }
    return stateFolder + QLatin1String("/Zemtrak/Clavora/state.ini");
}

EngineGainVolume::EngineGainVolume(audio::TSoundPlayback& sound, QString stateFile)
    : m_sound(sound), m_stateFile(std::move(stateFile)) {
    audio::TMasterGain stored;
    if (loadStored(m_stateFile, stored)) {
        m_sound.setMasterGain(stored);
    }
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(SaveDelayMs);
    QObject::connect(&m_saveTimer, &QTimer::timeout, &m_saveTimer, [this] { save(); });
}

EngineGainVolume::~EngineGainVolume() {
    save();
}

void EngineGainVolume::follow(const QString&) {}

bool EngineGainVolume::isAvailable() {
    return true;
}

bool EngineGainVolume::read(platform::ChannelVolume& volume) {
    const audio::TMasterGain gain = m_sound.masterGain();
    volume = platform::ChannelVolume{gain.Left, gain.Right};
    return true;
}

bool EngineGainVolume::write(platform::ChannelVolume volume) {
    const audio::TMasterGain old = m_sound.masterGain();
    if (old.Left == volume.left && old.Right == volume.right) {
        return true;
    }
    m_sound.setMasterGain(audio::TMasterGain{volume.left, volume.right});
    if (!m_stateFile.isEmpty()) {
        m_dirty = true;
        m_saveTimer.start();
    }
    return true;
}

void EngineGainVolume::save() {
    m_saveTimer.stop();
    if (!m_dirty) {
        return;
    }
    m_dirty = false;
    QDir().mkpath(QFileInfo(m_stateFile).absolutePath());
    // Read again first: the store holds other values, written by other parts of the program.
    TSettingsIni store(m_stateFile);
    store.load();
    const audio::TMasterGain gain = m_sound.masterGain();
    store.writeString(StoreSection, StoreLeft, QString::number(gain.Left));
    store.writeString(StoreSection, StoreRight, QString::number(gain.Right));
    const TStatus written = store.updateFile();
    if (!written) {
        qCWarning(lcVolumeTarget) << "Volume not kept:" << written.message();
    }
}

bool EngineGainVolume::loadStored(const QString& stateFile, audio::TMasterGain& gain) {
    if (stateFile.isEmpty()) {
        return false;
    }
    TSettingsIni store(stateFile);
    if (!store.load()) {
        return false;
    }
    audio::TMasterGain stored;
    if (!parseChannel(store.readString(StoreSection, StoreLeft, QString()), stored.Left) ||
        !parseChannel(store.readString(StoreSection, StoreRight, QString()), stored.Right)) {
        return false;
    }
    gain = stored;
    return true;
}

std::unique_ptr<platform::IProgramVolume>
MakeProgramVolume(audio::TSoundPlayback& sound, platform::IProgramVolume& server, const QString& stateFolder) {
    const VolumeTarget target = ChooseVolumeTarget(sound.isAudioRunning(), sound.engine().outputDriver());
    qCInfo(lcVolumeTarget) << "Volume slider controls"
                           << (target == VolumeTarget::SoundServer  ? "the stream's volume at the sound server"
                               : target == VolumeTarget::EngineGain ? "the audio engine's gain"
                                                                    : "nothing (no audio output)");
    switch (target) {
    case VolumeTarget::SoundServer:
        return std::make_unique<ServerVolume>(server);
    case VolumeTarget::EngineGain:
        return std::make_unique<EngineGainVolume>(sound, StateStoreFile(stateFolder));
    case VolumeTarget::None:
        break;
    }
    return std::make_unique<NoVolume>();
}

} // namespace clavora
