// A sound server of a test's or a benchmark's own: PulseAudio, or PipeWire with its PulseAudio interface (and the
// session manager and session bus it needs), with a null sink (by default "testsink") as the default output, on a
// socket in a private runtime folder. Every process is started and stopped by its PID: stopped as at a normal end, or
// killed as in a crash, and started again on the same socket. It leaves this process's PULSE_SERVER alone unless
// told to point it there.
#pragma once

#include "tests/support/audio/soundrecorder.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <vector>

namespace clavora::test {

class SoundServer {
public:
    enum class Kind { PulseAudio, PipeWire };

    // Rate of the recordings.
    static constexpr int RecordRate = SoundRecorder::Rate;
    // start(): a sink without streams never suspends.
    static constexpr int NeverSuspend = -1;

    // Whether the server's programs, pactl and parec are installed.
    static bool available(Kind kind = Kind::PulseAudio);

    // `folder`: the runtime folder of the server, made private; empty for a temporary folder of its own. `sink`: the
    // name of its null sink.
    explicit SoundServer(const QString& folder = QString(), Kind kind = Kind::PulseAudio,
                         const QString& sink = QStringLiteral("testsink"));
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Where clients reach it (for PULSE_SERVER).
    QString address() const;
    QString sinkName() const { return m_sink; }
    // Adds what a child process needs to use this server.
    void applyTo(QProcessEnvironment& environment) const;
    // Points this process's libpulse at the server (PULSE_SERVER) until the server is stopped or destroyed, which put
    // back what was there before.
    void useForThisProcess();

    // Starts the server and waits until it answers. `suspendAfter`: seconds a sink without streams waits before it
    // suspends, or NeverSuspend (PulseAudio; PipeWire's session manager waits 5 s).
    bool start(int suspendAfter = 1);

    // Ends the server as a normal end would: it says goodbye to its clients.
    void stop();
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
    // The modules loaded, one "index name arguments" line each.
    QString modules() const;
    // The names of the sources.
    QStringList sourceNames() const;

    // A stand-in for the user's microphone, made the default source: a null sink "micfeed" whose monitor is
    // remapped into a source "fakemic" (a plain source, not a monitor). What is played to "micfeed" is what it
    // hears. False on failure.
    bool addFakeMicrophone();

    // Records the sink's monitor into a new file and waits until the server delivers to it: a null sink holds up a
    // new monitor stream for a while, and a sound played before would be lost.
    bool startRecorder();
    void stopRecorder();

    // What the current recorder has taken in so far.
    std::vector<float> recording() const;

    // True once the recording holds a tone of `frequency` followed by a little silence: the whole sound.
    bool heard(double frequency) const;

    // Streams connected to the sink, and whether one of them is the program's.
    int streamCount() const;
    bool hasClavoraStream() const;

    // The index of the newest stream of process `pid` named `name`; -1 when there is none.
    int findStream(qint64 pid, const QString& name) const;
    // The volume of a stream as the server counts it, per channel; empty when there is no such stream.
    std::vector<quint32> streamVolume(int index) const;
    void setStreamVolume(int index, quint32 left, quint32 right) const;

    // State of the sink as pactl names it ("RUNNING", "IDLE", "SUSPENDED").
    QString sinkState() const;

private:
    bool startProcess(QProcess& process, const QString& program, const QStringList& arguments, const QString& log);
    // Whether PipeWire's session manager runs and is connected to the daemon.
    bool sessionManagerConnected() const;
    void endServer(bool crash);
    void restoreAddress();

    std::unique_ptr<QTemporaryDir> m_ownFolder;
    QString m_folder;
    Kind m_kind;
    QString m_sink;
    QProcess m_bus;
    QProcess m_server;
    QProcess m_sessionManager;
    QProcess m_pulseInterface;
    std::unique_ptr<SoundRecorder> m_recorder;
    int m_recordings = 0;
    // What PULSE_SERVER was before useForThisProcess(), if it was set at all.
    std::optional<std::optional<QByteArray>> m_previousAddress;
};

} // namespace clavora::test
