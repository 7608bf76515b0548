// The master bus limiter.
#include "audio/limiter.h"

#include <algorithm>
#include <cmath>

namespace clavora::audio {

namespace {

// The gain reacts to a new peak at once (no look-ahead, which would delay every sound), holds for about two periods
// of a low tone so it does not ripple along the wave, and comes back up over a tenth of a second, a release short
// enough that a quiet sound after a burst is not pumped down for long.
constexpr double HoldSeconds = 0.02;
constexpr double ReleaseSeconds = 0.1;
// A broken decoder could hand out an absurd value; the envelope is not allowed to follow it so far that the mix
// stays muted for seconds.
constexpr float EnvelopeCeiling = 256.0f;

} // namespace

float limitedLevel(float level) {
    constexpr float T = Limiter::Threshold;
    if (level <= T) {
        return level;
    }
    const float over = (level - T) / (1.0f - T);
    return T + (1.0f - T) * over / (1.0f + over);
}

Limiter::Limiter(int sampleRate) {
    const double rate = sampleRate > 0 ? sampleRate : 44100;
    m_holdFrames = static_cast<int>(HoldSeconds * rate);
    m_release = static_cast<float>(std::exp(-1.0 / (ReleaseSeconds * rate)));
}

void Limiter::reset() {
    m_envelope = 0.0f;
    m_holdLeft = 0;
}

void Limiter::process(float* samples, int frames, int channels) {
    if (frames <= 0 || channels <= 0) {
        return;
    }
    for (int frame = 0; frame < frames; ++frame) {
        float* sample = samples + static_cast<size_t>(frame) * static_cast<size_t>(channels);
        float peak = 0.0f;
        for (int c = 0; c < channels; ++c) {
            peak = std::max(peak, std::fabs(sample[c]));
        }
        peak = std::min(peak, EnvelopeCeiling);
        if (peak >= m_envelope) {
            m_envelope = peak;
            m_holdLeft = m_holdFrames;
        } else if (m_holdLeft > 0) {
            --m_holdLeft;
        } else {
            m_envelope *= m_release;
        }
        if (m_envelope <= Threshold) {
            continue; // the common case: untouched
        }
        const float gain = limitedLevel(m_envelope) / m_envelope;
        for (int c = 0; c < channels; ++c) {
            // The clamp only ever acts on a value beyond the envelope's ceiling.
            sample[c] = std::clamp(sample[c] * gain, -1.0f, 1.0f);
        }
    }
}

} // namespace clavora::audio
