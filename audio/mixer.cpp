// The mixer.
#include "audio/mixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace clavora::audio {

void mixStreams(float* out, int frames, int channels, const MixInput* inputs, size_t inputCount, MasterGain gain) {
    if (frames <= 0 || channels <= 0) {
        return;
    }
    const size_t total = static_cast<size_t>(frames) * static_cast<size_t>(channels);
    std::memset(out, 0, total * sizeof(float));

    for (size_t i = 0; i < inputCount; ++i) {
        const MixInput& input = inputs[i];
        if (input.samples == nullptr || input.offset < 0 || input.offset >= frames || input.frames <= 0) {
            continue;
        }
        const int count = std::min(input.frames, frames - input.offset);
        float* target = out + static_cast<size_t>(input.offset) * static_cast<size_t>(channels);
        const size_t samples = static_cast<size_t>(count) * static_cast<size_t>(channels);
        if (input.gain == 1.0f) {
            for (size_t s = 0; s < samples; ++s) {
                target[s] += input.samples[s];
            }
        } else {
            for (size_t s = 0; s < samples; ++s) {
                target[s] += input.samples[s] * input.gain;
            }
        }
    }

    const float left = static_cast<float>(gain.left) / 65535.0f;
    const float right = channels == 1 ? left : static_cast<float>(gain.right) / 65535.0f;
    const float gains[2] = {left, right};
    for (size_t frame = 0; frame < static_cast<size_t>(frames); ++frame) {
        float* sample = out + frame * static_cast<size_t>(channels);
        for (int c = 0; c < channels; ++c) {
            float value = sample[c] * gains[c & 1];
            if (!std::isfinite(value)) {
                value = 0.0f;
            }
            sample[c] = value;
        }
    }
}

} // namespace clavora::audio
