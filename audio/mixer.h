// The mixer: a pure function from the pieces of audio the playing streams offer for one device period to the
// samples handed on to the limiter and the device. No state, no I/O, no allocation, so it runs on the audio thread and
// in tests alike.
#pragma once

#include <QtGlobal>

#include <cstddef>

namespace clavora::audio {

// A piece of interleaved audio in the output's channel layout, placed `offset` frames into the output period, at
// its stream's own gain (1 unchanged).
struct MixInput {
    const float* samples = nullptr;
    int frames = 0;
    int offset = 0;
    float gain = 1.0f;
};

// Master gain per channel, 0 (silent) to 65535 (unchanged), as the platform's volume control counts it.
struct MasterGain {
    quint16 left = 65535;
    quint16 right = 65535;
};

// Writes `frames` frames of `channels` interleaved samples to `out`: the sum of every input (each at its gain,
// added from its offset, inputs reaching past the period are cut), multiplied by the master gain (even channels follow
// `left`, odd channels `right`, a mono output follows `left`). The sum is not cut at full scale: the limiter that
// follows brings it into range without flat tops. A sample that is not a finite number comes out as silence, so a
// broken input can never produce a loud burst. Frames not covered by any input are silent.
void mixStreams(float* out, int frames, int channels, const MixInput* inputs, size_t inputCount, MasterGain gain);

} // namespace clavora::audio
