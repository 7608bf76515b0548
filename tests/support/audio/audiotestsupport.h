// Helpers of the tests and benchmarks that play sound: test sounds made on the spot, and measurements of what comes
// out.
#pragma once

#include "audio/audioengine.h"
#include "audio/datasource.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace clavora::test {

// Encodes a sine tone with the ffmpeg command-line tool into `folder`/`name`; `encoderArguments` go before the output
// file (codec, rate, channel layout). Returns the path, or an empty string when ffmpeg failed.
QString makeTone(const QString& folder, const QString& name, const QStringList& encoderArguments, double frequency,
                 double seconds, double amplitude = 0.5, int channels = 2, int sampleRate = 44100);

// 16-bit PCM WAV of interleaved samples, as a file's bytes and written to a file (false when that failed).
QByteArray wavBytes16(int sampleRate, int channels, const std::vector<qint16>& samples);
bool writeWav16(const QString& path, int sampleRate, int channels, const std::vector<qint16>& samples);

// A stereo 16-bit sine of `frames` frames, the same on both channels.
std::vector<qint16> sineSamples16(double frequency, int sampleRate, int frames, double amplitude);

// Raw 16-bit little-endian samples as floats.
std::vector<float> floatsOf16(const QByteArray& raw);

// True when something louder than `threshold` came out and was followed by at least `silence` samples no louder.
bool endsInSilence(const std::vector<float>& samples, float threshold, size_t silence);

// Reads a source to its end.
std::vector<float> decodeAll(audio::IDataSource& source);

// One channel of interleaved audio.
std::vector<float> channelOf(const std::vector<float>& interleaved, int channels, int channel);

// Frames from the first to the last sample louder than `threshold`; 0 when none is.
qint64 audibleFrames(const std::vector<float>& mono, float threshold = 0.01f);

// Frequency of a tone, from the spacing of its rising zero crossings between the first and the last audible sample.
double estimateFrequency(const std::vector<float>& mono, int sampleRate);

float peak(const std::vector<float>& samples);

// True when a channel of interleaved audio holds a flat top: three or more equal samples in a row louder than 0.5,
// the mark of a wave cut off at a limit.
bool hasFlatTop(const std::vector<float>& interleaved, int channels);

// An engine pulled by the test instead of a device: 44.1 kHz, stereo, 10 ms periods, and stream buffers that hold
// whole test sounds, so once they are decoded ahead nothing depends on the worker's timing.
audio::EngineConfig pulledEngineConfig();

} // namespace clavora::test
