// A data source over FFmpeg's demuxers, decoders and resampler.
#include "audio/ffmpegsource.h"

#include "platform/filesystem.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
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

// Rates of real audio lie well inside these. The resampler's work and memory grow with the ratio to the output's
// rate: a file that claims hundreds of megahertz takes seconds and gigabytes to convert one block, one that claims a
// few hertz turns each block into millions of frames.
constexpr int MinInputRate = 1000;
constexpr int MaxInputRate = 768000;

bool isPlayableRate(int rate) {
    return rate >= MinInputRate && rate <= MaxInputRate;
}

// The demuxers a sound file may be read with: containers of audio only, or of audio beside other streams. Left out
// are the playlists (concat, HLS, DASH...), which open the files they name, the image and subtitle readers, the
// devices, and raw PCM guessed from nothing. A demuxer recognises its files by their content, whatever their name.
constexpr char AudioDemuxers[] = "aac,ac3,aiff,amr,amrnb,amrwb,ape,asf,au,caf,dts,dsf,eac3,flac,gsm,matroska,webm,"
                                 "mov,mp4,m4a,3gp,3g2,mj2,mp3,mpc,mpc8,ogg,shn,sox,tak,truehd,mlp,tta,voc,w64,wav,"
                                 "wsaud,wv,xwma,avi,rm,mpeg,ircam,nistsphere,sln,qcp,dfpwm";
constexpr int IoBufferBytes = 32 * 1024;

// FFmpeg's own chatter ("estimating duration from bitrate") is of no use to the user; real failures are reported
// by the caller.
void quietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

} // namespace

// The file under the demuxer: opened by the source itself, so that nothing but the one regular file is ever read.
struct FfmpegSource::Input {
    std::unique_ptr<platform::ReadableFile> file;
    std::function<bool()> cancelled;
    AVIOContext* io = nullptr;

    ~Input() {
        if (io != nullptr) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }

    bool cancelRequested() const { return cancelled && cancelled(); }

    static int read(void* opaque, uint8_t* buffer, int size) {
        auto* input = static_cast<Input*>(opaque);
        if (input->cancelRequested()) {
            return AVERROR_EXIT;
        }
        const qint64 got = input->file->read(reinterpret_cast<char*>(buffer), size);
        if (got > 0) {
            return static_cast<int>(got);
        }
        return got == 0 ? AVERROR_EOF : AVERROR(int(-got));
    }

    static int64_t seek(void* opaque, int64_t offset, int whence) {
        auto* input = static_cast<Input*>(opaque);
        if (whence == AVSEEK_SIZE) {
            const qint64 size = input->file->size();
            return size < 0 ? AVERROR(int(-size)) : int64_t(size);
        }
        using From = platform::ReadableFile::From;
        const int how = whence & ~AVSEEK_FORCE;
        const From from = how == SEEK_SET ? From::Start : how == SEEK_CUR ? From::Current : From::End;
        const qint64 position = input->file->seek(offset, from);
        return position < 0 ? AVERROR(int(-position)) : int64_t(position);
    }

    static int interrupt(void* opaque) { return static_cast<const Input*>(opaque)->cancelRequested() ? 1 : 0; }

    // A demuxer that asks to open another file (a playlist's entries, a reference to outside media) is refused.
    static int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
        return AVERROR(EPERM);
    }
};

void FfmpegSource::FormatCloser::operator()(AVFormatContext* context) const {
    avformat_close_input(&context);
}
void FfmpegSource::InputCloser::operator()(Input* input) const {
    delete input;
}
void FfmpegSource::CodecCloser::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void FfmpegSource::PacketFreer::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}
void FfmpegSource::FrameFreer::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void FfmpegSource::ResamplerFreer::operator()(SwrContext* context) const {
    swr_free(&context);
}

FfmpegSource::~FfmpegSource() = default;

std::unique_ptr<FfmpegSource> FfmpegSource::open(platform::IFileSystem& files, const QString& path, AudioFormat output,
                                                 QString* error, std::function<bool()> cancelled) {
    quietFfmpegLog();
    if (output.sampleRate <= 0 || output.channels <= 0) {
        setError(error, QStringLiteral("invalid output format"));
        return nullptr;
    }
    std::unique_ptr<FfmpegSource> source(new FfmpegSource());
    source->m_output = output;

    // The file is opened here, never by FFmpeg: a stored path such as "http://..." or "pipe:0" is a file name and
    // nothing else, a FIFO or a device is refused before anything reads it, and a read that would wait is refused.
    source->m_input.reset(new Input());
    Input& input = *source->m_input;
    input.cancelled = std::move(cancelled);
    platform::OpenedFile opened = files.openForReading(path);
    if (!opened.file) {
        setError(error, opened.error == platform::FileMapping::NotRegularFile
                            ? QStringLiteral("not a regular file")
                            : QString::fromLocal8Bit(std::strerror(opened.error)));
        return nullptr;
    }
    input.file = std::move(opened.file);
    auto* buffer = static_cast<unsigned char*>(av_malloc(IoBufferBytes));
    if (buffer != nullptr) {
        input.io = avio_alloc_context(buffer, IoBufferBytes, 0, &input, &Input::read, nullptr, &Input::seek);
    }
    if (input.io == nullptr) {
        av_free(buffer);
        setError(error, QStringLiteral("out of memory"));
        return nullptr;
    }
    AVFormatContext* format = avformat_alloc_context();
    if (format == nullptr) {
        setError(error, QStringLiteral("out of memory"));
        return nullptr;
    }
    format->pb = input.io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->interrupt_callback = AVIOInterruptCB{&Input::interrupt, &input};
    format->io_open = &Input::refuseNestedOpen;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", AudioDemuxers, 0);
    // Nothing but the file itself, should a demuxer still try to reach another through its own means.
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    // Bounds on how much of a file is searched before it counts as no sound: FFmpeg's own defaults (1 MiB for the
    // container, 5 MB or 5 s and 2,500 packets for the stream details) cost tens of milliseconds on a file of random
    // bytes, for nothing. A real sound file tells what it is in its first kilobytes; 64 KiB still covers the
    // demuxers that search a while for a sync word. The packet bound also ends the check of a PCM WAV file for
    // other codecs hidden in it, which otherwise made its first read take 5 to 12 ms (time to first audio) instead
    // of about one.
    av_dict_set(&options, "formatprobesize", "65536", 0);
    av_dict_set(&options, "probesize", "262144", 0);
    av_dict_set(&options, "analyzeduration", "1000000", 0);
    av_dict_set(&options, "max_probe_packets", "8", 0);
    // The name only helps the probe (an MP3 file behind a large tag is told by its extension); it is never opened.
    const QByteArray url = QFile::encodeName(path);
    int result = avformat_open_input(&format, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        // avformat_open_input freed the context; the I/O context is ours.
        setError(error, ffmpegError(result));
        return nullptr;
    }
    source->m_format.reset(format);

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
    // Zero: the rate is not known before decoding; the resampler checks it then.
    if (stream->codecpar->sample_rate != 0 && !isPlayableRate(stream->codecpar->sample_rate)) {
        setError(error, QStringLiteral("unsupported sample rate %1 Hz").arg(stream->codecpar->sample_rate));
        return nullptr;
    }
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) {
        setError(error, QStringLiteral("no decoder for this format"));
        return nullptr;
    }
    source->m_codec.reset(avcodec_alloc_context3(codec));
    source->m_packet.reset(av_packet_alloc());
    source->m_frame.reset(av_frame_alloc());
    if (!source->m_codec || !source->m_packet || !source->m_frame) {
        setError(error, QStringLiteral("out of memory"));
        return nullptr;
    }
    result = avcodec_parameters_to_context(source->m_codec.get(), stream->codecpar);
    if (result >= 0) {
        source->m_codec->pkt_timebase = stream->time_base;
        result = avcodec_open2(source->m_codec.get(), codec, nullptr);
    }
    if (result < 0) {
        setError(error, ffmpegError(result));
        return nullptr;
    }
    source->m_streamIndex = index;
    return source;
}

qint64 FfmpegSource::lengthFrames() const {
    const AVStream* stream = m_format->streams[m_streamIndex];
    if (stream->duration > 0) {
        return av_rescale_q(stream->duration, stream->time_base, AVRational{1, m_output.sampleRate});
    }
    if (m_format->duration > 0) {
        return av_rescale(m_format->duration, m_output.sampleRate, AV_TIME_BASE);
    }
    return -1;
}

int FfmpegSource::read(float* out, int frames) {
    int done = 0;
    while (done < frames) {
        if (m_pendingRead < m_pendingFrames) {
            const size_t count = std::min(m_pendingFrames - m_pendingRead, static_cast<size_t>(frames - done));
            const size_t channels = static_cast<size_t>(m_output.channels);
            std::memcpy(out + static_cast<size_t>(done) * channels, m_pending.data() + m_pendingRead * channels,
                        count * channels * sizeof(float));
            m_pendingRead += count;
            done += static_cast<int>(count);
            continue;
        }
        if (m_finished || !decodeMore()) {
            m_finished = true;
            break;
        }
    }
    return done;
}

// Decodes until some converted frames are pending. False once everything, the resampler's tail included, is out.
bool FfmpegSource::decodeMore() {
    m_pendingFrames = 0;
    m_pendingRead = 0;
    int failures = 0;
    while (m_pendingFrames == 0) {
        if (m_decoderDone) {
            // The resampler holds back a few frames for its filter; they are the last of the sound.
            return m_resampler && convert(nullptr) && m_pendingFrames > 0;
        }
        int result = avcodec_receive_frame(m_codec.get(), m_frame.get());
        if (result == 0) {
            const bool converted = convert(m_frame.get());
            av_frame_unref(m_frame.get());
            if (!converted) {
                return false;
            }
            continue;
        }
        if (result == AVERROR_EOF || (result < 0 && m_inputDone)) {
            m_decoderDone = true;
            continue;
        }
        if (result != AVERROR(EAGAIN)) {
            // A damaged stretch costs its own frames only; a file that is nothing but damage ends instead of spinning.
            if (++failures > 1000) {
                return false;
            }
            continue;
        }
        result = av_read_frame(m_format.get(), m_packet.get());
        if (result < 0) {
            avcodec_send_packet(m_codec.get(), nullptr);
            m_inputDone = true;
            continue;
        }
        if (m_packet->stream_index == m_streamIndex) {
            result = avcodec_send_packet(m_codec.get(), m_packet.get());
            if (result < 0 && result != AVERROR(EAGAIN) && ++failures > 1000) {
                av_packet_unref(m_packet.get());
                return false;
            }
        }
        av_packet_unref(m_packet.get());
    }
    return true;
}

bool FfmpegSource::ensureResampler(const AVFrame* frame) {
    // Some files change rate or channels midway (chained Ogg, odd MP3s): the resampler follows, losing only the few
    // frames it held back.
    if (m_resampler && frame->sample_rate == m_inputRate && frame->format == m_inputFormat &&
        frame->ch_layout.nb_channels == m_inputChannels) {
        return true;
    }
    m_resampler.reset();
    if (!isPlayableRate(frame->sample_rate)) {
        return false;
    }
    m_inputRate = frame->sample_rate;
    m_inputFormat = frame->format;
    m_inputChannels = frame->ch_layout.nb_channels;
    AVChannelLayout input{};
    if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_copy(&input, &frame->ch_layout);
    } else {
        const int channels =
            frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : m_codec->ch_layout.nb_channels;
        av_channel_layout_default(&input, channels);
    }
    const int inputChannels = input.nb_channels;
    AVChannelLayout output{};
    av_channel_layout_default(&output, m_output.channels);
    SwrContext* resampler = nullptr;
    int result = swr_alloc_set_opts2(&resampler, &output, AV_SAMPLE_FMT_FLT, m_output.sampleRate, &input,
                                     static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&input);
    av_channel_layout_uninit(&output);
    if (result < 0 || resampler == nullptr) {
        swr_free(&resampler);
        return false;
    }
    // A mono file is one voice meant for both ears: each output channel gets it whole. (The resampler's own choice
    // treats it as a centre speaker and lowers it by 3 dB.)
    if (inputChannels == 1) {
        const std::vector<double> matrix(static_cast<size_t>(m_output.channels), 1.0);
        swr_set_matrix(resampler, matrix.data(), 1);
    }
    // Folding more channels into fewer sums them; scaled so no output channel can exceed the loudest input, a
    // surround file does not clip where its stereo version would not. (A float output is not scaled by default.)
    av_opt_set_double(resampler, "rematrix_maxval", 1.0, 0);
    m_resampler.reset(resampler);
    return swr_init(resampler) >= 0;
}

bool FfmpegSource::convert(const AVFrame* frame) {
    if (frame != nullptr && (frame->nb_samples <= 0 || !ensureResampler(frame))) {
        return frame != nullptr && frame->nb_samples <= 0;
    }
    const int capacity = swr_get_out_samples(m_resampler.get(), frame != nullptr ? frame->nb_samples : 0);
    if (capacity < 0) {
        return false;
    }
    const size_t needed = static_cast<size_t>(capacity) * static_cast<size_t>(m_output.channels);
    if (m_pending.size() < needed) {
        m_pending.resize(needed);
    }
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(m_pending.data())};
    const int converted = swr_convert(m_resampler.get(), out, capacity,
                                      frame != nullptr ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                                      frame != nullptr ? frame->nb_samples : 0);
    if (converted < 0) {
        return false;
    }
    // A float file may hold NaN or infinity (a damaged or hostile file, or a broken encoder); passed on, one such
    // sample would silence or max out everything mixed with it. Silence costs only the samples themselves.
    const size_t count = static_cast<size_t>(converted) * static_cast<size_t>(m_output.channels);
    for (size_t i = 0; i < count; ++i) {
        if (!std::isfinite(m_pending[i])) {
            m_pending[i] = 0.0f;
        }
    }
    m_pendingFrames = static_cast<size_t>(converted);
    m_pendingRead = 0;
    return true;
}

} // namespace clavora::audio
