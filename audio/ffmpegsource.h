// A data source that decodes a sound file with FFmpeg, streaming from the file, resampled and channel-mapped to the
// output's format.
#pragma once

#include "audio/datasource.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace clavora::platform {
class IFileSystem;
}

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

namespace clavora::audio {

class FfmpegSource : public IDataSource {
public:
    // Opens `path` (a local file; FFmpeg's other protocols are refused) and readies the decoder of its best audio
    // stream. Does only what is needed to tell whether the file can be played: the container is probed and the
    // decoder opened, nothing is decoded. Returns null, with the reason in `error`, when the file is no audio FFmpeg
    // can decode. Any thread. A mono file comes out at full level on every output channel; a file with more
    // channels than the output is folded down scaled so that the fold cannot exceed the loudest input.
    // Only the demuxers of audio formats are tried, whatever the file's name, and the file alone is read: a playlist
    // or a file that names others is no sound. A FIFO, a device or a file whose read would wait is refused at once.
    // `cancelled`, when set, is asked while the file is read, here and in read(): once it says true, opening and
    // decoding stop as if the file had ended.
    static std::unique_ptr<FfmpegSource> open(platform::IFileSystem& files, const QString& path, AudioFormat output,
                                              QString* error = nullptr, std::function<bool()> cancelled = {});

    ~FfmpegSource() override;

    AudioFormat format() const override { return m_output; }
    int read(float* out, int frames) override;
    qint64 lengthFrames() const override;

private:
    FfmpegSource() = default;
    bool decodeMore();
    bool convert(const AVFrame* frame);
    bool ensureResampler(const AVFrame* frame);

    struct Input;
    struct InputCloser {
        void operator()(Input* input) const;
    };
    struct FormatCloser {
        void operator()(AVFormatContext* context) const;
    };
    struct CodecCloser {
        void operator()(AVCodecContext* context) const;
    };
    struct PacketFreer {
        void operator()(AVPacket* packet) const;
    };
    struct FrameFreer {
        void operator()(AVFrame* frame) const;
    };
    struct ResamplerFreer {
        void operator()(SwrContext* context) const;
    };

    AudioFormat m_output;
    // Declared before the demuxer, which reads through it and so must go first.
    std::unique_ptr<Input, InputCloser> m_input;
    std::unique_ptr<AVFormatContext, FormatCloser> m_format;
    std::unique_ptr<AVCodecContext, CodecCloser> m_codec;
    std::unique_ptr<AVPacket, PacketFreer> m_packet;
    std::unique_ptr<AVFrame, FrameFreer> m_frame;
    std::unique_ptr<SwrContext, ResamplerFreer> m_resampler;
    int m_streamIndex = -1;
    // Converted frames not yet handed out, and how many of them were.
    std::vector<float> m_pending;
    size_t m_pendingFrames = 0;
    size_t m_pendingRead = 0;
    bool m_inputDone = false;   // no more packets: the decoder has been told to drain
    bool m_decoderDone = false; // the decoder is drained: only the resampler's tail remains
    bool m_finished = false;
    // The input the resampler was built for.
    int m_inputRate = 0;
    int m_inputFormat = -1;
    int m_inputChannels = 0;
};

} // namespace clavora::audio
