// What is asked of the player when a key's binding plays: the sound and how to play it.
#pragma once

#include <QString>

namespace clavora::audio {

struct PlayRequest {
    // The sound file as the binding stores it.
    QString path;
    // Applied to the sound's samples alone, before the output's volume: 1 leaves them as they are.
    float gain = 1.0f;
};

// What a play request started (SoundPlayer::play()).
struct StartedSound {
    // The file found for the request (its stored path resolved); empty when there is none.
    QString file;
    // The engine's handle of the new stream; 0 when the engine took none (no file, or the fallback player has it).
    quint32 stream = 0;
};

} // namespace clavora::audio
