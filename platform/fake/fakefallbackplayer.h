// The fallback player for tests: records what it was asked to play.
#pragma once

#include "platform/fallbackplayer.h"

#include <QStringList>

namespace clavora::platform {

class FakeFallbackPlayer : public IFallbackPlayer {
public:
    void play(const QString& path) override { played << path; }
    void stopAll() override { ++stops; }

    QStringList played;
    int stops = 0;
};

} // namespace clavora::platform
