// Sound playback for the main window: starting and stopping the audio output, and playing a key binding's file on
// the engine, or on the system's simple player when the engine cannot take it.
#pragma once

#include "audio/engine.h"

#include <QString>

namespace clavora::audio {

class TSoundPlayback {
public:
    // Config: how the engine outputs; the default is the system's default device.
    explicit TSoundPlayback(const TEngineConfig& config = TEngineConfig());
    ~TSoundPlayback();

    // Handle of the most recently started stream; 0 when there is none.
    quint32 Channel = 0;

    // Starts the audio output. False when it cannot start; every later PlaySoundFile then goes to the fallback.
    bool InitAudio();

    // Stops and releases the current stream and shuts the output down, silencing every stream still playing.
    void FreeAudio();

    // Plays one sound file and returns at once. Without overlapping, the previous sound stops first, whatever
    // becomes of the new one. A path naming no file plays nothing; a file the engine cannot play (or any file while
    // the output is down) goes to the fallback player. Reports nothing.
    void PlaySoundFile(const QString& fileName, bool allowOverlapping);

    // Master volume per channel, 0 to 65535 each, applied to everything the engine plays.
    TMasterGain masterGain() const;
    void setMasterGain(TMasterGain gain);

    // Whether the output is running (InitAudio succeeded and FreeAudio has not run).
    bool isAudioRunning() const;

    TAudioEngine& engine() { return FEngine; }

private:
    TEngineConfig FConfig;
    TAudioEngine FEngine;
    // The program does not move while it runs; asked for once, on the first sound.
    QString FProgramFolder;
};

} // namespace clavora::audio
