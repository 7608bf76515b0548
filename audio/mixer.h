// The mixer: a pure function from the pieces of audio the playing streams offer for one device period to the
// samples handed to the device. No state, no I/O, no allocation, so it runs on the audio thread and in tests alike.
#pragma once

#include <QtGlobal>

#include <cstddef>

namespace clavora::audio {

// A piece of interleaved audio in the output's channel layout, placed Offset frames into the output period.
struct TMixInput {
    const float* Samples = nullptr;
    int Frames = 0;
    int Offset = 0;
};

// Master gain per channel, 0 (silent) to 65535 (unchanged), as the platform's volume control counts it.
struct TMasterGain {
    quint16 Left = 65535;
    quint16 Right = 65535;
};

// Writes Frames frames of Channels interleaved samples to Out: the sum of every input (each added from its offset,
// inputs reaching past the period are cut), multiplied by the master gain (even channels follow Left, odd channels
// Right, a mono output follows Left), then limited to [-1, 1]. A sum beyond the range is held at the limit rather
// than wrapped, and a sample that is not a number comes out as silence, so a broken input can never produce a loud
// burst. Frames not covered by any input are silent.
void MixStreams(float* out, int frames, int channels, const TMixInput* inputs, size_t inputCount, TMasterGain gain);

} // namespace clavora::audio
