// The data-source interface every decoder sits behind: the engine and the tests pull float frames from it without
// knowing where they come from.
#pragma once

#include <QtGlobal>

namespace clavora::audio {

// Sample rate and channel count of interleaved 32-bit float audio.
struct AudioFormat {
    int sampleRate = 0;
    int channels = 0;
};

class IDataSource {
public:
    virtual ~IDataSource() = default;

    // The format read() delivers. Fixed for the source's life.
    virtual AudioFormat format() const = 0;

    // Writes up to `frames` interleaved frames to `out` and returns how many were written; fewer than asked only at the
    // end of the audio, 0 once the end is reached (also after a decoding error that ends the stream). May block on
    // file I/O and decoding: never call it on the audio thread.
    virtual int read(float* out, int frames) = 0;

    // Length in frames of format(), or -1 when unknown (an estimate for formats that do not store it).
    virtual qint64 lengthFrames() const = 0;
};

} // namespace clavora::audio
