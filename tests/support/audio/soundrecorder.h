// A recorder of what a sound server carries: one of its sources (by default the monitor of the rig's null sink
// "testsink") as 16-bit mono at Rate into a file, by parec, stopped by its PID.
#pragma once

#include <QProcess>
#include <QString>

#include <vector>

namespace clavora::test {

class SoundRecorder {
public:
    static constexpr int Rate = 48000;

    // `file`: where the raw samples go. `server`: the server's address; empty for the one PULSE_SERVER names.
    explicit SoundRecorder(QString file, QString server = QString());
    ~SoundRecorder();
    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;

    // Starts recording `source` and waits until the sound server delivers: a null sink holds up a new monitor
    // stream for a while, and a sound played before that would be lost. False when that does not happen.
    bool start(const QString& source = QStringLiteral("testsink.monitor"));
    void stop();

    QString file() const { return m_file; }
    // Bytes recorded so far, and a wait until `ms` milliseconds more have been.
    qint64 bytes() const;
    bool recordMore(int ms);

    // The recording so far, as float samples.
    std::vector<float> samples() const;

    // Waits until a sound louder than `threshold` has been recorded and half a second of silence after it.
    bool waitForSound(float threshold = 0.05f, int timeoutMs = 15000) const;

private:
    QString m_file;
    QString m_server;
    QProcess m_process;
};

} // namespace clavora::test
