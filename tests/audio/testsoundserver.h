// A sound server of a test's own for the audio tests that take it down under the program: PulseAudio, or PipeWire
// with its PulseAudio interface (and the session manager and session bus it needs), with a null sink "testsink" on a
// socket in a private runtime folder, every process started and killed (as in a crash) by its PID, started again on
// the same socket; and a recorder of the sink's monitor. Unlike tests/support's PrivateSoundServer it leaves
// PULSE_SERVER to the test.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <vector>

namespace clavora::test {

class TestSoundServer {
public:
    enum class Kind { PulseAudio, PipeWire };

    // Rate of the recordings.
    static constexpr int RecordRate = 48000;

    // Whether the server's programs, pactl and parec are installed.
    static bool available(Kind kind = Kind::PulseAudio);

    // `folder`: the runtime folder of the server, made private.
    explicit TestSoundServer(const QString& folder, Kind kind = Kind::PulseAudio);
    ~TestSoundServer();

    // Where clients reach it (for PULSE_SERVER).
    QString address() const;

    // Starts the server and waits until it answers. `suspendAfter`: seconds a sink without streams waits before it
    // suspends (PulseAudio; PipeWire's session manager waits 5 s).
    bool start(int suspendAfter = 1);

    // Kills the server as a crash would: no goodbye to its clients. The session bus of PipeWire stays.
    void kill();

    // Stops the server's processes where they are (SIGSTOP): it still takes connections, and answers none, until
    // thaw() lets it go on.
    void freeze();
    void thaw();

    // Kills PipeWire's session manager alone: nothing links a new stream from then on.
    void killSessionManager();

    // Runs pactl against this server; its output, empty on failure.
    QString pactl(const QStringList& arguments) const;

    // Records the sink's monitor as 16-bit mono into a new file and waits until the server delivers to it: a null
    // sink holds up a new monitor stream for a while, and a sound played before would be lost.
    bool startRecorder();
    void stopRecorder();

    // What the current recorder has taken in so far.
    std::vector<float> recording() const;

    // True once the recording holds a tone of `frequency` followed by a little silence: the whole sound.
    bool heard(double frequency) const;

    // Streams connected to the sink, and whether one of them is the program's.
    int streamCount() const;
    bool hasClavoraStream() const;

    // State of the sink as pactl names it ("RUNNING", "IDLE", "SUSPENDED").
    QString sinkState() const;

private:
    bool startProcess(QProcess& process, const QString& program, const QStringList& arguments, const QString& log);
    // Whether PipeWire's session manager runs and is connected to the daemon.
    bool sessionManagerConnected() const;

    QString m_folder;
    Kind m_kind;
    QProcess m_bus;
    QProcess m_server;
    QProcess m_sessionManager;
    QProcess m_pulseInterface;
    QProcess m_recorder;
    QString m_recording;
    int m_recordings = 0;
};

} // namespace clavora::test
