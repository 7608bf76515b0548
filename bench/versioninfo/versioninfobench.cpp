// Benchmarks of the version information reader. Start-up reads the program's own file twice (the strings and the
// fixed version); these show what that costs, and what a Windows program file costs for comparison.
#include "app/versioninfo.h"
#include "platform/posix/linuxfilesystem.h"

#include <QFile>
#include <benchmark/benchmark.h>

namespace {

clavora::platform::LinuxFileSystem Files;

const QString ProgramFile = QStringLiteral(CLAVORA_BENCH_PROGRAM_DIR "/clavora");
const QString WindowsFile = QStringLiteral(CLAVORA_BENCH_SOURCE_DIR "/tests/data/app/full.exe");

void ReadStrings(benchmark::State& state, const QString& file) {
    for (auto _ : state) {
        clavora::VersionStrings data;
        const clavora::Status status = clavora::readVersionStrings(Files, file, data);
        if (!status.ok()) {
            state.SkipWithError(status.message().toStdString().c_str());
            return;
        }
        benchmark::DoNotOptimize(data);
    }
}

void BM_ReadVersionStrings_Program(benchmark::State& state) {
    ReadStrings(state, ProgramFile);
}
void BM_ReadVersionStrings_WindowsProgram(benchmark::State& state) {
    ReadStrings(state, WindowsFile);
}

void BM_ReadFixedFileVersion_Program(benchmark::State& state) {
    for (auto _ : state) {
        int major = 0, minor = 0;
        if (!clavora::readFixedFileVersion(Files, ProgramFile, major, minor)) {
            state.SkipWithError("no fixed version");
            return;
        }
        benchmark::DoNotOptimize(major);
    }
}

// The parse alone, with the file already in memory: how much of the above is I/O.
void BM_ReadVersionStrings_InMemory(benchmark::State& state) {
    QFile file(ProgramFile);
    if (!file.open(QIODevice::ReadOnly)) {
        state.SkipWithError("program file missing");
        return;
    }
    const QByteArray image = file.readAll();
    for (auto _ : state) {
        clavora::VersionStrings data;
        benchmark::DoNotOptimize(clavora::readVersionStringsFromImage(image, data).ok());
    }
}

BENCHMARK(BM_ReadVersionStrings_Program)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadVersionStrings_WindowsProgram)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadFixedFileVersion_Program)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadVersionStrings_InMemory)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
