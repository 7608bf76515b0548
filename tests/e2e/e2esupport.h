// What the end-to-end tests of playback share: a recording of the rig's sound sink, the keyboard focus for a window of
// the program, and key presses.
#pragma once

#include <QProcess>
#include <QString>

#include <vector>

namespace clavora::test {

// Records what the rig's null sink plays (its monitor, "testsink.monitor") as 16-bit mono at Rate into a file.
class SinkRecorder {
public:
    static constexpr int Rate = 48000;

    explicit SinkRecorder(QString file);
    ~SinkRecorder();

    // Starts recording and waits until the sound server delivers: the null sink stalls while a new monitor stream
    // gets going, and a sound played before that would be lost. False when that does not happen.
    bool start();
    void stop();

    // The recording so far, as float samples.
    std::vector<float> samples() const;

    // Waits until a sound louder than Threshold has been recorded and half a second of silence after it.
    bool waitForSound(float threshold = 0.05f, int timeoutMs = 15000) const;

private:
    QString m_file;
    QProcess m_process;
};

// True when something louder than Threshold came out and was followed by at least Silence samples no louder.
bool endsInSilence(const std::vector<float>& samples, float threshold, size_t silence);

// Gives the keyboard focus to the visible window of process Pid whose title is exactly Title. False when there is
// no such window or it does not get the focus.
bool focusWindow(const QString& title, qint64 pid);

// Presses and releases a key (an xdotool key name) on the rig's display.
void pressKey(const QString& key);

} // namespace clavora::test
