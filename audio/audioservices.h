// What sound playback asks of the system, handed in by whoever makes the engine or the player: audio/ reaches for
// no service of its own.
#pragma once

namespace clavora::platform {
class IFallbackPlayer;
class IFileSystem;
class ISystemInfo;
class IThreadPriority;
} // namespace clavora::platform

namespace clavora::audio {

struct AudioServices {
    // Where sound files are looked for and checked; asked from the engine's threads too. Required.
    platform::IFileSystem* files = nullptr;
    // Raises the threads that keep sound flowing; null leaves them as they start.
    platform::IThreadPriority* priority = nullptr;
    // The system's simple player, for what the engine cannot take; null: such a sound is not heard. The player's
    // alone (the engine never calls it).
    platform::IFallbackPlayer* fallback = nullptr;
    // How busy the processors are, by which an adaptive period is judged; null: never busy.
    platform::ISystemInfo* systemInfo = nullptr;
};

} // namespace clavora::audio
