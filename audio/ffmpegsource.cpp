// A data source over FFmpeg's demuxers, decoders and resampler.
#include "audio/ffmpegsource.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace clavora::audio {

namespace {

QString ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return QString::fromUtf8(text);
}

void setError(QString* error, const QString& text) {
    if (error != nullptr) {
        *error = text;
    }
}

// FFmpeg's own chatter ("estimating duration from bitrate") is of no use to the user; real failures are reported
// by the caller.
void quietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

} // namespace

void TFfmpegSource::TFormatCloser::operator()(AVFormatContext* context) const {
    avformat_close_input(&context);
}
void TFfmpegSource::TCodecCloser::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void TFfmpegSource::TPacketFreer::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}
void TFfmpegSource::TFrameFreer::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void TFfmpegSource::TResamplerFreer::operator()(SwrContext* context) const {
    swr_free(&context);
}

TFfmpegSource::~TFfmpegSource() = default;

std::unique_ptr<TFfmpegSource> TFfmpegSource::open(const QString& path, TAudioFormat output, QString* error) {
    quietFfmpegLog();
    if (output.SampleRate <= 0 || output.Channels <= 0) {
        setError(error, QStringLiteral("invalid output format"));
        return nullptr;
    }
    std::unique_ptr<TFfmpegSource> source(new TFfmpegSource());
    source->FOutput = output;

    // The "file:" prefix and the whitelist keep a stored path such as "http://..." or "pipe:0" from ever reaching
    // another protocol: a key binding names a local file and nothing else.
    const QByteArray url = QByteArrayLiteral("file:") + QFile::encodeName(path);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* format = nullptr;
    int result = avformat_open_input(&format, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        setError(error, ffmpegError(result));
        return nullptr;
    }
    source->FFormat.reset(format);

    // Analysing the stream decodes packets, which is what makes opening slow; when the header has already named the
    // codec the decoder finds rate and channels in the stream itself, so the analysis is left out.
    int index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) {
        // The best-stream choice passes over audio whose rate is not known yet; the first named audio stream will do.
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVCodecParameters* parameters = format->streams[i]->codecpar;
            if (parameters->codec_type == AVMEDIA_TYPE_AUDIO && parameters->codec_id != AV_CODEC_ID_NONE) {
                index = static_cast<int>(i);
                break;
            }
        }
    }
    if (index < 0) {
        result = avformat_find_stream_info(format, nullptr);
        if (result < 0) {
            setError(error, ffmpegError(result));
            return nullptr;
        }
        index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    }
    if (index < 0) {
        setError(error, QStringLiteral("no audio stream"));
        return nullptr;
    }
    // Only the chosen stream's packets are wanted; the demuxer may skip the rest.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        format->streams[i]->discard = static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    AVStream* stream = format->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) {
        setError(error, QStringLiteral("no decoder for this format"));
        return nullptr;
    }
    source->FCodec.reset(avcodec_alloc_context3(codec));
    source->FPacket.reset(av_packet_alloc());
    source->FFrame.reset(av_frame_alloc());
    if (!source->FCodec || !source->FPacket || !source->FFrame) {
        setError(error, QStringLiteral("out of memory"));
        return nullptr;
    }
    result = avcodec_parameters_to_context(source->FCodec.get(), stream->codecpar);
    if (result >= 0) {
        source->FCodec->pkt_timebase = stream->time_base;
        result = avcodec_open2(source->FCodec.get(), codec, nullptr);
    }
    if (result < 0) {
        setError(error, ffmpegError(result));
        return nullptr;
    }
    source->FStreamIndex = index;
    return source;
}

qint64 TFfmpegSource::lengthFrames() const {
    const AVStream* stream = FFormat->streams[FStreamIndex];
    if (stream->duration > 0) {
        return av_rescale_q(stream->duration, stream->time_base, AVRational{1, FOutput.SampleRate});
    }
    if (FFormat->duration > 0) {
        return av_rescale(FFormat->duration, FOutput.SampleRate, AV_TIME_BASE);
    }
    return -1;
}

int TFfmpegSource::read(float* out, int frames) {
    int done = 0;
    while (done < frames) {
        if (FPendingRead < FPendingFrames) {
            const size_t count = std::min(FPendingFrames - FPendingRead, static_cast<size_t>(frames - done));
            const size_t channels = static_cast<size_t>(FOutput.Channels);
            std::memcpy(out + static_cast<size_t>(done) * channels, FPending.data() + FPendingRead * channels,
                        count * channels * sizeof(float));
            FPendingRead += count;
            done += static_cast<int>(count);
            continue;
        }
        if (FFinished || !decodeMore()) {
            FFinished = true;
            break;
        }
    }
    return done;
}

// Decodes until some converted frames are pending. False once everything, the resampler's tail included, is out.
bool TFfmpegSource::decodeMore() {
    FPendingFrames = 0;
    FPendingRead = 0;
    int failures = 0;
    while (FPendingFrames == 0) {
        if (FDecoderDone) {
            // The resampler holds back a few frames for its filter; they are the last of the sound.
            return FResampler && convert(nullptr) && FPendingFrames > 0;
        }
        int result = avcodec_receive_frame(FCodec.get(), FFrame.get());
        if (result == 0) {
            const bool converted = convert(FFrame.get());
            av_frame_unref(FFrame.get());
            if (!converted) {
                return false;
            }
            continue;
        }
        if (result == AVERROR_EOF || (result < 0 && FInputDone)) {
            FDecoderDone = true;
            continue;
        }
        if (result != AVERROR(EAGAIN)) {
            // A damaged stretch costs its own frames only; a file that is nothing but damage ends instead of spinning.
            if (++failures > 1000) {
                return false;
            }
            continue;
        }
        result = av_read_frame(FFormat.get(), FPacket.get());
        if (result < 0) {
            avcodec_send_packet(FCodec.get(), nullptr);
            FInputDone = true;
            continue;
        }
        if (FPacket->stream_index == FStreamIndex) {
            result = avcodec_send_packet(FCodec.get(), FPacket.get());
            if (result < 0 && result != AVERROR(EAGAIN) && ++failures > 1000) {
                av_packet_unref(FPacket.get());
                return false;
            }
        }
        av_packet_unref(FPacket.get());
    }
    return true;
}

bool TFfmpegSource::ensureResampler(const AVFrame* frame) {
    // Some files change rate or channels midway (chained Ogg, odd MP3s): the resampler follows, losing only the few
    // frames it held back.
    if (FResampler && frame->sample_rate == FInputRate && frame->format == FInputFormat &&
        frame->ch_layout.nb_channels == FInputChannels) {
        return true;
    }
    FResampler.reset();
    FInputRate = frame->sample_rate;
    FInputFormat = frame->format;
    FInputChannels = frame->ch_layout.nb_channels;
    AVChannelLayout input{};
    if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_copy(&input, &frame->ch_layout);
    } else {
        const int channels =
            frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : FCodec->ch_layout.nb_channels;
        av_channel_layout_default(&input, channels);
    }
    AVChannelLayout output{};
    av_channel_layout_default(&output, FOutput.Channels);
    SwrContext* resampler = nullptr;
    int result = swr_alloc_set_opts2(&resampler, &output, AV_SAMPLE_FMT_FLT, FOutput.SampleRate, &input,
                                     static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&input);
    av_channel_layout_uninit(&output);
    if (result < 0 || resampler == nullptr) {
        swr_free(&resampler);
        return false;
    }
    FResampler.reset(resampler);
    return swr_init(resampler) >= 0;
}

bool TFfmpegSource::convert(const AVFrame* frame) {
    if (frame != nullptr && (frame->nb_samples <= 0 || !ensureResampler(frame))) {
        return frame != nullptr && frame->nb_samples <= 0;
    }
    const int capacity = swr_get_out_samples(FResampler.get(), frame != nullptr ? frame->nb_samples : 0);
    if (capacity < 0) {
        return false;
    }
    const size_t needed = static_cast<size_t>(capacity) * static_cast<size_t>(FOutput.Channels);
    if (FPending.size() < needed) {
        FPending.resize(needed);
    }
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(FPending.data())};
    const int converted = swr_convert(FResampler.get(), out, capacity,
                                      frame != nullptr ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                                      frame != nullptr ? frame->nb_samples : 0);
    if (converted < 0) {
        return false;
    }
    FPendingFrames = static_cast<size_t>(converted);
    FPendingRead = 0;
    return true;
}

} // namespace clavora::audio
