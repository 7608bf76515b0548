// Decoding with FFmpeg: every format the key dialog offers comes out at the output's rate and channels, at the
// right pitch and length; files that are no audio are refused.
#include "audio/ffmpegsource.h"

#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/systemservices.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <atomic>
#include <cmath>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

using namespace clavora;
using namespace clavora::audio;
using clavora::test::TempFolder;

namespace {

constexpr double ToneFrequency = 1000.0;
constexpr double ToneSeconds = 0.5;
constexpr AudioFormat Output{48000, 2};

struct FormatCase {
    const char* name;
    QStringList encoder;
};

void PrintTo(const FormatCase& format, std::ostream* out) {
    *out << format.name;
}

class DecoderFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(DecoderFormatTest, ToneComesOutAtThePitchAndLengthItWasMadeWith) {
    TempFolder folder;
    const FormatCase& format = GetParam();
    const QString path =
        test::makeTone(folder.path(), QString::fromLatin1(format.name), format.encoder, ToneFrequency, ToneSeconds);
    ASSERT_FALSE(path.isEmpty()) << "ffmpeg could not make " << format.name;

    QString error;
    auto source = FfmpegSource::open(test::systemServices().fileSystem(), path, Output, &error);
    ASSERT_TRUE(source) << qPrintable(error);
    EXPECT_EQ(source->format().sampleRate, 48000);
    EXPECT_EQ(source->format().channels, 2);

    const auto audio = test::decodeAll(*source);
    for (int channel = 0; channel < 2; ++channel) {
        const auto mono = test::channelOf(audio, 2, channel);
        EXPECT_NEAR(test::estimateFrequency(mono, 48000), ToneFrequency, 2.0) << format.name << " channel " << channel;
        // Encoders add a little padding and lossy codecs smear the edges; 30 ms either way is plenty.
        EXPECT_NEAR(static_cast<double>(test::audibleFrames(mono)), ToneSeconds * 48000, 0.03 * 48000) << format.name;
        EXPECT_NEAR(test::peak(mono), 0.5, 0.1) << format.name;
    }
    if (source->lengthFrames() >= 0) {
        EXPECT_NEAR(static_cast<double>(source->lengthFrames()), ToneSeconds * 48000, 0.06 * 48000) << format.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DecoderFormatTest,
    ::testing::Values(
        FormatCase{"tone.wav", {}}, FormatCase{"tone.aiff", {}},
        FormatCase{"tone.mp3", {QStringLiteral("-c:a"), QStringLiteral("libmp3lame")}},
        FormatCase{"tone.mp2", {QStringLiteral("-c:a"), QStringLiteral("mp2")}},
        FormatCase{"tone.ogg", {QStringLiteral("-c:a"), QStringLiteral("libvorbis")}},
        FormatCase{"tone.opus",
                   {QStringLiteral("-c:a"), QStringLiteral("libopus"), QStringLiteral("-ar"), QStringLiteral("48000")}},
        FormatCase{"tone.flac", {}}, FormatCase{"tone.m4a", {QStringLiteral("-c:a"), QStringLiteral("aac")}},
        FormatCase{"tone-float.wav", {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")}},
        FormatCase{"tone-22k.wav", {QStringLiteral("-ar"), QStringLiteral("22050")}}),
    [](const ::testing::TestParamInfo<FormatCase>& tested) {
        QString name = QString::fromLatin1(tested.param.name);
        name.replace(QLatin1Char('.'), QLatin1Char('_')).replace(QLatin1Char('-'), QLatin1Char('_'));
        return name.toStdString();
    });

// No encoder at hand writes MPEG-1 Layer I, so the test builds one: mono 44.1 kHz frames at 384 kbit/s whose first
// subband holds a constant, which the decoder turns into a low, steady signal.
QByteArray layerOneFile(int frames) {
    QByteArray file;
    for (int f = 0; f < frames; ++f) {
        QByteArray frame(416, '\0');
        int bit = 0;
        auto put = [&](unsigned value, int bits) {
            for (int i = bits - 1; i >= 0; --i, ++bit) {
                if ((value >> i) & 1u) {
                    frame[bit / 8] = static_cast<char>(frame[bit / 8] | (0x80 >> (bit % 8)));
                }
            }
        };
        put(0xFFF, 12); // sync
        put(1, 1);      // MPEG-1
        put(3, 2);      // Layer I
        put(1, 1);      // no CRC
        put(12, 4);     // 384 kbit/s: 416-byte frames at 44.1 kHz
        put(0, 2);      // 44.1 kHz
        put(0, 2);      // no padding, private bit
        put(3, 2);      // mono
        put(0, 6);      // mode extension, copyright, original, emphasis
        put(3, 4);      // subband 0: 4 bits per sample
        for (int subband = 1; subband < 32; ++subband) {
            put(0, 4);
        }
        put(20, 6); // its scale factor
        for (int sample = 0; sample < 12; ++sample) {
            put(0xF, 4);
        }
        file += frame;
    }
    return file;
}

TEST(DecoderTest, MpegLayerOneIsDecoded) {
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("constant.mp1"));
    test::writeBytes(path, layerOneFile(100));
    QString error;
    auto source = FfmpegSource::open(test::systemServices().fileSystem(), path, AudioFormat{44100, 2}, &error);
    ASSERT_TRUE(source) << qPrintable(error);
    const auto audio = test::decodeAll(*source);
    // 384 samples a frame; the decoder may keep back or add a frame's worth at the ends.
    EXPECT_NEAR(static_cast<double>(audio.size() / 2), 100 * 384, 384 + 1);
    const auto left = test::channelOf(audio, 2, 0);
    EXPECT_GT(test::peak(left), 0.01f);
    EXPECT_EQ(left, test::channelOf(audio, 2, 1));
}

TEST(DecoderTest, MonoFileIsHeardAtFullLevelOnBothChannels) {
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("mono.wav"));
    const auto stereo = test::sineSamples16(440, 44100, 4410, 0.5);
    std::vector<qint16> mono;
    for (size_t i = 0; i < stereo.size(); i += 2) {
        mono.push_back(stereo[i]);
    }
    test::writeWav16(path, 44100, 1, mono);

    // At the file's own rate each channel carries the file's samples unchanged.
    auto source = FfmpegSource::open(test::systemServices().fileSystem(), path, AudioFormat{44100, 2});
    ASSERT_TRUE(source);
    const auto audio = test::decodeAll(*source);
    ASSERT_EQ(audio.size(), mono.size() * 2);
    for (size_t i = 0; i < mono.size(); ++i) {
        ASSERT_EQ(audio[2 * i], mono[i] / 32768.0f) << "left, frame " << i;
        ASSERT_EQ(audio[2 * i + 1], mono[i] / 32768.0f) << "right, frame " << i;
    }

    // Resampled, the level stays the same.
    auto resampled = FfmpegSource::open(test::systemServices().fileSystem(), path, Output);
    ASSERT_TRUE(resampled);
    const auto louder = test::decodeAll(*resampled);
    EXPECT_NEAR(test::peak(test::channelOf(louder, 2, 0)), 0.5f, 0.01f);
    EXPECT_EQ(test::channelOf(louder, 2, 0), test::channelOf(louder, 2, 1));
}

// A 5.1 file with the same wave on all six channels.
std::vector<qint16> sameOnSixChannels(const std::vector<qint16>& stereo) {
    std::vector<qint16> six;
    for (size_t i = 0; i < stereo.size(); i += 2) {
        six.insert(six.end(), 6, stereo[i]);
    }
    return six;
}

TEST(DecoderTest, SurroundFoldedToStereoIsNoLouderThanItsChannels) {
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("surround.wav"));
    const auto stereo = test::sineSamples16(440, 44100, 4410, 0.9);
    test::writeWav16(path, 44100, 6, sameOnSixChannels(stereo));
    auto source = FfmpegSource::open(test::systemServices().fileSystem(), path, AudioFormat{44100, 2});
    ASSERT_TRUE(source);
    const auto audio = test::decodeAll(*source);
    ASSERT_EQ(audio.size(), stereo.size());
    // Summed without scaling, six channels at 0.9 would reach twice full scale and clip in the mixer.
    for (size_t i = 0; i < stereo.size(); ++i) {
        ASSERT_NEAR(audio[i], stereo[i] / 32768.0f, 1e-5f) << "sample " << i;
    }
}

TEST(DecoderTest, SurroundFoldDownKeepsSides) {
    TempFolder folder;
    // 5.1 with the tone on the front left speaker only.
    const QString path = test::makeTone(folder.path(), QStringLiteral("surround.wav"),
                                        {QStringLiteral("-af"), QStringLiteral("pan=5.1|FL=c0")}, 440, 0.3, 0.5, 6);
    ASSERT_FALSE(path.isEmpty());
    auto source = FfmpegSource::open(test::systemServices().fileSystem(), path, Output);
    ASSERT_TRUE(source);
    const auto audio = test::decodeAll(*source);
    const auto left = test::channelOf(audio, 2, 0);
    EXPECT_NEAR(test::estimateFrequency(left, 48000), 440, 1.0);
    EXPECT_GT(test::peak(left), 0.1f);
    EXPECT_LE(test::peak(left), 0.51f);
    EXPECT_LT(test::peak(test::channelOf(audio, 2, 1)), 0.001f);
}

TEST(DecoderTest, PcmAtTheOutputRateIsPassedThroughExactly) {
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("exact.wav"));
    const auto samples = test::sineSamples16(1234, 44100, 5000, 0.7);
    test::writeWav16(path, 44100, 2, samples);
    auto source = FfmpegSource::open(test::systemServices().fileSystem(), path, AudioFormat{44100, 2});
    ASSERT_TRUE(source);
    const auto audio = test::decodeAll(*source);
    ASSERT_EQ(audio.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(audio[i], samples[i] / 32768.0f) << "sample " << i;
    }
}

TEST(DecoderTest, DamageInsideAFileCostsOnlyTheDamagedStretch) {
    TempFolder folder;
    // (FFmpeg's Ogg reader gives up at a damaged page, so Ogg is left out.)
    for (const char* name : {"damaged.mp3", "damaged.m4a", "damaged.mp2"}) {
        const QString path = test::makeTone(folder.path(), QString::fromLatin1(name), {}, 440, 2.0);
        ASSERT_FALSE(path.isEmpty());
        QByteArray bytes = test::readBytes(path);
        // A burst of noise over a few percent of the file, well past its headers.
        quint32 noise = 12345;
        for (qsizetype i = bytes.size() * 45 / 100; i < bytes.size() * 48 / 100; ++i) {
            noise = noise * 1103515245u + 12345u;
            bytes[i] = static_cast<char>(noise >> 24);
        }
        test::writeBytes(path, bytes);
        auto source = FfmpegSource::open(test::systemServices().fileSystem(), path, Output);
        ASSERT_TRUE(source) << name;
        const auto audio = test::decodeAll(*source);
        EXPECT_GT(test::audibleFrames(test::channelOf(audio, 2, 0)), 1.8 * 48000) << name;
    }
}

TEST(DecoderTest, FileNamesAreTakenLiterally) {
    TempFolder folder;
    const auto samples = test::sineSamples16(440, 44100, 4410, 0.5);
    // Characters a URL parser would treat specially, a leading dash, and text outside ASCII.
    for (const QString& name : {QStringLiteral("a:b?c=d#e%20f.wav"), QStringLiteral("-x.wav"),
                                QStringLiteral("Gr\u00FC\u00DFe \u266B.wav"), QStringLiteral("file:tone.wav")}) {
        const QString path = folder.file(name);
        test::writeWav16(path, 44100, 2, samples);
        auto source = FfmpegSource::open(test::systemServices().fileSystem(), path, AudioFormat{44100, 2});
        ASSERT_TRUE(source) << qPrintable(name);
        EXPECT_EQ(test::decodeAll(*source).size(), samples.size()) << qPrintable(name);
    }
}

TEST(DecoderTest, WhatIsNoAudioIsRefused) {
    TempFolder folder;
    const QString text = folder.file(QStringLiteral("notes.mp3"));
    test::writeBytes(text, QByteArray("These are not the sounds you are looking for.\n").repeated(50));
    const QString empty = folder.file(QStringLiteral("empty.wav"));
    test::writeBytes(empty, QByteArray());
    const QString truncated = folder.file(QStringLiteral("truncated.wav"));
    test::writeBytes(truncated, QByteArray("RIFF\x24\x00\x00\x00WAVEfmt ", 16));
    const QString sub = folder.file(QStringLiteral("folder.wav"));
    QDir().mkpath(sub);

    for (const QString& path : {text, empty, truncated, sub, folder.file(QStringLiteral("missing.wav"))}) {
        QString error;
        EXPECT_FALSE(FfmpegSource::open(test::systemServices().fileSystem(), path, Output, &error)) << qPrintable(path);
        EXPECT_FALSE(error.isEmpty()) << qPrintable(path);
    }
}

// The search for what a file holds is bounded far below FFmpeg's default, so a file of random bytes is given up
// quickly. Sounds whose start is not audio must still open: a large tag (cover art) before an MP3's first frame.
TEST(DecoderTest, LargeTagBeforeTheFirstFrameStillOpens) {
    TempFolder folder;
    const QString plain = test::makeTone(
        folder.path(), QStringLiteral("plain.mp3"),
        {QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-write_id3v2"), QStringLiteral("0")},
        ToneFrequency, ToneSeconds);
    ASSERT_FALSE(plain.isEmpty());
    // An ID3v2.3 tag of 300 KB of padding; its size is written in seven-bit bytes.
    constexpr int TagBytes = 300 * 1024;
    QByteArray tag("ID3\x03\x00\x00", 6);
    for (int shift = 21; shift >= 0; shift -= 7) {
        tag.append(static_cast<char>((TagBytes >> shift) & 0x7F));
    }
    tag.append(QByteArray(TagBytes, '\0'));
    const QString tagged = folder.file(QStringLiteral("tagged.mp3"));
    test::writeBytes(tagged, tag + test::readBytes(plain));

    auto reference = FfmpegSource::open(test::systemServices().fileSystem(), plain, Output);
    ASSERT_TRUE(reference);
    QString error;
    auto source = FfmpegSource::open(test::systemServices().fileSystem(), tagged, Output, &error);
    ASSERT_TRUE(source) << qPrintable(error);
    EXPECT_EQ(test::decodeAll(*source), test::decodeAll(*reference));
}

TEST(DecoderTest, AddressesInStoredPathsAreNeverFollowed) {
    // A stored path names a local file. These two name sounds FFmpeg would fetch if it were handed them as they
    // are: a whole WAV file inside a data: URI, and a concat: list of a real file.
    TempFolder folder;
    const auto samples = test::sineSamples16(440, 44100, 441, 0.5);
    const QString wav = folder.file(QStringLiteral("tone.wav"));
    test::writeWav16(wav, 44100, 2, samples);
    const QByteArray addresses[] = {"data:audio/wav;base64," + test::wavBytes16(44100, 2, samples).toBase64(),
                                    "concat:" + QFile::encodeName(wav)};
    for (const QByteArray& address : addresses) {
        AVFormatContext* context = nullptr;
        ASSERT_EQ(avformat_open_input(&context, address.constData(), nullptr, nullptr), 0)
            << "FFmpeg itself does not open " << address.left(40).constData();
        avformat_close_input(&context);

        QString error;
        EXPECT_FALSE(
            FfmpegSource::open(test::systemServices().fileSystem(), QString::fromUtf8(address), Output, &error))
            << address.left(40).constData();
        EXPECT_FALSE(error.isEmpty());
    }
}

// Opens Path on a thread of its own, so an opening that waits fails the test instead of hanging it; the FIFO named
// `fifo` is then opened for writing and closed, which lets the waiting reader go.
bool opensWithin(const QString& path, const QString& fifo, QString* error) {
    auto opening = std::async(std::launch::async, [path, error] {
        return FfmpegSource::open(test::systemServices().fileSystem(), path, Output, error) != nullptr;
    });
    if (opening.wait_for(std::chrono::seconds(30)) == std::future_status::ready) {
        return opening.get();
    }
    ADD_FAILURE() << "opening " << qPrintable(path) << " waits";
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) {
        ::close(writer);
    }
    opening.wait();
    return false;
}

// Playlists are told by their content under any name, and FFmpeg would open and play what they list: the tone
// itself, a playlist that names itself again and again, or a FIFO nobody writes to, whose opening waits for good.
// None of it is read; nor a FIFO or a kernel file whose read waits, bound as a sound themselves.
TEST(DecoderTest, PlaylistsFifosAndFilesThatWaitAreRefusedAtOnce) {
    TempFolder folder;
    const QString tone = folder.file(QStringLiteral("tone.wav"));
    test::writeWav16(tone, 44100, 2, test::sineSamples16(440, 44100, 4410, 0.5));
    const QString fifo = folder.file(QStringLiteral("fifo.wav"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString self = folder.file(QStringLiteral("self.wav"));
    test::writeBytes(self, "ffconcat version 1.0\nfile 'self.wav'\nfile 'self.wav'\n");
    const struct {
        const char* name;
        QByteArray content;
    } playlists[] = {
        {"concat-of-tone.mp3", "ffconcat version 1.0\nfile 'tone.wav'\n"},
        {"concat-of-fifo.wav", "ffconcat version 1.0\nfile 'fifo.wav'\n"},
        {"hls-of-tone.ogg", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\ntone.wav\n#EXT-X-ENDLIST\n"},
        {"hls-of-fifo.wav", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nfifo.wav\n#EXT-X-ENDLIST\n"},
    };
    QStringList refused{self, fifo};
    for (const auto& playlist : playlists) {
        refused << folder.file(QString::fromLatin1(playlist.name));
        test::writeBytes(refused.back(), playlist.content);
    }
    if (::access("/proc/kmsg", R_OK) == 0) {
        refused << QStringLiteral("/proc/kmsg");
    }
    for (const QString& path : refused) {
        QString error;
        EXPECT_FALSE(opensWithin(path, fifo, &error)) << qPrintable(path);
        EXPECT_FALSE(error.isEmpty()) << qPrintable(path);
    }
    // The tone the playlists name plays when bound itself.
    QString error;
    EXPECT_TRUE(opensWithin(tone, fifo, &error)) << qPrintable(error);
}

TEST(DecoderTest, CancelledSourceEndsAtOnce) {
    TempFolder folder;
    const QString tone = folder.file(QStringLiteral("tone.wav"));
    test::writeWav16(tone, 48000, 2, test::sineSamples16(440, 48000, 48000 * 5, 0.5));
    std::atomic<bool> cancelled{false};
    auto source = FfmpegSource::open(test::systemServices().fileSystem(), tone, Output, nullptr,
                                     [&] { return cancelled.load(); });
    ASSERT_TRUE(source);
    std::vector<float> block(4096 * 2);
    EXPECT_EQ(source->read(block.data(), 4096), 4096);
    cancelled = true;
    int after = 0;
    for (int got = 1; got > 0;) {
        got = source->read(block.data(), 4096);
        after += got;
    }
    // What the reader held already may come out; the rest of the five seconds does not.
    EXPECT_LT(after, 48000);

    cancelled = false;
    auto again = FfmpegSource::open(test::systemServices().fileSystem(), tone, Output, nullptr, [] { return true; });
    EXPECT_FALSE(again) << "an opening cancelled before it starts reads nothing";
}

TEST(DecoderTest, SampleRatesNoAudioUsesAreRefused) {
    // Converting from such rates would cost seconds and gigabytes per block; 768 kHz, the highest rate audio
    // interfaces run at, still plays.
    TempFolder folder;
    const auto samples = test::sineSamples16(440, 8000, 800, 0.5);
    for (const int rate : {637542208, 100000000, 999, 100}) {
        const QString path = folder.file(QStringLiteral("%1.wav").arg(rate));
        test::writeWav16(path, rate, 2, samples);
        QString error;
        EXPECT_FALSE(FfmpegSource::open(test::systemServices().fileSystem(), path, Output, &error)) << rate;
        EXPECT_FALSE(error.isEmpty());
    }
    const QString highest = folder.file(QStringLiteral("768000.wav"));
    test::writeWav16(highest, 768000, 2, test::sineSamples16(4000, 768000, 76800, 0.5));
    auto source = FfmpegSource::open(test::systemServices().fileSystem(), highest, AudioFormat{48000, 1});
    ASSERT_TRUE(source);
    EXPECT_NEAR(static_cast<double>(test::decodeAll(*source).size()), 4800.0, 50.0);
}

TEST(DecoderTest, SamplesThatAreNoNumbersComeOutAsSilence) {
    // A float WAV whose every other sample is NaN or an infinity; the numbers between them pass unchanged.
    TempFolder folder;
    const float values[] = {0.5f, std::nanf(""), -0.25f, INFINITY, 0.125f, -INFINITY};
    QByteArray data;
    for (int repeat = 0; repeat < 100; ++repeat) {
        for (const float value : values) {
            data.append(reinterpret_cast<const char*>(&value), sizeof value);
        }
    }
    const auto le32 = [](quint32 value) { return QByteArray(reinterpret_cast<const char*>(&value), 4); };
    const auto le16 = [](quint16 value) { return QByteArray(reinterpret_cast<const char*>(&value), 2); };
    const QByteArray format = le16(3) + le16(1) + le32(44100) + le32(44100 * 4) + le16(4) + le16(32);
    const QByteArray wav = "RIFF" + le32(4 + 8 + format.size() + 8 + data.size()) + "WAVEfmt " + le32(format.size()) +
                           format + "data" + le32(data.size()) + data;
    const QString path = folder.file(QStringLiteral("float.wav"));
    test::writeBytes(path, wav);

    auto source = FfmpegSource::open(test::systemServices().fileSystem(), path, AudioFormat{44100, 1});
    ASSERT_TRUE(source);
    const auto audio = test::decodeAll(*source);
    ASSERT_EQ(audio.size(), 600u);
    for (size_t i = 0; i < audio.size(); ++i) {
        const float expected = i % 2 == 0 ? values[i % 6] : 0.0f;
        ASSERT_EQ(audio[i], expected) << "sample " << i;
    }
}

} // namespace
