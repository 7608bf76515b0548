// The virtual microphone for tests: made and removed in memory, failures on request.
#pragma once

#include "platform/voicemicrophone.h"

namespace clavora::platform {

class FakeVoiceMicrophone : public IVoiceMicrophone {
public:
    bool serverReachable() override { return reachable; }
    int removeLeftovers() override {
        ++leftoverSweeps;
        return 0;
    }
    Status create() override {
        if (failCreate) {
            return Status::failure(QStringLiteral("Cannot make \"%1\".").arg(VoiceMicrophoneName));
        }
        created = true;
        return Status::success();
    }
    void remove() override { created = false; }
    bool isCreated() const override { return created; }
    // An empty name opens the default device: tests run the voice output on whatever driver they use.
    QString mixDeviceName() const override { return QString(); }
    std::unique_ptr<IHeld> steerDefaultOutputToMix() override { return created ? std::make_unique<IHeld>() : nullptr; }
    bool mixHasOurPlayback() override { return created; }

    bool reachable = true;
    bool failCreate = false;
    bool created = false;
    int leftoverSweeps = 0;
};

} // namespace clavora::platform
