// Helpers of the audio tests.
#include "tests/support/audio/audiotestsupport.h"

#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cmath>

namespace clavora::test {

QString makeTone(const QString& folder, const QString& name, const QStringList& encoderArguments, double frequency,
                 double seconds, double amplitude, int channels, int sampleRate) {
    const QString path = folder + QLatin1Char('/') + name;
    // Stereo is made as two equal channels rather than up-mixed, which would change the level.
    QString expression = QStringLiteral("%1*sin(2*PI*%2*t)").arg(amplitude).arg(frequency);
    if (channels == 2) {
        expression += QLatin1Char('|') + expression;
    }
    const QString source = QStringLiteral("aevalsrc=%1:s=%2:d=%3").arg(expression).arg(sampleRate).arg(seconds);
    QStringList arguments{
        QStringLiteral("-nostdin"), QStringLiteral("-v"),     QStringLiteral("error"), QStringLiteral("-y"),
        QStringLiteral("-f"),       QStringLiteral("lavfi"),  QStringLiteral("-i"),    source,
        QStringLiteral("-ac"),      QString::number(channels)};
    arguments << encoderArguments << path;
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(QStringLiteral("ffmpeg"), arguments);
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        return QString();
    }
    return QFile::exists(path) ? path : QString();
}

QByteArray wavBytes16(int sampleRate, int channels, const std::vector<qint16>& samples) {
    QByteArray data;
    auto put32 = [&data](quint32 v) {
        for (int i = 0; i < 4; ++i) {
            data.append(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    };
    auto put16 = [&data](quint16 v) {
        data.append(static_cast<char>(v & 0xFF));
        data.append(static_cast<char>(v >> 8));
    };
    const quint32 bytes = static_cast<quint32>(samples.size() * 2);
    data.append("RIFF");
    put32(36 + bytes);
    data.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(static_cast<quint16>(channels));
    put32(static_cast<quint32>(sampleRate));
    // The byte rate field is 32 bits wide; for the absurd rates of some tests it wraps, as in the files they mimic.
    put32(static_cast<quint32>(sampleRate) * static_cast<quint32>(channels) * 2u);
    put16(static_cast<quint16>(channels * 2));
    put16(16);
    data.append("data");
    put32(bytes);
    for (qint16 s : samples) {
        put16(static_cast<quint16>(s));
    }
    return data;
}

bool writeWav16(const QString& path, int sampleRate, int channels, const std::vector<qint16>& samples) {
    QFile file(path);
    const QByteArray bytes = wavBytes16(sampleRate, channels, samples);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

std::vector<qint16> sineSamples16(double frequency, int sampleRate, int frames, double amplitude) {
    std::vector<qint16> samples;
    samples.reserve(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const auto v =
            static_cast<qint16>(std::lround(amplitude * 32767.0 * std::sin(2 * M_PI * frequency * i / sampleRate)));
        samples.push_back(v);
        samples.push_back(v);
    }
    return samples;
}

std::vector<float> floatsOf16(const QByteArray& raw) {
    std::vector<float> samples(static_cast<size_t>(raw.size()) / 2);
    const auto* values = reinterpret_cast<const qint16*>(raw.constData());
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = values[i] / 32768.0f;
    }
    return samples;
}

bool endsInSilence(const std::vector<float>& samples, float threshold, size_t silence) {
    for (size_t i = samples.size(); i > 0; --i) {
        if (std::fabs(samples[i - 1]) > threshold) {
            return samples.size() - i >= silence;
        }
    }
    return false;
}

std::vector<float> decodeAll(audio::IDataSource& source) {
    const int channels = source.format().channels;
    std::vector<float> all;
    std::vector<float> chunk(4096 * static_cast<size_t>(channels));
    for (;;) {
        const int got = source.read(chunk.data(), 4096);
        all.insert(all.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got) * channels);
        if (got < 4096) {
            break;
        }
    }
    return all;
}

std::vector<float> channelOf(const std::vector<float>& interleaved, int channels, int channel) {
    std::vector<float> mono;
    mono.reserve(interleaved.size() / static_cast<size_t>(channels));
    for (size_t i = static_cast<size_t>(channel); i < interleaved.size(); i += static_cast<size_t>(channels)) {
        mono.push_back(interleaved[i]);
    }
    return mono;
}

qint64 audibleFrames(const std::vector<float>& mono, float threshold) {
    qint64 first = -1;
    qint64 last = -1;
    for (size_t i = 0; i < mono.size(); ++i) {
        if (std::fabs(mono[i]) > threshold) {
            if (first < 0) {
                first = static_cast<qint64>(i);
            }
            last = static_cast<qint64>(i);
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

double estimateFrequency(const std::vector<float>& mono, int sampleRate) {
    // Only the steady middle counts: codecs smear the onset and the end.
    size_t first = 0;
    size_t last = mono.size();
    while (first < mono.size() && std::fabs(mono[first]) < 0.05f) {
        ++first;
    }
    while (last > first && std::fabs(mono[last - 1]) < 0.05f) {
        --last;
    }
    const size_t margin = (last - first) / 10;
    first += margin;
    last -= margin;
    std::vector<double> periods;
    double previous = -1;
    for (size_t i = first + 1; i < last; ++i) {
        if (mono[i - 1] < 0 && mono[i] >= 0) {
            const double at = static_cast<double>(i - 1) + mono[i - 1] / (mono[i - 1] - mono[i]);
            if (previous >= 0) {
                periods.push_back(at - previous);
            }
            previous = at;
        }
    }
    if (periods.empty()) {
        return 0;
    }
    // A dropout in a recording makes one long period; the median finds the tone's own, and the periods near it
    // are averaged for precision.
    std::vector<double> sorted = periods;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    double sum = 0;
    int count = 0;
    for (double period : periods) {
        if (std::fabs(period - median) < 0.1 * median) {
            sum += period;
            ++count;
        }
    }
    return sampleRate / (sum / count);
}

float peak(const std::vector<float>& samples) {
    float peak = 0;
    for (float s : samples) {
        peak = std::max(peak, std::fabs(s));
    }
    return peak;
}

bool hasFlatTop(const std::vector<float>& interleaved, int channels) {
    const size_t step = static_cast<size_t>(channels);
    for (size_t c = 0; c < step; ++c) {
        int run = 1;
        for (size_t i = c + step; i < interleaved.size(); i += step) {
            run = interleaved[i] == interleaved[i - step] ? run + 1 : 1;
            if (run >= 3 && std::fabs(interleaved[i]) > 0.5f) {
                return true;
            }
        }
    }
    return false;
}

audio::EngineConfig pulledEngineConfig() {
    audio::EngineConfig config;
    config.useDevice = false;
    config.sampleRate = 44100;
    config.periodFrames = 441;
    config.streamBufferFrames = 4 * 44100;
    return config;
}

} // namespace clavora::test
