// The fallback player on Linux: libcanberra, which hands the file to the sound server (or ALSA) asynchronously.
#pragma once

#include "platform/fallbackplayer.h"

#include <QtGlobal>

#include <deque>
#include <memory>
#include <mutex>

struct ca_context;

namespace clavora::platform {

class LinuxFallbackPlayer : public IFallbackPlayer {
public:
    LinuxFallbackPlayer();
    ~LinuxFallbackPlayer() override;
    void play(const QString& path) override;
    void stopAll() override;

    // Sounds started and not yet finished (at most MaxSounds). Any thread.
    int playingSounds() const;

private:
    struct ContextCloser {
        void operator()(ca_context* context) const;
    };
    // The ids of the sounds still playing, oldest first. libcanberra tells of a finished sound on a thread of its
    // own, hence the lock.
    struct Playing {
        mutable std::mutex mutex;
        std::deque<quint32> ids;
    };
    static void finished(ca_context* context, quint32 id, int result, void* playing);

    // Outlives the context, whose destruction still reports the sounds it ends.
    Playing m_playing;
    // Made on first use: connecting to the sound server costs time a program that never needs it should not pay.
    std::unique_ptr<ca_context, ContextCloser> m_context;
    bool m_unavailable = false;
    quint32 m_lastId = 0;
};

} // namespace clavora::platform
