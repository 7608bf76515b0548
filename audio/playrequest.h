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

} // namespace clavora::audio
