// Soak run of the playback path: a key held down in hotkey mode with overlapping sounds on, for ten minutes by
// default. The hotkey poll runs every 50 ms on this program's event loop as on the main window's, plays the key's
// binding through the sound player and its engine on the default output (SDL_AUDIODRIVER picks another), and every
// ten seconds the program's resident memory, open file handles, threads and the streams the engine holds are
// sampled; they must stay flat. The GUI thread's stalls are measured twice: the longest single poll (the key
// handler itself, sounds started included) and the worst lateness of a 10 ms heartbeat timer on the same loop.
//
//   audio_soak [seconds] [sound file]     (defaults: 600, the default binding F5's "Sounds/15.mp3")
//   CLAVORA_SOAK_X11=1 audio_soak ...     reads the real X11 keyboard of $DISPLAY and holds F5 there with xdotool
#include "audio/soundplayer.h"
#include "input/hotkeypoll.h"
#include "keymap/keymap.h"
#include "platform/fake/fakekeyboard.h"
#include "platform/x11/linuxkeyboard.h"
#include "tests/support/audio/systemservices.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <time.h>

using namespace clavora;

namespace {

struct Sample {
    double seconds = 0;
    long rssKib = 0;
    int files = 0;
    int threads = 0;
    int streams = 0;
    long plays = 0;
};

long statusValue(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

qint64 threadCpuNanos() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

int openFiles() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

void print(const char* label, const Sample& s) {
    std::printf("%-6s t=%6.1f s  rss=%7ld KiB  files=%4d  threads=%3d  streams=%4d  plays=%ld\n", label, s.seconds,
                s.rssKib, s.files, s.threads, s.streams, s.plays);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int seconds = arguments.size() > 1 ? arguments.at(1).toInt() : 600;
    QString sound = arguments.size() > 2 ? arguments.at(2) : QString();
    if (sound.isEmpty()) {
        sound = QStringLiteral(CLAVORA_SOURCE_DIR "/data/Sounds/15.mp3");
    }
    if (!QFile::exists(sound)) {
        std::fprintf(stderr, "no sound file at %s\n", qPrintable(sound));
        return 2;
    }
    const KeyMap keyMap = KeyMap::fromLines({QStringLiteral("F5|") + sound});

    // The key: held on the real X keyboard (XTest, as a user's finger would), or on a fake one.
    const bool x11 = qEnvironmentVariableIntValue("CLAVORA_SOAK_X11") == 1;
    std::unique_ptr<platform::IKeyboard> keyboard;
    if (x11) {
        auto x11Keyboard = std::make_unique<platform::LinuxKeyboard>();
        if (!x11Keyboard->connected()) {
            std::fprintf(stderr, "cannot open the X display\n");
            return 2;
        }
        if (QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("F5")}) != 0) {
            std::fprintf(stderr, "xdotool keydown failed\n");
            return 2;
        }
        keyboard = std::move(x11Keyboard);
    } else {
        auto fake = std::make_unique<platform::FakeKeyboard>();
        fake->press(platform::vk::F1 + 4);
        keyboard = std::move(fake);
    }

    audio::SoundPlayer player{clavora::test::systemAudioServices()};
    if (!player.start()) {
        std::fprintf(stderr, "no audio output\n");
        return 2;
    }
    std::printf("soak: %d s, F5 held (%s keyboard), overlapping on, %s, output %d Hz\n", seconds, x11 ? "X11" : "fake",
                qPrintable(sound), player.engine().outputFormat().sampleRate);

    long plays = 0;
    qint64 worstPollNs = 0;
    qint64 worstLatenessNs = 0;
    QElapsedTimer clock;
    clock.start();
    auto sample = [&] {
        Sample s;
        s.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
        s.rssKib = statusValue("VmRSS");
        s.files = openFiles();
        s.threads = static_cast<int>(statusValue("Threads"));
        s.streams = player.engine().heldStreams();
        s.plays = plays;
        return s;
    };

    // Wall time tells how long the GUI thread was held; its own CPU time tells how much of that was work rather
    // than waiting for a core on a busy machine (or for the X server's answer).
    qint64 worstPollCpuNs = 0;
    qint64 worstPlayNs = 0;
    long slowPolls = 0;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QElapsedTimer spent;
        spent.start();
        const qint64 cpuStart = threadCpuNanos();
        input::pollHotkeys(*keyboard, QLatin1Char('.'), keyMap, input::KeyFocus::Elsewhere,
                           [&](const Binding& binding) {
                               QElapsedTimer playing;
                               playing.start();
                               player.play(audio::PlayRequest{binding.path, binding.gain}, true);
                               worstPlayNs = std::max(worstPlayNs, playing.nsecsElapsed());
                               ++plays;
                           });
        const qint64 wall = spent.nsecsElapsed();
        worstPollNs = std::max(worstPollNs, wall);
        worstPollCpuNs = std::max(worstPollCpuNs, threadCpuNanos() - cpuStart);
        if (wall > 5'000'000) {
            ++slowPolls;
        }
    });

    // The heartbeat: how late the event loop gets round to a 10 ms timer, i.e. how long the GUI thread was held.
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(10);
    QElapsedTimer sinceBeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        if (sinceBeat.isValid()) {
            worstLatenessNs = std::max(worstLatenessNs, sinceBeat.nsecsElapsed() - 10'000'000);
        }
        sinceBeat.start();
    });

    std::vector<Sample> samples;
    QTimer sampler;
    sampler.setInterval(10000);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        samples.push_back(sample());
        print("sample", samples.back());
    });

    // The first sample once the key has been held for a while, so the engine's steady state is compared with itself.
    QTimer::singleShot(10000, [&] {
        samples.push_back(sample());
        print("start", samples.back());
        sampler.start();
    });
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    poll.start();
    heartbeat.start();
    app.exec();

    const Sample end = sample();
    print("end", end);
    if (x11) {
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("F5")});
    }
    if (!samples.empty()) {
        const Sample& start = samples.front();
        long maxRss = 0;
        int maxFiles = 0;
        int maxStreams = 0;
        for (const Sample& s : samples) {
            maxRss = std::max(maxRss, s.rssKib);
            maxFiles = std::max(maxFiles, s.files);
            maxStreams = std::max(maxStreams, s.streams);
        }
        std::printf("resident memory: %ld KiB at the start, %ld KiB at the end, %ld KiB at most\n", start.rssKib,
                    end.rssKib, maxRss);
        std::printf("open files: %d at the start, %d at the end, %d at most\n", start.files, end.files, maxFiles);
        std::printf("threads: %d at the start, %d at the end\n", start.threads, end.threads);
        std::printf("streams held: %d at the start, %d at the end, %d at most\n", start.streams, end.streams,
                    maxStreams);
    }
    std::printf("sounds played: %ld\n", plays);
    std::printf("worst GUI-thread stall: longest poll %.3f ms (most CPU time of a poll %.3f ms, longest single "
                "playSoundFile %.3f ms, polls over 5 ms: %ld), worst heartbeat lateness %.3f ms\n",
                static_cast<double>(worstPollNs) / 1e6, static_cast<double>(worstPollCpuNs) / 1e6,
                static_cast<double>(worstPlayNs) / 1e6, slowPolls, static_cast<double>(worstLatenessNs) / 1e6);
    player.stop();
    return 0;
}
