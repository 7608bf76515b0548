// A desktop shortcut to sound at the sound server: the program natively on the Wayland rig's compositor, its
// hotkeys bound through the desktop portal, beside paplay in the same run.
//
// Needs the Wayland rig (scripts/wayland-rig.sh), xdg-desktop-portal and PulseAudio. The run starts a PulseAudio
// server of its own with a null sink "testsink" that the compositor's user may reach, and the portal's frontend on a
// private session bus with a GlobalShortcuts backend in this process. The program runs as the compositor's user
// with the key q bound to a click, and binds its shortcuts through the portal. A recording of the sink's monitor
// runs throughout. A long-lived low-latency pacat stream, otherwise idle, gets a click; exactly one second later the
// event under test happens: the backend sends Activated for the shortcut q, or paplay is started on the same click
// file. The gap between the two onsets in the recording, less the second, is the figure: the time from the event
// to its sound reaching the sink, counted from the instant the reference stream's own data was written, so the
// reference's buffering is common to both.
#include "bench/latency/latencyharness.h"
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundserver.h"
#include "tests/support/portalrig.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"
#include "tests/support/waylandrig.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace clavora::test;
using clavora::bench::click;
using clavora::bench::report;
using Clock = std::chrono::steady_clock;
constexpr int Rate = clavora::bench::LatencyRate;

// Sample positions where sound starts after at least 100 ms of silence, in raw 16-bit mono samples.
std::vector<qint64> onsets(const QByteArray& bytes) {
    std::vector<qint16> samples(size_t(bytes.size() / 2));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return clavora::bench::onsets(samples);
}

// Lets the events of this thread run (the portal backend answers on them) until Deadline.
void runEventsUntil(Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
}

// A process of the run, stopped by its PID.
class Child {
public:
    ~Child() { stop(); }
    bool start(const QString& program, const QStringList& arguments, const QString& outputFile = QString()) {
        if (!outputFile.isEmpty()) {
            m_process.setStandardOutputFile(outputFile);
        }
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(program, arguments);
        return m_process.waitForStarted(10000);
    }
    QProcess& process() { return m_process; }
    void stop() {
        if (m_process.state() == QProcess::NotRunning) {
            return;
        }
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

private:
    QProcess m_process;
};

// The reference stream: pacat connected for the whole run at a small latency and otherwise idle, so a click
// written to it starts at once.
class ReferenceStream {
public:
    bool start() {
        m_pacat.process().setStandardOutputFile(QProcess::nullDevice());
        return m_pacat.start(QStringLiteral("pacat"),
                             {"--playback", "--raw", "--format=s16le", "--rate=48000", "--channels=1",
                              "--latency-msec=5", "--process-time-msec=2", "-d", "testsink"});
    }
    Clock::time_point sendClick() {
        static const std::vector<qint16> sound = click();
        const Clock::time_point at = Clock::now();
        m_pacat.process().write(reinterpret_cast<const char*>(sound.data()), qint64(sound.size() * 2));
        m_pacat.process().waitForBytesWritten(1000);
        return at;
    }

private:
    Child m_pacat;
};

enum class Subject { PortalShortcut, Paplay };

// Everything of one run: the folders, the sound server, the portal and the program.
class Rig {
public:
    ~Rig() {
        m_program.reset();
        m_portal.stop();
        m_server.reset();
        if (!m_root.isEmpty()) {
            QDir(m_root).removeRecursively();
        }
    }

    bool start(bool withProgram, std::string& error) {
        if (!waylandRigRunning()) {
            error = "needs the compositor of the Wayland rig (scripts/wayland-rig.sh)";
            return false;
        }
        if (!PortalRig::available() || !SoundServer::available()) {
            error = "needs xdg-desktop-portal, dbus-daemon and PulseAudio";
            return false;
        }
        if (qEnvironmentVariableIsEmpty("CLAVORA_PROGRAM_DIR")) {
            qputenv("CLAVORA_PROGRAM_DIR", CLAVORA_PROGRAM_DIR);
        }
        // A folder the compositor's user can reach: QTemporaryDir makes private ones.
        m_root = QDir::tempPath() + QStringLiteral("/clavora-portalbench-%1").arg(QCoreApplication::applicationPid());
        QDir(m_root).removeRecursively();
        QDir().mkpath(m_root + QStringLiteral("/home"));
        ::chmod(QFile::encodeName(m_root).constData(), 0755);
        clickPath = m_root + QStringLiteral("/click.wav");
        if (!writeWav16(clickPath, Rate, 1, click())) {
            error = "cannot write the click";
            return false;
        }

        // The sound server, open to the compositor's user: its socket needs no cookie.
        const QString serverFolder = m_root + QStringLiteral("/pulse");
        QDir().mkpath(serverFolder);
        m_server = std::make_unique<SoundServer>(serverFolder);
        if (!m_server->start(SoundServer::NeverSuspend)) {
            error = "PulseAudio did not start";
            return false;
        }
        m_server->useForThisProcess();
        for (const QString& path : {serverFolder, serverFolder + QStringLiteral("/pulse")}) {
            ::chmod(QFile::encodeName(path).constData(), 0755);
        }
        ::chmod(QFile::encodeName(serverFolder + QStringLiteral("/pulse/native")).constData(), 0777);
        if (!withProgram) {
            return true;
        }

        const QString portalFolder = m_root + QStringLiteral("/portal");
        QDir().mkpath(portalFolder);
        if (!m_portal.start(portalFolder, true)) {
            error = "the portal did not start: " + m_portal.error().toStdString();
            return false;
        }
        const QString programDir = m_root + QStringLiteral("/program");
        if (!copyProgramFolder(programDir)) {
            error = "cannot copy the program folder";
            return false;
        }
        QFile keys(programDir + QStringLiteral("/keys.db"));
        if (!keys.open(QIODevice::Append)) {
            error = "cannot bind q";
            return false;
        }
        keys.write("q|" + clickPath.toUtf8() + "\r\n");
        keys.close();
        const QString uid = QString::fromLocal8Bit(qgetenv("CLAVORA_WAYLAND_UID"));
        if (::geteuid() == 0 && !uid.isEmpty()) {
            runCommand(QStringLiteral("chown"), {QStringLiteral("-R"), uid + QLatin1Char(':') + uid, programDir,
                                                 m_root + QStringLiteral("/home"), clickPath});
        }

        m_program = std::make_unique<ProgramRun>(programDir + QStringLiteral("/clavora"), m_root + "/home");
        QProcessEnvironment& environment = m_program->environment();
        for (const char* name : {"DISPLAY", "PULSE_RUNTIME_PATH", "SDL_AUDIODRIVER"}) {
            environment.remove(QLatin1String(name));
        }
        environment.insert(QStringLiteral("PULSE_SERVER"), m_server->address());
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_portal.address());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), qEnvironmentVariable("CLAVORA_WAYLAND_RUNTIME"));
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), qEnvironmentVariable("CLAVORA_WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("sway"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        environment.insert(QStringLiteral("QT_WAYLAND_DISABLE_WINDOWDECORATION"), QStringLiteral("1"));
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("clavora.*.info=true"));
        if (uid.toInt() > 0) {
            m_program->runAsUser(uid.toInt());
        }
        if (!m_program->start()) {
            error = "the program did not start";
            return false;
        }
        // Its shortcuts bound at the portal, and its output open at the server: ready for a shortcut.
        if (!waitFor(
                [&] {
                    m_log += m_program->output();
                    return !m_portal.backend().binds.empty() &&
                           m_log.contains(QLatin1String("Audio output: pulseaudio"));
                },
                30000)) {
            error = "the program bound no shortcuts or opened no output: " + m_log.toStdString();
            return false;
        }
        return true;
    }

    // Presses the shortcut q at the desktop and lets it go.
    void pressShortcut() {
        m_portal.backend().press(QStringLiteral("q"), true);
        QCoreApplication::processEvents();
        runEventsUntil(Clock::now() + std::chrono::milliseconds(20));
        m_portal.backend().press(QStringLiteral("q"), false);
    }

    QString root() const { return m_root; }
    bool programRunning() const { return m_program && m_program->isRunning(); }

    // The periods the program's output ran at, as its log tells them: "128 -> 1024".
    std::string periodsLogged() {
        if (!m_program) {
            return {};
        }
        m_log += m_program->output();
        QStringList periods;
        static const QRegularExpression opened(QStringLiteral("Audio output: .* (\\d+) frames per period"));
        static const QRegularExpression changed(QStringLiteral("Audio output period \\d+ -> (\\d+) frames"));
        for (const QString& line : m_log.split(QLatin1Char('\n'))) {
            for (const QRegularExpression* pattern : {&opened, &changed}) {
                if (const QRegularExpressionMatch match = pattern->match(line); match.hasMatch()) {
                    periods << match.captured(1);
                }
            }
        }
        return periods.isEmpty() ? std::string("no period in the log")
                                 : "periods " + periods.join(QStringLiteral(" -> ")).toStdString();
    }

    QString clickPath;

private:
    QString m_root;
    std::unique_ptr<SoundServer> m_server;
    PortalRig m_portal;
    std::unique_ptr<ProgramRun> m_program;
    QString m_log;
};

void BM_ShortcutToSound(benchmark::State& state) {
    const auto subject = Subject(state.range(0));
    const int trials = clavora::bench::trialCount(state);
    Rig rig;
    std::string error;
    if (!rig.start(subject == Subject::PortalShortcut, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const QString recordingPath = rig.root() + QStringLiteral("/recording.raw");
    std::vector<double> latencies;
    for (auto _ : state) {
        Child recorder;
        recorder.start(
            QStringLiteral("parec"),
            {"-d", "testsink.monitor", "--format=s16le", "--rate=48000", "--channels=1", "--latency-msec=5", "--raw"},
            recordingPath);
        ReferenceStream reference;
        reference.start();
        runEventsUntil(Clock::now() + std::chrono::milliseconds(800)); // both streams flowing
        for (int trial = 0; trial < trials; ++trial) {
            const Clock::time_point clickAt = reference.sendClick();
            runEventsUntil(clickAt + std::chrono::seconds(1));
            Child player;
            if (subject == Subject::PortalShortcut) {
                rig.pressShortcut();
            } else {
                player.start(QStringLiteral("paplay"), {"-d", "testsink", rig.clickPath});
            }
            runEventsUntil(Clock::now() + std::chrono::milliseconds(600));
            player.process().waitForFinished(3000);
        }
        runEventsUntil(Clock::now() + std::chrono::milliseconds(300));
        recorder.stop();
        const std::vector<qint64> starts = onsets(readBytes(recordingPath));
        clavora::bench::addLatencies(starts, latencies);
    }
    if (subject == Subject::PortalShortcut && !rig.programRunning()) {
        state.SkipWithError("the program ended during the run");
        return;
    }
    report(state, latencies, trials);
    state.SetLabel(subject == Subject::PortalShortcut ? rig.periodsLogged() : std::string("paplay"));
}
BENCHMARK(BM_ShortcutToSound)
    ->ArgNames({"subject", "trials"})
    ->Args({int(Subject::PortalShortcut), 30})
    ->Args({int(Subject::Paplay), 30})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
