// The fallback player on Linux: libcanberra, which hands the file to the sound server (or ALSA) asynchronously.
#pragma once

#include "platform/fallbackplayer.h"

#include <memory>

struct ca_context;

namespace clavora::platform {

class LinuxFallbackPlayer : public IFallbackPlayer {
public:
    LinuxFallbackPlayer();
    ~LinuxFallbackPlayer() override;
    void play(const QString& path) override;
    void stopAll() override;

private:
    struct ContextCloser {
        void operator()(ca_context* context) const;
    };
    // Made on first use: connecting to the sound server costs time a program that never needs it should not pay.
    std::unique_ptr<ca_context, ContextCloser> m_context;
    bool m_unavailable = false;
};

} // namespace clavora::platform
