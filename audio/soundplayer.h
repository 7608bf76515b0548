// Sound playback for the main window: starting and stopping the audio output, and playing a key binding's file on
// the engine, or on the system's simple player when the engine cannot take it.
#pragma once

#include "audio/audioengine.h"

#include <QObject>
#include <QString>

namespace clavora::audio {

class SoundPlayer {
public:
    // `config`: how the engine outputs; the default is the system's default device.
    explicit SoundPlayer(const EngineConfig& config = EngineConfig());
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Starts the audio output. False when it cannot start; every later playSoundFile() then goes to the fallback.
    bool start();

    // Stops and releases the newest stream and shuts the output down, silencing every stream still playing.
    void stop();

    // Plays one sound file and returns at once. Without overlapping, the previous sound stops first, whatever
    // becomes of the new one. A path naming no file plays nothing. A file the engine cannot play goes to the fallback
    // player: at once when the output never started, otherwise as soon as the engine has found out (the file is
    // probed off this thread, and a device that has gone away is tried first), through this thread's event loop.
    // Reports nothing.
    void playSoundFile(const QString& fileName, bool allowOverlapping);

    // Handle of the most recently started stream; 0 when there is none.
    quint32 newestStream() const { return m_newestStream; }

    // Master volume per channel, 0 to 65535 each, applied to everything the engine plays.
    MasterGain masterGain() const;
    void setMasterGain(MasterGain gain);

    // Whether the output is running (start() succeeded and stop() has not run since).
    bool isRunning() const;

    AudioEngine& engine() { return m_engine; }

private:
    // Stops and releases the newest stream, if any.
    void dropNewestStream();

    EngineConfig m_config;
    // Lives on the thread that made the player: what the engine's threads find unplayable reaches the fallback
    // player through it. Declared before the engine, so the engine's threads have ended before it goes.
    QObject m_context;
    AudioEngine m_engine;
    quint32 m_newestStream = 0;
    // The program does not move while it runs; asked for once, on the first sound.
    QString m_programFolder;
};

} // namespace clavora::audio
