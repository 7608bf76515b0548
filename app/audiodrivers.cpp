// Which of SDL's audio drivers the program asks for.
#include "app/audiodrivers.h"

namespace clavora {

QByteArray preferredAudioDrivers(const platform::SoundServerInfo& server) {
    if (server.answers && server.pipeWire && server.sessionManager) {
        return QByteArrayLiteral("pipewire,pulseaudio");
    }
    return {};
}

} // namespace clavora
