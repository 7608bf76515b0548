// The system's simple sound player, used for files the audio engine cannot play.
#pragma once

#include <QString>

namespace clavora::platform {

class IFallbackPlayer {
public:
    virtual ~IFallbackPlayer() = default;

    // Sounds the player keeps going at once. Playing one more makes the oldest still playing give way (it stops),
    // so a key held down on a file only this player can play never piles up sounds without end.
    static constexpr int MaxSounds = 16;

    // Starts playing the sound file at Path in the background and returns at once; the caller cannot stop it alone
    // (only stopAll() and MaxSounds later sounds can). Nothing is reported: a file the player cannot play is simply
    // not heard. GUI thread.
    virtual void play(const QString& path) = 0;

    // Stops every sound play() started that is still playing, where the system's player allows it. GUI thread.
    virtual void stopAll() = 0;
};

} // namespace clavora::platform
