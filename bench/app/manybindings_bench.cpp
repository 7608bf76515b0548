// GUI-thread cost of a key map that binds a hundred thousand distinct files: every start-up step up to the window on
// the screen, and one Delete in Redefine Keys (the file rewritten, the list and the engine's bound sounds brought up
// to date). The files are short WAV sounds, so the engine's head cache decodes their starts meanwhile, off the GUI
// thread.
#include "app/mainwindow.h"
#include "app/soundboard.h"
#include "app/startup.h"
#include "app/widgetnames.h"
#include "keymap/redefinekeysdialog.h"
#include "platform/fake/fakeservices.h"
#include "platform/posix/linuxfilesystem.h"
#include "tests/support/audio/audiotestsupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <memory>

namespace {

using namespace clavora;

// A tenth of a second of 16-bit mono silence at 44.1 kHz.
QByteArray shortWave() {
    return test::wavBytes16(44100, 1, std::vector<qint16>(4410, 0));
}

// A program folder whose keys.db binds Count distinct sound files, made once for all the benchmarks.
struct ManyBindings {
    static constexpr int Count = 100000;
    QTemporaryDir root;
    QString programFolder;

    ManyBindings() {
        // No request leaves the machine, nothing is written in the user's own folders, and the output is silent.
        qputenv("CLAVORA_WEB_HOST", "127.0.0.1:9");
        qputenv("HOME", QFile::encodeName(root.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.path() + QStringLiteral("/.config")));
        qputenv("XDG_STATE_HOME", QFile::encodeName(root.path() + QStringLiteral("/.local/state")));
        if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) {
            qputenv("SDL_AUDIODRIVER", "dummy");
        }
        programFolder = root.path() + QStringLiteral("/program");
        QDir().mkpath(programFolder + QStringLiteral("/Sounds"));
        const QByteArray wave = shortWave();
        QByteArray keys;
        keys.reserve(Count * 40);
        for (int i = 0; i < Count; ++i) {
            const QString name = QStringLiteral("Sounds/%1.wav").arg(i);
            QFile file(programFolder + QLatin1Char('/') + name);
            if (file.open(QIODevice::WriteOnly)) {
                file.write(wave);
            }
            // Keys repeat, as they do in a real key map: several files on one key.
            keys += QByteArray(1, char('a' + i % 26)) + '|' + name.toUtf8() + "\r\n";
        }
        QFile file(programFolder + QStringLiteral("/keys.db"));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(keys);
        }
    }
};

// CPU time of the calling thread, in seconds.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

ManyBindings& manyBindings() {
    static ManyBindings bindings;
    return bindings;
}

// The system's own file access (its reads, its safe replacement of a file), with the program's folder and the
// per-user folders moved to the ones above.
class MovedFileSystem : public platform::LinuxFileSystem {
public:
    explicit MovedFileSystem(QString programFolder) : m_programFolder(std::move(programFolder)) {}
    QString programFilePath() override { return m_programFolder + QStringLiteral("/clavora"); }
    QString programFolder() override { return m_programFolder; }
    QString userConfigFolder() override { return m_programFolder + QStringLiteral("/../config"); }
    QString userStateFolder() override { return m_programFolder + QStringLiteral("/../state"); }

private:
    QString m_programFolder;
};

// The platform's services: the real file system on the folders above; nothing else real, as in the tests.
struct FakePlatform {
    explicit FakePlatform(const QString& programFolder)
        : files(programFolder), services(fakes.services().withParts(
                                    [this](platform::Services::Parts& parts) { parts.fileSystem = &files; })) {}

    MovedFileSystem files;
    platform::FakeServices fakes;
    std::unique_ptr<platform::Services> services;
};

// Every start-up step and the window shown, with the key map above.
void BM_StartAndShowWithManyBindings(benchmark::State& state) {
    ManyBindings& bindings = manyBindings();
    double guiCpu = 0;
    for (auto _ : state) {
        FakePlatform platform(bindings.programFolder);
        QElapsedTimer timer;
        timer.start();
        const double cpu = threadSeconds();
        auto startup = std::make_unique<Startup>(*platform.services, QStringList());
        startup->run();
        startup->window().show();
        QCoreApplication::processEvents();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        guiCpu += threadSeconds() - cpu;
        state.counters["bindings"] = double(startup->keyMap().rows().size());
        startup.reset();
        QCoreApplication::processEvents();
    }
    // The GUI thread's own work, without what it waited for (the disk, the scheduler of a busy machine).
    state.counters["gui_cpu_ms"] = guiCpu * 1000 / double(state.iterations());
}
BENCHMARK(BM_StartAndShowWithManyBindings)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// One selected row deleted in Redefine Keys, until the engine has the bound sounds without it.
void BM_DeleteOneOfManyBindings(benchmark::State& state) {
    ManyBindings& bindings = manyBindings();
    const QByteArray keys = [&] {
        QFile file(bindings.programFolder + QStringLiteral("/keys.db"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    FakePlatform platform(bindings.programFolder);
    auto startup = std::make_unique<Startup>(*platform.services, QStringList());
    startup->run();
    startup->window().show();
    QCoreApplication::processEvents();
    int left = 0;
    double guiCpu = 0;
    for (auto _ : state) {
        double seconds = 0;
        QTimer::singleShot(0, &startup->window(), [&] {
            auto* dialog = qobject_cast<RedefineKeysDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            auto* list = dialog->findChild<QTableWidget*>();
            list->selectRow(list->rowCount() / 2);
            QElapsedTimer timer;
            timer.start();
            const double cpu = threadSeconds();
            dialog->deleteSelectedRows();
            QCoreApplication::processEvents();
            seconds = double(timer.nsecsElapsed()) / 1e9;
            guiCpu += threadSeconds() - cpu;
            left = list->rowCount();
            dialog->reject();
        });
        const QList<QAction*> actions =
            startup->window().findChildren<QAction*>(QString(widgetnames::RedefineKeysAction));
        if (actions.isEmpty()) {
            state.SkipWithError("no Redefine Keys command");
            break;
        }
        actions.first()->trigger();
        state.SetIterationTime(seconds);
    }
    state.counters["rows_left"] = left;
    state.counters["gui_cpu_ms"] = guiCpu * 1000 / double(state.iterations());
    startup.reset();
    QFile file(bindings.programFolder + QStringLiteral("/keys.db"));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(keys);
    }
}
BENCHMARK(BM_DeleteOneOfManyBindings)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The part of a Delete that tells the engine which sounds are bound: every path resolved and queued for its head.
void BM_BoundSoundsOfManyBindings(benchmark::State& state) {
    ManyBindings& bindings = manyBindings();
    FakePlatform platform(bindings.programFolder);
    auto startup = std::make_unique<Startup>(*platform.services, QStringList());
    startup->run();
    double guiCpu = 0;
    for (auto _ : state) {
        const double cpu = threadSeconds();
        startup->soundBoard().keyMapChanged();
        guiCpu += threadSeconds() - cpu;
    }
    state.counters["gui_cpu_ms"] = guiCpu * 1000 / double(state.iterations());
}
BENCHMARK(BM_BoundSoundsOfManyBindings)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
