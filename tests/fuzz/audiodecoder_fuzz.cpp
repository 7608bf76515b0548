// Fuzz target: the audio decoder's open-and-decode path, as a bound sound file goes through it. The bytes are an
// in-memory file (memfd) that the decoder opens by its path, exactly as it opens a file on disk; the first byte picks
// the output format, so the resampler and the channel mapping are driven too. A file that opens is decoded up to a
// fixed amount of output, which must be finite samples.
#include "tests/fuzz/fuzzsupport.h"

#include "audio/ffmpegsource.h"
#include "platform/makeservices.h"

#include <array>
#include <cmath>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace clavora;
using namespace clavora::audio;

namespace {

constexpr std::array<AudioFormat, 6> Outputs = {
    AudioFormat{44100, 2}, AudioFormat{48000, 2}, AudioFormat{8000, 1},
    AudioFormat{44100, 1}, AudioFormat{96000, 6}, AudioFormat{22050, 3},
};
// Enough for a few seconds of any output: a tiny file may announce hours of audio.
constexpr int MaxFrames = 1 << 16;

// The system's files, as the program reads its sounds through them.
platform::IFileSystem& systemFiles() {
    static const std::unique_ptr<platform::Services> services = platform::makeServices(platform::Session());
    return services->fileSystem();
}

// One memory file for the whole run, rewritten for every input.
int memoryFile() {
    static const int fd = memfd_create("clavora-fuzz-sound", MFD_CLOEXEC);
    return fd;
}

bool fill(int fd, const uint8_t* data, size_t size) {
    if (ftruncate(fd, 0) != 0) {
        return false;
    }
    size_t written = 0;
    while (written < size) {
        const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
        if (n <= 0) {
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput input(data, size);
    const AudioFormat output = Outputs[input.takeByte() % Outputs.size()];
    const QByteArrayView file = input.rest();
    const int fd = memoryFile();
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(fill(fd, reinterpret_cast<const uint8_t*>(file.data()), static_cast<size_t>(file.size())));

    QString error;
    std::unique_ptr<FfmpegSource> source =
        FfmpegSource::open(systemFiles(), QStringLiteral("/proc/self/fd/%1").arg(fd), output, &error);
    if (!source) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    FUZZ_CHECK(source->format().sampleRate == output.sampleRate && source->format().channels == output.channels);
    source->lengthFrames();
    std::vector<float> buffer(static_cast<size_t>(4096 * output.channels));
    int total = 0;
    while (total < MaxFrames) {
        const int frames = source->read(buffer.data(), 4096);
        FUZZ_CHECK(frames >= 0 && frames <= 4096);
        if (frames == 0) {
            // The end stays the end.
            FUZZ_CHECK(source->read(buffer.data(), 4096) == 0);
            break;
        }
        for (size_t i = 0; i < static_cast<size_t>(frames * output.channels); ++i) {
            FUZZ_CHECK(std::isfinite(buffer[i]));
        }
        total += frames;
    }
    return 0;
}
