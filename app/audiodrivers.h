// Which of SDL's audio drivers the program asks for, by the sound server that answers.
#pragma once

#include "platform/soundserver.h"

#include <QByteArray>

namespace clavora {

// SDL's own PipeWire driver where PipeWire plays, falling back on the PulseAudio one. PipeWire's PulseAudio interface
// holds three of its minimum requests ahead of any client (about 16 ms at 48 kHz), where PipeWire's own interface
// runs at the period the program asks for. Only with a session manager: without one, SDL's PipeWire driver waits
// for ever for its stream to be linked. Empty (SDL's own order) for anything else.
QByteArray preferredAudioDrivers(const platform::SoundServerInfo& server);

} // namespace clavora
