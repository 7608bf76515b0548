// The mixer.
#include "audio/mixer.h"

#include <algorithm>
#include <cstring>

namespace clavora::audio {

void MixStreams(float* out, int frames, int channels, const TMixInput* inputs, size_t inputCount, TMasterGain gain) {
    if (frames <= 0 || channels <= 0) {
        return;
    }
    const size_t total = static_cast<size_t>(frames) * static_cast<size_t>(channels);
    std::memset(out, 0, total * sizeof(float));

    for (size_t i = 0; i < inputCount; ++i) {
        const TMixInput& input = inputs[i];
        if (input.Samples == nullptr || input.Offset < 0 || input.Offset >= frames || input.Frames <= 0) {
            continue;
        }
        const int count = std::min(input.Frames, frames - input.Offset);
        float* target = out + static_cast<size_t>(input.Offset) * static_cast<size_t>(channels);
        const size_t samples = static_cast<size_t>(count) * static_cast<size_t>(channels);
        for (size_t s = 0; s < samples; ++s) {
            target[s] += input.Samples[s];
        }
    }

    const float left = static_cast<float>(gain.Left) / 65535.0f;
    const float right = channels == 1 ? left : static_cast<float>(gain.Right) / 65535.0f;
    const float gains[2] = {left, right};
    for (size_t frame = 0; frame < static_cast<size_t>(frames); ++frame) {
        float* sample = out + frame * static_cast<size_t>(channels);
        for (int c = 0; c < channels; ++c) {
            float value = sample[c] * gains[c & 1];
            if (value > 1.0f) {
                value = 1.0f;
            } else if (value < -1.0f) {
                value = -1.0f;
            } else if (value != value) {
                value = 0.0f;
            }
            sample[c] = value;
        }
    }
}

} // namespace clavora::audio
