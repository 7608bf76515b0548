// Sound playback for the main window.
#include "audio/soundplayer.h"

#include "audio/audiolog.h"
#include "audio/soundpath.h"
#include "platform/fallbackplayer.h"
#include "platform/filesystem.h"

#include <QDir>

namespace clavora::audio {

namespace {

// Decoded ahead per sound: enough for the decoder to get going behind it on a busy machine.
constexpr double HeadSeconds = 0.3;
// At most this much memory for them: 0.3 s of 48 kHz stereo is 115 KB, so some 280 sounds.
constexpr qint64 HeadBudgetBytes = 32 << 20;

} // namespace

SoundPlayer::SoundPlayer(const EngineConfig& config) : m_config(config) {}

SoundPlayer::~SoundPlayer() = default;

bool SoundPlayer::start() {
    if (!m_engine.start(m_config)) {
        return false;
    }
    const AudioFormat format = m_engine.outputFormat();
    if (!m_heads) {
        m_heads = std::make_unique<SoundHeadCache>(format, int(format.sampleRate * HeadSeconds), HeadBudgetBytes);
    }
    prepareHeads();
    return true;
}

void SoundPlayer::stop() {
    dropNewestStream();
    m_engine.shutdown();
    m_heads.reset();
}

void SoundPlayer::setBoundSounds(const QStringList& storedPaths) {
    m_boundSounds = storedPaths;
    prepareHeads();
}

void SoundPlayer::prepareHeads() {
    if (!m_heads) {
        return;
    }
    QStringList paths;
    for (const QString& stored : std::as_const(m_boundSounds)) {
        const QString path = resolve(stored);
        if (!path.isEmpty() && !paths.contains(path)) {
            paths << path;
        }
    }
    m_heads->prepare(paths);
}

QString SoundPlayer::resolve(const QString& storedPath) {
    platform::IFileSystem& files = platform::fileSystem();
    if (m_programFolder.isEmpty()) {
        m_programFolder = files.programFolder();
    }
    return resolveSoundPath(storedPath, QDir::currentPath(), m_programFolder,
                            [&files](const QString& candidate) { return files.fileExists(candidate); });
}

void SoundPlayer::dropNewestStream() {
    if (m_newestStream != 0) {
        m_engine.stop(m_newestStream);
        m_engine.free(m_newestStream);
        m_newestStream = 0;
    }
}

void SoundPlayer::playSoundFile(const QString& fileName, bool allowOverlapping) {
    if (!allowOverlapping) {
        dropNewestStream();
    }
    const QString path = resolve(fileName);
    if (path.isEmpty()) {
        qCDebug(lcAudio) << "No sound file at" << fileName;
        return;
    }
    m_newestStream = m_engine.openStream(path);
    if (m_newestStream != 0) {
        m_engine.play(m_newestStream);
    } else {
        platform::fallbackPlayer().play(path);
    }
}

MasterGain SoundPlayer::masterGain() const {
    return m_engine.masterGain();
}

void SoundPlayer::setMasterGain(MasterGain gain) {
    m_engine.setMasterGain(gain);
}

bool SoundPlayer::isRunning() const {
    return m_engine.isRunning();
}

} // namespace clavora::audio
