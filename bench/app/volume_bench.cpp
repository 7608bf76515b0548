// GUI-thread cost of one round of the volume timer: reading the volume, placing the slider and checking the
// display's text, on the sound server's volume, on the engine's gain, and in the round that moves the slider.
#include "app/volumecontrol.h"
#include "app/volumetarget.h"
#include "audio/soundplayer.h"
#include "platform/dummy/dummyservices.h"
#include "platform/makeservices.h"
#include "platform/programvolume.h"
#include "tests/support/audio/systemservices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {

using namespace clavora;

// The display's text held the way the main window holds it.
struct DisplayText {
    QString text = QStringLiteral("Press any key");
    int shown = 0;
    StatusTextSink sink() {
        return StatusTextSink{[this] { return text; },
                              [this](const QString& next) {
                                  text = next;
                                  ++shown;
                              }};
    }
};

// The usual round: the volume has not changed since the last one.
void runSteadyTicks(benchmark::State& state, platform::IProgramVolume& volume) {
    QSlider slider;
    QWidget home;
    DisplayText display;
    VolumeControl control(&slider, &home, volume, display.sink());
    control.timer()->stop();
    control.tick();
    for (auto _ : state) {
        control.tick();
    }
    state.counters["position"] = slider.value();
}

// The sound server's volume of the engine's own stream; needs a PulseAudio server (PULSE_SERVER or the session's).
void BM_TickOnSoundServer(benchmark::State& state) {
    const QByteArray previousDriver = qgetenv("SDL_AUDIODRIVER");
    qputenv("SDL_AUDIODRIVER", "pulseaudio");
    audio::SoundPlayer sound{clavora::test::systemAudioServices()};
    if (!sound.start()) {
        state.SkipWithError("no PulseAudio server to play through");
        return;
    }
    const std::unique_ptr<platform::Services> services =
        platform::makeServices(platform::detectSession(std::chrono::seconds(1)));
    std::unique_ptr<platform::IProgramVolume> volume = makeProgramVolume(sound, *services, QString());
    QElapsedTimer waited;
    waited.start();
    while (!volume->isAvailable() && waited.elapsed() < 5000) {
        QThread::msleep(5);
    }
    if (!volume->isAvailable()) {
        state.SkipWithError("the engine's stream was not found at the server");
        return;
    }
    runSteadyTicks(state, *volume);
    volume.reset();
    sound.stop();
    qputenv("SDL_AUDIODRIVER", previousDriver);
}
BENCHMARK(BM_TickOnSoundServer);

void BM_TickOnEngineGain(benchmark::State& state) {
    audio::SoundPlayer sound{clavora::test::systemAudioServices()};
    // No state file: nothing is kept, so the file system is never asked.
    const std::unique_ptr<platform::Services> services = platform::makeDummyServices();
    EngineGainVolume volume(sound, services->fileSystem(), QString());
    runSteadyTicks(state, volume);
}
BENCHMARK(BM_TickOnEngineGain);

// A volume that another program changes before every round: each round moves the slider, writes the step back
// and switches the display's text (the display's own reload is not counted; it belongs to the display).
class AlternatingVolume : public platform::IProgramVolume {
public:
    void follow(const QString&) override {}
    bool isAvailable() override { return true; }
    bool read(platform::ChannelVolume& volume) override {
        m_silent = !m_silent;
        volume = m_silent ? platform::ChannelVolume{0, 0} : platform::ChannelVolume{65535, 65535};
        return true;
    }
    bool write(platform::ChannelVolume volume) override {
        benchmark::DoNotOptimize(volume);
        return true;
    }

private:
    bool m_silent = false;
};

void BM_TickThatMovesTheSlider(benchmark::State& state) {
    AlternatingVolume volume;
    QSlider slider;
    QWidget home;
    DisplayText display;
    VolumeControl control(&slider, &home, volume, display.sink());
    control.timer()->stop();
    for (auto _ : state) {
        control.tick();
    }
    state.counters["text switches/round"] = double(display.shown) / double(state.iterations());
}
BENCHMARK(BM_TickThatMovesTheSlider);

// A write to the sound server as the GUI thread pays for it: handed over, not waited for.
void BM_ServerWrite(benchmark::State& state) {
    const QByteArray previousDriver = qgetenv("SDL_AUDIODRIVER");
    qputenv("SDL_AUDIODRIVER", "pulseaudio");
    audio::SoundPlayer sound{clavora::test::systemAudioServices()};
    if (!sound.start()) {
        state.SkipWithError("no PulseAudio server to play through");
        return;
    }
    const std::unique_ptr<platform::Services> services =
        platform::makeServices(platform::detectSession(std::chrono::seconds(1)));
    platform::IProgramVolume& server = services->programVolume();
    server.follow(QString::fromUtf8(audio::OutputStreamName));
    QElapsedTimer waited;
    waited.start();
    while (!server.isAvailable() && waited.elapsed() < 5000) {
        QThread::msleep(5);
    }
    if (!server.isAvailable()) {
        state.SkipWithError("the engine's stream was not found at the server");
        return;
    }
    quint16 step = 0;
    for (auto _ : state) {
        step = static_cast<quint16>((step + 1) % 9);
        const quint16 channel = volumeForSliderPosition(step);
        server.write({channel, channel});
    }
    sound.stop();
    qputenv("SDL_AUDIODRIVER", previousDriver);
}
BENCHMARK(BM_ServerWrite);

} // namespace
