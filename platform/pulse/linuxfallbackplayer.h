// The fallback player on Linux: libcanberra, which hands the file to the sound server (or ALSA) asynchronously.
#pragma once

#include "platform/fallbackplayer.h"

#include <QtGlobal>

#include <memory>
#include <thread>

namespace clavora::platform {

// libcanberra waits for the sound server while it connects and while it starts a stream, so it is only ever called
// on a thread of the player's own: a server that takes connections and never answers holds up that thread alone.
class LinuxFallbackPlayer : public IFallbackPlayer {
public:
    LinuxFallbackPlayer();
    // Ends every sound still playing. A thread held up by the sound server is waited for a few seconds, then left
    // behind.
    ~LinuxFallbackPlayer() override;
    void play(const QString& path) override;
    void stopAll() override;

    // Sounds started and not yet finished (at most MaxSounds). Any thread.
    int playingSounds() const;

private:
    struct Shared;

    // Shared with the player's thread, which keeps it when it is left behind.
    std::shared_ptr<Shared> m_shared;
    // Started on first use: connecting to the sound server costs time a program that never needs it should not pay.
    std::thread m_thread;
};

} // namespace clavora::platform
