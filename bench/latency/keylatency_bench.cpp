// Key event to sound at the sound server, the program beside other players in the same run.
//
// Under the headless rig (its X display and PulseAudio null sink "testsink"): a recording of the sink's monitor
// runs throughout. A long-lived low-latency pacat stream, fed silence at the pace it plays, gets a click; exactly one
// second later the event under test happens (a key pressed through XTest with the program focused or in the
// background, or paplay or ffplay started on the same click file, or `clavora --play q` started on the running program
// or its PlayKey call sent on the session bus). The gap between the two onsets in the recording,
// less the second, is the figure: the time from the event to its sound reaching the sink, counted from the same
// instant the reference stream's own data would have been written, so the reference's buffering is common to all.
//
// Under load, three busy loops on the two cores, the program plays a 60 s tone and the recording is searched for
// gaps. The idle case measures the program's CPU with its window shown and nothing playing.
#include "bench/latency/latencyharness.h"
#include "tests/support/audio/audiotestsupport.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using clavora::bench::click;
using clavora::bench::onsets;
using clavora::bench::report;
constexpr int Rate = clavora::bench::LatencyRate;
const QString Title = QStringLiteral("Zemtrak - Clavora");

// A child process stopped by its PID.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }

    // Starts Argv[0] from PATH; StdinPipe: a pipe to its standard input, StdoutFile: its standard output.
    bool start(const std::vector<std::string>& argv, bool stdinPipe = false, const std::string& stdoutFile = {}) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int fds[2] = {-1, -1};
        if (stdinPipe) {
            if (pipe2(fds, O_CLOEXEC) != 0) {
                return false;
            }
            posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        }
        if (!stdoutFile.empty()) {
            posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        const int error = posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (stdinPipe) {
            close(fds[0]);
            m_stdin = fds[1];
        }
        if (error != 0) {
            m_pid = -1;
        }
        return m_pid > 0;
    }
    int input() const { return m_stdin; }
    pid_t pid() const { return m_pid; }
    bool running() { return m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0; }
    // Waits up to TimeoutMs for it to end by itself; stops it otherwise.
    void finish(int timeoutMs) {
        for (int waited = 0; m_pid > 0 && waited < timeoutMs; waited += 10) {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
            }
            QThread::msleep(10);
        }
        stop();
    }
    void stop() {
        if (m_stdin >= 0) {
            close(m_stdin);
            m_stdin = -1;
        }
        if (m_pid <= 0) {
            return;
        }
        kill(m_pid, SIGTERM);
        for (int i = 0; i < 300 && waitpid(m_pid, nullptr, WNOHANG) == 0; ++i) {
            QThread::msleep(10);
        }
        if (waitpid(m_pid, nullptr, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
};

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// Mono 16-bit samples as a WAV file.
bool writeWav(const QString& path, const std::vector<qint16>& samples) {
    return clavora::test::writeWav16(path, Rate, 1, samples);
}

std::vector<qint16> tone(double seconds) {
    std::vector<qint16> samples(size_t(seconds * Rate));
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = qint16(16000 * std::sin(2 * M_PI * 1000 * double(i) / Rate));
    }
    return samples;
}

std::vector<qint16> readRecording(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    std::vector<qint16> samples(size_t(bytes.size() / 2));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

// Gaps in a continuous tone from Begin for Length samples: runs of at least half a millisecond of near silence.
int countGaps(const std::vector<qint16>& samples, qint64 begin, qint64 length) {
    int gaps = 0;
    int quiet = 0;
    const qint64 end = std::min<qint64>(qint64(samples.size()), begin + length);
    for (qint64 i = begin; i < end; ++i) {
        if (std::abs(int(samples[size_t(i)])) < 300) {
            if (++quiet == Rate / 2000) {
                ++gaps;
            }
        } else {
            quiet = 0;
        }
    }
    return gaps;
}

// The reference stream: pacat connected for the whole run at a small latency and otherwise idle, so a click
// written to it starts at once. (Fed continuous silence instead, every scheduling hiccup of the feeder would add to
// its backlog for good.)
class ReferenceStream {
public:
    bool start() {
        return m_pacat.start({"pacat", "--playback", "--raw", "--format=s16le", "--rate=48000", "--channels=1",
                              "--latency-msec=5", "--process-time-msec=2", "-d", "testsink"},
                             true);
    }
    void stop() { m_pacat.stop(); }
    // Writes the click and returns when it was written.
    Clock::time_point sendClick() {
        static const std::vector<qint16> sound = click();
        const Clock::time_point at = Clock::now();
        if (write(m_pacat.input(), sound.data(), sound.size() * 2) < 0) {
            std::perror("pacat");
        }
        return at;
    }

private:
    Child m_pacat;
};

// Everything one run needs: the rig checked, a copy of the program folder and the files.
struct Rig {
    QTemporaryDir folder;
    QString programDir;
    QString home;
    QString clickPath;
    QString tonePath;
    Display* display = nullptr;

    bool prepare(std::string& error) {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("PULSE_SERVER") ||
            !run("pactl", {"list", "short", "sinks"}).contains("testsink")) {
            error = "needs the headless rig (scripts/headless-rig.sh): an X display and the null sink testsink";
            return false;
        }
        programDir = folder.filePath("program");
        home = folder.filePath("home");
        QDir().mkpath(home);
        run("cp", {"-a", QStringLiteral(CLAVORA_PROGRAM_DIR), programDir});
        if (!QFile::exists(programDir + "/clavora")) {
            error = "cannot copy the program folder " CLAVORA_PROGRAM_DIR;
            return false;
        }
        clickPath = folder.filePath("click.wav");
        tonePath = folder.filePath("tone.wav");
        if (!writeWav(clickPath, click()) || !writeWav(tonePath, tone(60.5))) {
            error = "cannot write the test sounds";
            return false;
        }
        display = XOpenDisplay(nullptr);
        return display != nullptr;
    }
    ~Rig() {
        if (display) {
            XCloseDisplay(display);
        }
    }

    // Binds the key q to Sound.
    void bindKey(const QString& sound) {
        QFile keys(programDir + "/keys.db");
        keys.open(QIODevice::WriteOnly | QIODevice::Truncate);
        keys.write("\xEF\xBB\xBFq|" + sound.toUtf8() + "\r\n");
    }

    void pressKey(int holdMs) {
        const KeyCode code = XKeysymToKeycode(display, XK_q);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XFlush(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        XFlush(display);
    }
};

// The program running with its window shown, stopped by its PID.
class Program {
public:
    bool start(const Rig& rig, const QString& logFile) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", rig.home);
        // The driver the program chooses for the server, unless CLAVORA_BENCH_SDL_DRIVER names one.
        if (qEnvironmentVariableIsSet("CLAVORA_BENCH_SDL_DRIVER")) {
            environment.insert("SDL_AUDIODRIVER", qEnvironmentVariable("CLAVORA_BENCH_SDL_DRIVER"));
        } else {
            environment.remove("SDL_AUDIODRIVER");
        }
        environment.insert("QT_LOGGING_RULES", "clavora.*.info=true");
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(rig.home);
        m_process.setStandardOutputFile(logFile);
        m_process.setStandardErrorFile(logFile);
        m_process.start(rig.programDir + "/clavora", {});
        if (!m_process.waitForStarted(10000)) {
            return false;
        }
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000) {
            m_window = run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(m_process.processId()),
                                       "--name", "^" + Title + "$"})
                           .split('\n', Qt::SkipEmptyParts)
                           .value(0);
            if (!m_window.isEmpty()) {
                QThread::msleep(500); // the device opens and the first key map loads
                return true;
            }
            QThread::msleep(100);
        }
        return false;
    }
    void focus() {
        run("xdotool", {"windowactivate", "--sync", m_window});
        run("xdotool", {"windowfocus", "--sync", m_window});
        QThread::msleep(300);
    }
    qint64 pid() const { return m_process.processId(); }
    ~Program() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }

private:
    QProcess m_process;
    QString m_window;
};

// The periods the program's output ran at, as its log tells them: "441 -> 1024 -> 512".
std::string periodsLogged(const QString& logPath) {
    QFile log(logPath);
    log.open(QIODevice::ReadOnly);
    QStringList periods;
    static const QRegularExpression opened(QStringLiteral("Audio output: .* (\\d+) frames per period"));
    static const QRegularExpression changed(QStringLiteral("Audio output period \\d+ -> (\\d+) frames"));
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QString text = QString::fromLocal8Bit(line);
        for (const QRegularExpression* pattern : {&opened, &changed}) {
            if (const QRegularExpressionMatch match = pattern->match(text); match.hasMatch()) {
                periods << match.captured(1);
            }
        }
    }
    return periods.isEmpty() ? std::string("no period in the log")
                             : "periods " + periods.join(QStringLiteral(" -> ")).toStdString();
}

enum class Subject {
    ProgramFocused,
    ProgramBackground,
    Paplay,
    Ffplay,
    // `clavora --play q` started on the running program, from its process start; and the bus call it makes.
    CommandLinePlay,
    BusPlayKey,
};

// A session bus of the run's own for the program and its command line, stopped by its PID; the address is in this
// process's environment while it runs, so the program and every command started from here use it.
class PrivateBus {
public:
    bool start(const QString& folder) {
        const QString socket = folder + "/bus";
        if (!m_daemon.start({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                             ("--address=unix:path=" + socket).toStdString()})) {
            return false;
        }
        for (int i = 0; i < 500 && !QFile::exists(socket); ++i) {
            QThread::msleep(10);
        }
        m_previous = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        m_address = "unix:path=" + socket;
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toLocal8Bit());
        return QFile::exists(socket);
    }
    ~PrivateBus() {
        if (!m_address.isEmpty()) {
            QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_previous);
        }
    }
    // Waits until the program holds its name on the bus.
    bool waitForProgram() {
        for (int i = 0; i < 1000; ++i) {
            if (run("gdbus", {"call", "--session", "-d", "org.freedesktop.DBus", "-o", "/org/freedesktop/DBus", "-m",
                              "org.freedesktop.DBus.NameHasOwner", "com.zemtrak.Clavora"})
                    .contains("true")) {
                return true;
            }
            QThread::msleep(20);
        }
        return false;
    }
    // Sends PlayKey(Key) to the program without waiting for the answer.
    void playKey(const QString& key) {
        if (!m_connection) {
            m_connection = QDBusConnection::connectToBus(m_address, QStringLiteral("bench"));
        }
        QDBusMessage call = QDBusMessage::createMethodCall("com.zemtrak.Clavora", "/com/zemtrak/Clavora",
                                                           "com.zemtrak.Clavora1", "PlayKey");
        call << key;
        m_connection->send(call);
    }

private:
    Child m_daemon;
    QString m_address;
    QByteArray m_previous;
    std::optional<QDBusConnection> m_connection;
};

void BM_KeyToSound(benchmark::State& state) {
    const auto subject = Subject(state.range(0));
    const int trials = clavora::bench::trialCount(state);
    Rig rig;
    std::string error;
    if (!rig.prepare(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    rig.bindKey(rig.clickPath);
    const bool remote = subject == Subject::CommandLinePlay || subject == Subject::BusPlayKey;
    std::optional<PrivateBus> bus;
    if (remote) {
        bus.emplace();
        if (!bus->start(rig.folder.path())) {
            state.SkipWithError("dbus-daemon did not start");
            return;
        }
    }
    std::optional<Program> program;
    std::optional<QWidget> other;
    if (remote) {
        program.emplace();
        if (!program->start(rig, rig.folder.filePath("program.log")) || !bus->waitForProgram()) {
            state.SkipWithError("the program did not come up on the bus");
            return;
        }
    } else if (subject == Subject::ProgramFocused || subject == Subject::ProgramBackground) {
        program.emplace();
        if (!program->start(rig, rig.folder.filePath("program.log"))) {
            state.SkipWithError("the program did not come up");
            return;
        }
        if (subject == Subject::ProgramFocused) {
            program->focus();
        } else {
            other.emplace();
            other->setWindowTitle("focus holder");
            other->resize(200, 100);
            other->show();
            other->activateWindow();
            QElapsedTimer timer;
            timer.start();
            while (!other->isActiveWindow() && timer.elapsed() < 5000) {
                QApplication::processEvents(QEventLoop::AllEvents, 10);
            }
            QApplication::processEvents();
        }
    }

    const QString recordingPath = rig.folder.filePath("recording.raw");
    std::vector<double> latencies;
    for (auto _ : state) {
        Child recorder;
        recorder.start({"parec", "-d", "testsink.monitor", "--format=s16le", "--rate=48000", "--channels=1",
                        "--latency-msec=5", "--raw"},
                       false, recordingPath.toStdString());
        ReferenceStream reference;
        reference.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(800)); // both streams flowing
        for (int trial = 0; trial < trials; ++trial) {
            const Clock::time_point clickAt = reference.sendClick();
            std::this_thread::sleep_until(clickAt + std::chrono::seconds(1));
            Child player;
            switch (subject) {
            case Subject::ProgramFocused:
            case Subject::ProgramBackground:
                rig.pressKey(20);
                break;
            case Subject::Paplay:
                player.start({"paplay", "-d", "testsink", rig.clickPath.toStdString()});
                break;
            case Subject::Ffplay:
                player.start({"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", rig.clickPath.toStdString()});
                break;
            case Subject::CommandLinePlay:
                player.start({(rig.programDir + "/clavora").toStdString(), "--play", "q"});
                break;
            case Subject::BusPlayKey:
                bus->playKey(QStringLiteral("q"));
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            player.finish(3000);
            QApplication::processEvents();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        reference.stop();
        recorder.stop();

        const std::vector<qint16> samples = readRecording(recordingPath);
        const std::vector<qint64> starts = onsets(samples);
        clavora::bench::addLatencies(starts, latencies);
    }
    report(state, latencies, trials);
    if (program) {
        state.SetLabel(periodsLogged(rig.folder.filePath("program.log")));
    }
}
BENCHMARK(BM_KeyToSound)
    ->ArgNames({"subject", "trials"})
    ->Args({int(Subject::ProgramFocused), 30})
    ->Args({int(Subject::ProgramBackground), 30})
    ->Args({int(Subject::Paplay), 30})
    ->Args({int(Subject::Ffplay), 30})
    ->Args({int(Subject::CommandLinePlay), 30})
    ->Args({int(Subject::BusPlayKey), 30})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Three busy loops on the two cores while the program plays a 60 s tone in the background, or paplay plays it.
void BM_ToneUnderLoad(benchmark::State& state) {
    Rig rig;
    std::string error;
    if (!rig.prepare(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const auto subject = Subject(state.range(1));
    rig.bindKey(rig.tonePath);
    const QString logPath = rig.folder.filePath("program.log");
    std::optional<Program> program;
    if (subject == Subject::ProgramBackground) {
        program.emplace();
        if (!program->start(rig, logPath)) {
            state.SkipWithError("the program did not come up");
            return;
        }
    }
    const int loops = int(state.range(0));
    int gaps = 0;
    int gapsSettled = 0;
    for (auto _ : state) {
        std::vector<std::unique_ptr<Child>> busy;
        for (int i = 0; i < loops; ++i) {
            busy.push_back(std::make_unique<Child>());
            busy.back()->start({"sh", "-c", "while :; do :; done"});
        }
        const QString recordingPath = rig.folder.filePath("recording.raw");
        Child recorder;
        recorder.start({"parec", "-d", "testsink.monitor", "--format=s16le", "--rate=48000", "--channels=1",
                        "--latency-msec=20", "--raw"},
                       false, recordingPath.toStdString());
        std::this_thread::sleep_for(std::chrono::seconds(1));
        Child player;
        if (program) {
            rig.pressKey(20);
        } else {
            player.start({"paplay", "-d", "testsink", rig.tonePath.toStdString()});
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(62000));
        player.finish(3000);
        recorder.stop();
        busy.clear();
        const std::vector<qint16> samples = readRecording(recordingPath);
        const std::vector<qint64> starts = onsets(samples);
        if (starts.empty()) {
            state.SkipWithError("the tone was not heard");
            return;
        }
        // The tone's first and last few milliseconds are left out: they fade in and out of the detector.
        gaps = countGaps(samples, starts.front() + Rate / 100, qint64(Rate * 60));
        // Once the period has had time to settle on what the loaded machine sustains.
        gapsSettled = countGaps(samples, starts.front() + Rate * 10, qint64(Rate * 50));
    }
    state.counters["gaps"] = gaps;
    state.counters["gaps_after_10s"] = gapsSettled;
    state.counters["busy_loops"] = loops;
    state.SetLabel(program ? periodsLogged(logPath) : std::string("paplay"));
}
BENCHMARK(BM_ToneUnderLoad)
    ->ArgNames({"loops", "subject"})
    ->Args({3, int(Subject::ProgramBackground)})
    ->Args({3, int(Subject::Paplay)})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// CPU of the program with its window shown and nothing playing, over 10 s.
void BM_IdleCpu(benchmark::State& state) {
    Rig rig;
    std::string error;
    if (!rig.prepare(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    rig.bindKey(rig.clickPath);
    Program program;
    if (!program.start(rig, rig.folder.filePath("program.log"))) {
        state.SkipWithError("the program did not come up");
        return;
    }
    auto cpuTicks = [&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(program.pid()));
        stat.open(QIODevice::ReadOnly);
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return fields.value(11).toLongLong() + fields.value(12).toLongLong(); // utime, stime
    };
    std::this_thread::sleep_for(std::chrono::seconds(2));
    double percent = 0;
    for (auto _ : state) {
        const long long before = cpuTicks();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const long long after = cpuTicks();
        percent = double(after - before) * 100.0 / double(sysconf(_SC_CLK_TCK)) / 10.0;
    }
    state.counters["cpu_percent_of_a_core"] = percent;
}
BENCHMARK(BM_IdleCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
