// Helpers of the audio tests: test sounds made on the spot, and measurements of what comes out.
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

// 16-bit PCM WAV of interleaved samples, as a file's bytes and written to a file.
QByteArray wavBytes16(int sampleRate, int channels, const std::vector<qint16>& samples);
void writeWav16(const QString& path, int sampleRate, int channels, const std::vector<qint16>& samples);

// A stereo 16-bit sine of `frames` frames, the same on both channels.
std::vector<qint16> sineSamples16(double frequency, int sampleRate, int frames, double amplitude);

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
