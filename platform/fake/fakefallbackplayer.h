// The fallback player for tests: records what it was asked to play.
#pragma once

#include "platform/fallbackplayer.h"

#include <QStringList>

namespace clavora::platform {

class TFakeFallbackPlayer : public IFallbackPlayer {
public:
    void play(const QString& path) override { FPlayed << path; }

    QStringList FPlayed;
};

} // namespace clavora::platform
