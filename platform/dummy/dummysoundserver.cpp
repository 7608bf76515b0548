// No sound server is known on a system without an implementation of its own.
#include "platform/soundserver.h"

namespace clavora::platform {

SoundServerInfo querySoundServer(std::chrono::milliseconds) {
    return {};
}

} // namespace clavora::platform
