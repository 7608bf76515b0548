// The limiter on the master bus: many sounds played over each other add up far beyond full scale, and cutting the
// sum off at full scale (a flat top) is heard as a harsh crackle. The limiter turns the whole mix down instead, as
// smoothly as it can, and leaves audio that stays below its threshold untouched, sample for sample.
#pragma once

namespace clavora::audio {

class Limiter {
public:
    // Level up to which samples pass unchanged: about -0.9 dBFS, so a single sound made at a sensible level is
    // never touched, while there is still room above it for a soft knee below full scale.
    static constexpr float Threshold = 0.9f;

    // `sampleRate` sets how many frames the hold and the release last.
    explicit Limiter(int sampleRate = 44100);

    // Forgets the level of earlier audio.
    void reset();

    // Limits `frames` interleaved frames of `channels` samples in place. The samples must be finite (the mixer sees
    // to that). All channels of a frame get one gain, so the stereo image stays where it is. Never allocates, never
    // blocks: runs on the audio thread.
    void process(float* samples, int frames, int channels);

    // The peak level the gain currently follows (the envelope); at or below Threshold nothing is changed.
    float envelope() const { return m_envelope; }

private:
    float m_envelope = 0.0f;
    int m_holdLeft = 0;
    int m_holdFrames = 0;
    float m_release = 0.0f;
};

// The level a peak of `level` (>= 0) is brought to: itself up to Limiter::Threshold; above it a curve that starts
// with slope 1 and keeps rising towards full scale without reaching it, so two different peaks never come out as
// the same value and a louder peak always comes out louder.
float limitedLevel(float level);

} // namespace clavora::audio
