// The services sound playback is handed, taken from the platform's implementations in force (a test's
// ScopedService, or the system's): for tests and benchmarks that make an engine or a player.
#pragma once

#include "audio/audioservices.h"
#include "platform/fallbackplayer.h"
#include "platform/filesystem.h"
#include "platform/threadpriority.h"

namespace clavora::test {

inline audio::AudioServices platformAudioServices() {
    return {&platform::fileSystem(), &platform::threadPriority(), &platform::fallbackPlayer()};
}

} // namespace clavora::test
