// A data source that decodes a sound file with FFmpeg, streaming from the file, resampled and channel-mapped to the
// output's format.
#pragma once

#include "audio/datasource.h"

#include <QString>

#include <memory>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

namespace clavora::audio {

class TFfmpegSource : public IDataSource {
public:
    // Opens Path (a local file; FFmpeg's other protocols are refused) and readies the decoder of its best audio
    // stream. Does only what is needed to tell whether the file can be played: the container is probed and the
    // decoder opened, nothing is decoded. Returns null, with the reason in Error, when the file is no audio FFmpeg
    // can decode. Any thread.
    static std::unique_ptr<TFfmpegSource> open(const QString& path, TAudioFormat output, QString* error = nullptr);

    ~TFfmpegSource() override;

    TAudioFormat format() const override { return FOutput; }
    int read(float* out, int frames) override;
    qint64 lengthFrames() const override;

private:
    TFfmpegSource() = default;
    bool decodeMore();
    bool convert(const AVFrame* frame);
    bool ensureResampler(const AVFrame* frame);

    struct TFormatCloser {
        void operator()(AVFormatContext* context) const;
    };
    struct TCodecCloser {
        void operator()(AVCodecContext* context) const;
    };
    struct TPacketFreer {
        void operator()(AVPacket* packet) const;
    };
    struct TFrameFreer {
        void operator()(AVFrame* frame) const;
    };
    struct TResamplerFreer {
        void operator()(SwrContext* context) const;
    };

    TAudioFormat FOutput;
    std::unique_ptr<AVFormatContext, TFormatCloser> FFormat;
    std::unique_ptr<AVCodecContext, TCodecCloser> FCodec;
    std::unique_ptr<AVPacket, TPacketFreer> FPacket;
    std::unique_ptr<AVFrame, TFrameFreer> FFrame;
    std::unique_ptr<SwrContext, TResamplerFreer> FResampler;
    int FStreamIndex = -1;
    // Converted frames not yet handed out, and how many of them were.
    std::vector<float> FPending;
    size_t FPendingFrames = 0;
    size_t FPendingRead = 0;
    bool FInputDone = false;   // no more packets: the decoder has been told to drain
    bool FDecoderDone = false; // the decoder is drained: only the resampler's tail remains
    bool FFinished = false;
    // The input the resampler was built for.
    int FInputRate = 0;
    int FInputFormat = -1;
    int FInputChannels = 0;
};

} // namespace clavora::audio
