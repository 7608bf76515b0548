// Sound playback for the main window: starting and stopping the audio output, and playing a key binding's file on
// the engine, or on the system's simple player when the engine cannot take it.
#pragma once

#include "audio/audioengine.h"
#include "audio/loudness.h"
#include "audio/playrequest.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

namespace clavora::audio {

class SoundPlayer {
public:
    // `services`: what the engine and the fallback take from the system. `config`: how the engine outputs; the
    // default is the system's default device.
    explicit SoundPlayer(const AudioServices& services, const EngineConfig& config = EngineConfig());
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Starts the audio output. False when it cannot start; every later playSoundFile() then goes to the fallback.
    bool start();
    // Starts the audio output without waiting for it (see AudioEngine::startInBackground()): until it is open every
    // playSoundFile() goes to the fallback. `settled` is called once the opening is over, with whether the output
    // runs: on this thread, through its event loop, or within waitForStart(). False when nothing could be started.
    bool startInBackground(std::function<void(bool started)> settled);
    // Waits up to `timeout` for an opening begun by startInBackground() to be over, and settles it at once if it is.
    // True when it is over.
    bool waitForStart(std::chrono::milliseconds timeout);

    // Stops and releases the newest stream and shuts the output down (the voice output too), silencing every stream
    // still playing.
    void stop();

    // The voice output: a second output of the engine, to the device named `deviceName`, that gets every sound from
    // now on as well (the same stream, decoded once, under the same handle), at the same volume. False when it cannot
    // be opened; sounds then go to the normal output only. Sounds already playing are not repeated on it. Starting it
    // again while it runs moves it to the new device. An empty name is the default device as the caller has steered it
    // for the opening: that output stays open while idle and is not opened again when lost.
    bool startVoiceOutput(const QString& deviceName);
    // Closes the voice output, silencing what plays on it; the normal output plays on.
    void stopVoiceOutput();
    bool isVoiceOutputRunning() const;
    // The engine's output it is; InvalidOutput when it does not run.
    OutputId voiceOutput() const { return m_voiceOutput; }
    // Its own gain, which setMasterGain() sets along with the master gain: the speakers' volume may be set at the
    // sound server instead, on the speakers' stream alone, and the voice output then follows it here.
    MasterGain voiceGain() const;
    void setVoiceGain(MasterGain gain);

    // Stops every sound playing: on both outputs, and on the fallback player where it can be stopped.
    void stopAll();

    // Plays one sound file and returns at once. Without overlapping, the previous sound stops first, whatever
    // becomes of the new one. A path naming no file plays nothing, nor does a file that is no sound the engine
    // plays (see isPlayableSound()). A sound the engine cannot make heard for want of an output goes to the fallback
    // player: at once when the output is not running, otherwise as soon as the engine has found out (the file is
    // probed off this thread, and a device that has gone away is tried first), through this thread's event loop.
    // Reports nothing.
    void playSoundFile(const QString& fileName, bool allowOverlapping);
    // Likewise, for a sound asked for with how to play it: its gain reaches the mix. Returns the file it found and
    // the stream it started.
    StartedSound play(const PlayRequest& request, bool allowOverlapping);

    // Whether a stream play() returned is still playing (see AudioEngine::isPlaying()).
    bool isPlaying(quint32 stream) const;
    // Stops and releases one stream play() returned, on every output; a dead handle is ignored.
    void stopSound(quint32 stream);

    // The sound files the key map binds, as stored: the start of each is decoded ahead (now, or once the output
    // runs), so a key press mixes samples in the very next period. Replaces the list given before. With even
    // loudness on, each is measured too.
    void setBoundSounds(const QStringList& storedPaths);

    // Even loudness: every bound sound is measured once for its loudness (on a thread of its own, kept in
    // CacheFile) and played at the gain that brings it to TargetLoudness, times its request's gain; a sound not
    // measured yet plays at its own level. Off, every sound plays at its own level, and nothing is measured.
    void setEvenLoudness(bool on, const QString& cacheFile);
    // The measurements while even loudness is on; null otherwise.
    LoudnessLevels* loudness() { return m_loudness.get(); }

    // Handle of the most recently started stream, on every output; 0 when there is none.
    quint32 newestStream() const { return m_newestStream; }

    // Master volume per channel, 0 to 65535 each, applied to everything the engine plays.
    MasterGain masterGain() const;
    void setMasterGain(MasterGain gain);

    // Whether the output is running (start() succeeded and stop() has not run since).
    bool isRunning() const;

    AudioEngine& engine() { return m_engine; }

private:
    // Takes up the output opened in the background and tells `m_settled`; nothing when that was done already.
    void settleStart();
    // Stops and releases the newest stream, if any.
    void dropNewestStream();
    // The file a stored path names; empty when there is none.
    QString resolve(const QString& storedPath);
    // The same lookup for another thread, which the disk may keep waiting.
    std::function<QString(const QString&)> resolver();

    AudioServices m_services;
    EngineConfig m_config;
    std::function<void(bool started)> m_settled;
    // Lives on the thread that made the player: what the engine's threads find unplayable reaches the fallback
    // player through it. Declared before the engine, so the engine's threads have ended before it goes.
    QObject m_context;
    AudioEngine m_engine;
    quint32 m_newestStream = 0;
    OutputId m_voiceOutput = InvalidOutput;
    // Kept while the voice output is off, for the next one.
    MasterGain m_voiceGain;
    // The program does not move while it runs; asked for once, on the first sound.
    QString m_programFolder;
    QStringList m_boundSounds;
    std::unique_ptr<LoudnessLevels> m_loudness;
};

// Whether the file is a sound the engine plays: a regular file, read by an audio format's demuxer alone, within the
// engine's bounds. Reads the file's start; never waits on it.
bool isPlayableSound(platform::IFileSystem& files, const QString& path);

} // namespace clavora::audio
