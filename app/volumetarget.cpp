// What the volume slider stands for.
#include "app/volumetarget.h"

#include "app/settingsstore.h"
#include "audio/soundplayer.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cmath>

Q_LOGGING_CATEGORY(lcVolumeTarget, "clavora.app.volume")

namespace clavora {

namespace {

// The engine's gain, and the stream's volume at a sound server: different scales, kept apart.
const QString EngineStoreSection = QStringLiteral("Volume");
const QString ServerStoreSection = QStringLiteral("ServerVolume");
const QString StoreLeft = QStringLiteral("Left");
const QString StoreRight = QStringLiteral("Right");
// Looks (one every 100 ms) for which a stream that came back is given the slider's volume until it shows it.
constexpr int MaxReapplyTries = 20;

// The sound server's volume, followed for the engine's stream. The voice output is a stream of its own at the
// server, which the slider does not reach there; its gain in the engine follows the server's volume instead, through
// the server's cubic volume curve, so a sound is as loud in a call as on the speakers. The stream exists only while
// the output is open (from the first sound on): until then the slider shows the volume of the last run, which the
// stream is given when it comes.
class ServerVolume : public platform::IProgramVolume {
public:
    ServerVolume(platform::IProgramVolume& server, audio::SoundPlayer& sound, platform::IFileSystem& files,
                 const QString& stateFile)
        : m_server(server), m_sound(sound), m_kept(files, stateFile, ServerStoreSection) {
        m_server.follow(QString::fromUtf8(audio::OutputStreamName));
        m_known = m_kept.load(m_last);
        m_reapply = m_known;
    }
    void follow(const QString& streamName) override { m_server.follow(streamName); }
    bool isAvailable() override { return m_server.isAvailable(); }
    bool read(platform::ChannelVolume& volume) override {
        if (!m_server.read(volume)) {
            // The stream is away: the output is closed while nothing plays, or the server restarts. The next stream
            // gets the volume the slider shows. Before any stream, the slider is shown the kept volume, or the full
            // volume a server gives a new stream.
            m_reapply = m_known;
            m_reapplyTries = 0;
            if (m_shown) {
                return false;
            }
            m_shown = true;
            volume = m_known ? m_last : platform::ChannelVolume{65535, 65535};
            return true;
        }
        m_shown = true;
        if (m_reapply) {
            // Given again at every look while the stream still shows what it had: a write can be lost on a stream
            // that goes as it is made (the output's opening at start-up is one). Any other volume was set elsewhere
            // meanwhile and is taken; a stream that never takes ours is left as it is.
            if (volume == m_last || (m_reapplyTries > 0 && !(volume == m_reapplyFrom)) ||
                ++m_reapplyTries > MaxReapplyTries) {
                m_reapply = false;
            } else if (m_server.write(m_last)) {
                m_reapplyFrom = volume;
                volume = m_last;
            }
        }
        if (!m_known || !(volume == m_last)) {
            m_kept.keep(volume);
        }
        m_last = volume;
        m_known = true;
        mirrorToVoiceOutput(volume);
        return true;
    }
    bool write(platform::ChannelVolume volume) override {
        m_last = volume;
        m_known = true;
        m_shown = true;
        m_kept.keep(volume);
        if (!m_server.write(volume)) {
            // Set while the stream is away: kept for the next one, as the slider shows it.
            m_reapply = true;
            m_reapplyTries = 0;
        }
        mirrorToVoiceOutput(volume);
        return true;
    }

private:
    void mirrorToVoiceOutput(platform::ChannelVolume volume) {
        const audio::MasterGain gain{serverVolumeAsGain(volume.left), serverVolumeAsGain(volume.right)};
        const audio::MasterGain current = m_sound.voiceGain();
        if (current.left != gain.left || current.right != gain.right) {
            m_sound.setVoiceGain(gain);
        }
    }

    platform::IProgramVolume& m_server;
    audio::SoundPlayer& m_sound;
    KeptVolume m_kept;
    // The volume last read or set, and whether a stream that comes (back) is to be given it.
    platform::ChannelVolume m_last;
    bool m_known = false;
    bool m_reapply = false;
    int m_reapplyTries = 0;
    platform::ChannelVolume m_reapplyFrom; // what the stream showed when it was last given the volume
    // Whether the slider has been shown a volume.
    bool m_shown = false;
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

VolumeTarget chooseVolumeTarget(const platform::Services& services, bool audioRunning, const QString& audioDriver) {
    if (!audioRunning) {
        return VolumeTarget::None;
    }
    // Through ALSA the program may still reach a sound server by way of ALSA's own plug-in, but then its stream
    // carries ALSA's name, not ours; the engine's gain is the one volume that is sure to be ours.
    if (services.programVolumeFollows(audioDriver)) {
        return VolumeTarget::SoundServer;
    }
    return VolumeTarget::EngineGain;
}

quint16 serverVolumeAsGain(quint16 volume) {
    const double level = volume / 65535.0;
    return static_cast<quint16>(std::lround(level * level * level * 65535.0));
}

QString stateStoreFile(const QString& stateFolder) {
    if (stateFolder.isEmpty()) {
        return QString();
    }
    return stateFolder + QLatin1String("/Zemtrak/Clavora/state.ini");
}

KeptVolume::KeptVolume(platform::IFileSystem& files, QString stateFile, QString section, const platform::Clock& clock)
    : m_files(files), m_stateFile(std::move(stateFile)), m_section(std::move(section)),
      m_saveTimer(clock.makeTimer([this] { save(); })) {}

KeptVolume::~KeptVolume() {
    save();
}

bool KeptVolume::load(platform::ChannelVolume& volume) const {
    if (m_stateFile.isEmpty()) {
        return false;
    }
    SettingsStore store(m_files, m_stateFile);
    if (!store.load()) {
        return false;
    }
    platform::ChannelVolume stored;
    if (!parseChannel(store.readString(m_section, StoreLeft, QString()), stored.left) ||
        !parseChannel(store.readString(m_section, StoreRight, QString()), stored.right)) {
        return false;
    }
    volume = stored;
    return true;
}

void KeptVolume::keep(platform::ChannelVolume volume) {
    if (m_stateFile.isEmpty()) {
        return;
    }
    m_volume = volume;
    m_dirty = true;
    m_saveTimer->start(SaveDelayMs);
}

void KeptVolume::save() {
    m_saveTimer->stop();
    if (!m_dirty) {
        return;
    }
    m_dirty = false;
    QDir().mkpath(QFileInfo(m_stateFile).absolutePath());
    // Read again first: the store holds other values, written by other parts of the program.
    SettingsStore store(m_files, m_stateFile);
    store.load();
    store.writeString(m_section, StoreLeft, QString::number(m_volume.left));
    store.writeString(m_section, StoreRight, QString::number(m_volume.right));
    const Status written = store.updateFile();
    if (!written) {
        qCWarning(lcVolumeTarget) << "Volume not kept:" << written.message();
    }
}

EngineGainVolume::EngineGainVolume(audio::SoundPlayer& sound, platform::IFileSystem& files, QString stateFile)
    : m_sound(sound), m_kept(files, std::move(stateFile), EngineStoreSection) {
    platform::ChannelVolume stored;
    if (m_kept.load(stored)) {
        m_sound.setMasterGain(audio::MasterGain{stored.left, stored.right});
    }
}

void EngineGainVolume::follow(const QString&) {}

bool EngineGainVolume::isAvailable() {
    return true;
}

bool EngineGainVolume::read(platform::ChannelVolume& volume) {
    const audio::MasterGain gain = m_sound.masterGain();
    volume = platform::ChannelVolume{gain.left, gain.right};
    return true;
}

bool EngineGainVolume::write(platform::ChannelVolume volume) {
    const audio::MasterGain old = m_sound.masterGain();
    if (old.left == volume.left && old.right == volume.right) {
        return true;
    }
    m_sound.setMasterGain(audio::MasterGain{volume.left, volume.right});
    m_kept.keep(volume);
    return true;
}

std::unique_ptr<platform::IProgramVolume>
makeProgramVolume(audio::SoundPlayer& sound, const platform::Services& services, const QString& stateFolder) {
    const VolumeTarget target = chooseVolumeTarget(services, sound.isRunning(), sound.engine().outputDriver());
    qCInfo(lcVolumeTarget) << "Volume slider controls"
                           << (target == VolumeTarget::SoundServer  ? "the stream's volume at the sound server"
                               : target == VolumeTarget::EngineGain ? "the audio engine's gain"
                                                                    : "nothing (no audio output)");
    switch (target) {
    case VolumeTarget::SoundServer:
        return std::make_unique<ServerVolume>(services.programVolume(), sound, services.fileSystem(),
                                              stateStoreFile(stateFolder));
    case VolumeTarget::EngineGain:
        return std::make_unique<EngineGainVolume>(sound, services.fileSystem(), stateStoreFile(stateFolder));
    case VolumeTarget::None:
        break;
    }
    return std::make_unique<NoVolume>();
}

} // namespace clavora
