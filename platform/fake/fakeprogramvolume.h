// The program's output volume for tests: the test sets what the "sound server" reports and whether the stream is
// there; the fake records every write and every stream it was asked to follow.
#pragma once

#include "platform/programvolume.h"

#include <QStringList>

#include <vector>

namespace clavora::platform {

class FakeProgramVolume : public IProgramVolume {
public:
    void follow(const QString& streamName) override { followed << streamName; }
    bool isAvailable() override { return available; }

    bool read(ChannelVolume& out) override {
        ++reads;
        if (!available) {
            return false;
        }
        out = volume;
        return true;
    }

    bool write(ChannelVolume requested) override {
        if (!available) {
            return false;
        }
        writes.push_back(requested);
        volume = requested;
        return true;
    }

    void keepOn(const QString& outputName) override { keptOn << outputName; }

    bool available = true;
    QStringList keptOn;
    ChannelVolume volume{65535, 65535};
    std::vector<ChannelVolume> writes;
    QStringList followed;
    int reads = 0;
};

} // namespace clavora::platform
