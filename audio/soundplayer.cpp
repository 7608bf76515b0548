// Sound playback for the main window.
#include "audio/soundplayer.h"

#include "audio/audiolog.h"
#include "audio/ffmpegsource.h"
#include "audio/soundpath.h"
#include "platform/fallbackplayer.h"
#include "platform/filesystem.h"

#include <QDir>

#include <utility>

namespace clavora::audio {

SoundPlayer::SoundPlayer(const AudioServices& services, const EngineConfig& config)
    : m_services(services), m_config(config), m_engine(services) {
    QObject* context = &m_context;
    platform::IFallbackPlayer* fallback = services.fallback;
    // Only a sound the engine took for one goes to the system's player: a file it refused (a playlist, no audio, a
    // rate out of bounds) is refused there too, where nothing bounds how it would be read or how long it would play.
    m_engine.setUnplayableHandler([context, fallback](quint32, const QString& path, Unplayable why) {
        if (why != Unplayable::NoOutput || fallback == nullptr) {
            qCDebug(lcAudio).noquote() << "Not a sound to play:" << path;
            return;
        }
        QMetaObject::invokeMethod(
            context, [fallback, path] { fallback->play(path); }, Qt::QueuedConnection);
    });
}

SoundPlayer::~SoundPlayer() = default;

bool SoundPlayer::start() {
    return m_engine.start(m_config);
}

bool SoundPlayer::startInBackground(std::function<void(bool started)> settled) {
    m_settled = std::move(settled);
    QObject* context = &m_context;
    return m_engine.startInBackground(m_config, [this, context] {
        QMetaObject::invokeMethod(
            context, [this] { settleStart(); }, Qt::QueuedConnection);
    });
}

bool SoundPlayer::waitForStart(std::chrono::milliseconds timeout) {
    if (!m_engine.waitForOpening(timeout)) {
        return false;
    }
    settleStart();
    return true;
}

void SoundPlayer::settleStart() {
    if (m_engine.outputState() != OutputState::Opening) {
        return;
    }
    const bool started = m_engine.finishStart();
    if (std::function<void(bool)> settled = std::exchange(m_settled, {})) {
        settled(started);
    }
}

void SoundPlayer::stop() {
    dropNewestStream();
    stopVoiceOutput();
    m_engine.shutdown();
}

bool SoundPlayer::startVoiceOutput(const QString& deviceName) {
    stopVoiceOutput();
    EngineConfig config = m_config;
    config.deviceName = deviceName;
    config.streamName = VoiceStreamName;
    // A call adds far more delay than any period, and a small period would draw the voice mix's sink down to it,
    // starving the microphone's own loop into the same sink.
    config.adaptivePeriod = false;
    config.periodFrames = EngineConfig().periodFrames;
    config.closedUntilFirstSound = false;
    if (deviceName.isEmpty()) {
        // The default device, steered into the mix by the caller for the opening only: closed when idle or lost and
        // opened again, it would land on the speakers and play every sound there twice.
        config.idleTimeout = std::chrono::milliseconds(0);
        config.reopenAfterLoss = false;
    }
    m_voiceOutput = m_engine.addOutput(config);
    if (m_voiceOutput == InvalidOutput) {
        qCDebug(lcAudio) << "Cannot open the voice output" << deviceName;
        return false;
    }
    m_voiceGain = m_engine.masterGain();
    m_engine.setOutputGain(m_voiceOutput, m_voiceGain);
    return true;
}

void SoundPlayer::stopVoiceOutput() {
    m_engine.removeOutput(m_voiceOutput);
    m_voiceOutput = InvalidOutput;
}

bool SoundPlayer::isVoiceOutputRunning() const {
    return m_voiceOutput != InvalidOutput;
}

MasterGain SoundPlayer::voiceGain() const {
    return m_voiceGain;
}

void SoundPlayer::setVoiceGain(MasterGain gain) {
    m_voiceGain = gain;
    m_engine.setOutputGain(m_voiceOutput, gain);
}

void SoundPlayer::stopAll() {
    m_engine.stopAll();
    m_newestStream = 0;
    if (m_services.fallback != nullptr) {
        m_services.fallback->stopAll();
    }
}

void SoundPlayer::dropNewestStream() {
    if (m_newestStream != 0) {
        m_engine.stop(m_newestStream);
        m_engine.free(m_newestStream);
        m_newestStream = 0;
    }
}

void SoundPlayer::playSoundFile(const QString& fileName, bool allowOverlapping) {
    play(PlayRequest{fileName}, allowOverlapping);
}

StartedSound SoundPlayer::play(const PlayRequest& request, bool allowOverlapping) {
    if (!allowOverlapping) {
        dropNewestStream();
    }
    const QString path = resolve(request.path);
    if (path.isEmpty()) {
        qCDebug(lcAudio) << "No sound file at" << request.path;
        return {};
    }
    const float gain = m_loudness ? request.gain * m_loudness->gainFor(path) : request.gain;
    m_newestStream = m_engine.openStream(path, gain);
    if (m_newestStream != 0) {
        // On every output at once.
        m_engine.play(m_newestStream);
    } else if (!m_engine.isRunning() && m_services.fallback != nullptr && isPlayableSound(*m_services.files, path)) {
        // Without an output only the system's player is left, and it gets what the engine would have taken. (A
        // running engine that refuses a stream has found no regular file there, or cannot keep up releasing.)
        m_services.fallback->play(path);
    }
    return StartedSound{path, m_newestStream};
}

bool SoundPlayer::isPlaying(quint32 stream) const {
    return stream != 0 && m_engine.isPlaying(stream);
}

void SoundPlayer::stopSound(quint32 stream) {
    if (stream == 0) {
        return;
    }
    m_engine.stop(stream);
    m_engine.free(stream);
    if (stream == m_newestStream) {
        m_newestStream = 0;
    }
}

bool isPlayableSound(platform::IFileSystem& files, const QString& path) {
    QString error;
    if (!FfmpegSource::open(files, path, AudioFormat{EngineConfig().sampleRate, EngineConfig().channels}, &error)) {
        qCDebug(lcAudio) << "Cannot decode" << path << ":" << error;
        qCDebug(lcAudio).noquote() << "Not a sound to play:" << path;
        return false;
    }
    return true;
}

void SoundPlayer::setBoundSounds(const QStringList& storedPaths) {
    // A key map may hold a hundred thousand bindings, and this runs on the GUI thread: the files are looked for on
    // the engine's thread that decodes their starts, where the disk may take its time. Two stored paths that name
    // one file find it decoded the second time.
    m_engine.prepareSounds(storedPaths, resolver());
    m_boundSounds = storedPaths;
    m_boundSounds.removeDuplicates();
    if (m_loudness) {
        m_loudness->measure(m_boundSounds, resolver());
    }
}

std::function<QString(const QString&)> SoundPlayer::resolver() {
    platform::IFileSystem& files = *m_services.files;
    if (m_programFolder.isEmpty()) {
        m_programFolder = files.programFolder();
    }
    return [&files, current = QDir::currentPath(), program = m_programFolder](const QString& stored) {
        return resolveSoundPath(stored, current, program,
                                [&files](const QString& candidate) { return files.fileExists(candidate); });
    };
}

void SoundPlayer::setEvenLoudness(bool on, const QString& cacheFile) {
    if (!on) {
        m_loudness.reset();
        return;
    }
    if (!m_loudness) {
        m_loudness = std::make_unique<LoudnessLevels>(*m_services.files, cacheFile);
        m_loudness->measure(m_boundSounds, resolver());
    }
}

QString SoundPlayer::resolve(const QString& storedPath) {
    platform::IFileSystem& files = *m_services.files;
    if (m_programFolder.isEmpty()) {
        m_programFolder = files.programFolder();
    }
    return resolveSoundPath(storedPath, QDir::currentPath(), m_programFolder,
                            [&files](const QString& candidate) { return files.fileExists(candidate); });
}

MasterGain SoundPlayer::masterGain() const {
    return m_engine.masterGain();
}

void SoundPlayer::setMasterGain(MasterGain gain) {
    m_engine.setMasterGain(gain);
    setVoiceGain(gain);
}

bool SoundPlayer::isRunning() const {
    return m_engine.isRunning();
}

} // namespace clavora::audio
