// Sound playback for the main window.
#include "audio/playback.h"

#include "audio/audiolog.h"
#include "audio/soundpath.h"
#include "platform/fallbackplayer.h"
#include "platform/filesystem.h"

#include <QDir>

namespace clavora::audio {

TSoundPlayback::TSoundPlayback(const TEngineConfig& config) : FConfig(config) {}

TSoundPlayback::~TSoundPlayback() = default;

bool TSoundPlayback::InitAudio() {
    return FEngine.start(FConfig);
}

void TSoundPlayback::FreeAudio() {
    if (Channel != 0) {
        FEngine.stop(Channel);
        FEngine.free(Channel);
        Channel = 0;
    }
    FEngine.shutdown();
}

void TSoundPlayback::PlaySoundFile(const QString& fileName, bool allowOverlapping) {
    if (!allowOverlapping && Channel != 0) {
        FEngine.stop(Channel);
        FEngine.free(Channel);
        Channel = 0;
    }
    platform::IFileSystem& files = platform::fileSystem();
    if (FProgramFolder.isEmpty()) {
        FProgramFolder = files.programFolder();
    }
    const QString path = ResolveSoundPath(fileName, QDir::currentPath(), FProgramFolder,
                                          [&files](const QString& candidate) { return files.fileExists(candidate); });
    if (path.isEmpty()) {
        qCDebug(lcAudio) << "No sound file at" << fileName;
        return;
    }
    Channel = FEngine.openStream(path);
    if (Channel != 0) {
        FEngine.play(Channel);
    } else {
        platform::fallbackPlayer().play(path);
    }
}

TMasterGain TSoundPlayback::masterGain() const {
    return FEngine.masterGain();
}

void TSoundPlayback::setMasterGain(TMasterGain gain) {
    FEngine.setMasterGain(gain);
}

bool TSoundPlayback::isAudioRunning() const {
    return FEngine.isRunning();
}

} // namespace clavora::audio
