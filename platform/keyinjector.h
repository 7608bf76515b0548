// Key presses fed into the system's keyboard input as if a physical key had moved: they reach the window with the
// keyboard focus by the ordinary route and key-state readers see them.
#pragma once

#include "platform/physicalkey.h"

namespace clavora::platform {

struct InjectOptions {
    // A keypad key types its digit or operator whatever the Num Lock state. The lock is switched on for this one
    // event and back afterwards; no Num Lock key event is sent.
    bool keypadAsDigits = false;

    bool operator==(const InjectOptions&) const = default;
};

class IKeyInjector {
public:
    virtual ~IKeyInjector() = default;

    // Presses (`down`) or releases `key`. Returns false, having sent nothing, when there is no display or it cannot
    // take injected keys; callers may then fall back to delivering the key themselves. GUI thread; sends without
    // waiting for the server, so events leave in the order of the calls.
    virtual bool sendKey(PhysicalKey key, bool down, InjectOptions options = {}) = 0;
};

} // namespace clavora::platform
