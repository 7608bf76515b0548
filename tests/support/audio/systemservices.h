// The services sound playback is handed in the tests and benchmarks that make an engine or a player. Header only, so
// a benchmark built without the tests has it too; it links clavora_platform_services.
#pragma once

#include "audio/audioservices.h"
#include "platform/makeservices.h"
#include "platform/services.h"

#include <memory>

namespace clavora::test {

// Those of a bundle: a test's fakes, or the system's below.
inline audio::AudioServices audioServicesOf(const platform::Services& services) {
    return {&services.fileSystem(), &services.threadPriority(), &services.fallbackPlayer(), &services.systemInfo()};
}

// The system's own services as a session without a display or a sound server has them (its files, thread
// priority, simple player and processors' load are the same either way), made once for the process.
inline const platform::Services& systemServices() {
    static const std::unique_ptr<platform::Services> services = platform::makeServices(platform::Session());
    return *services;
}

inline audio::AudioServices systemAudioServices() {
    return audioServicesOf(systemServices());
}

} // namespace clavora::test
