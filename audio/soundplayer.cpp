// Sound playback for the main window.
#include "audio/soundplayer.h"

#include "audio/audiolog.h"
#include "audio/soundpath.h"
#include "platform/fallbackplayer.h"
#include "platform/filesystem.h"

#include <QDir>

namespace clavora::audio {

SoundPlayer::SoundPlayer(const EngineConfig& config) : m_config(config) {
    QObject* context = &m_context;
    m_engine.setUnplayableHandler([context](quint32, const QString& path) {
        QMetaObject::invokeMethod(
            context, [path] { platform::fallbackPlayer().play(path); }, Qt::QueuedConnection);
    });
}

SoundPlayer::~SoundPlayer() = default;

bool SoundPlayer::start() {
    return m_engine.start(m_config);
}

void SoundPlayer::stop() {
    dropNewestStream();
    m_engine.shutdown();
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
    platform::IFileSystem& files = platform::fileSystem();
    if (m_programFolder.isEmpty()) {
        m_programFolder = files.programFolder();
    }
    const QString path = resolveSoundPath(fileName, QDir::currentPath(), m_programFolder,
                                          [&files](const QString& candidate) { return files.fileExists(candidate); });
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
