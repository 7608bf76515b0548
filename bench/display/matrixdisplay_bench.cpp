// Cost of the LED display on the main window's strip: one scroll tick end to end, its parts, and the whole process's
// CPU load while the text runs at the main window's 100 ms.
//   display_bench                      offscreen unless DISPLAY is set
//   QT_QPA_PLATFORM=xcb display_bench  on an X server (for the CPU figure that includes the X round trips)
#include "app/widgetnames.h"
#include "display/ledmatrixdisplay.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QVBoxLayout>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <memory>

namespace widgetnames = clavora::widgetnames;

namespace {

using clavora::LedMatrixDisplay;

// The main window's layout around the display: a 646-pixel-wide window whose top strip, 65 pixels high and
// disabled, holds the display.
struct MainWindowStrip {
    MainWindowStrip() {
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto* panel1 = new QWidget(window.get());
        panel1->setObjectName(QString(widgetnames::DisplayPanel));
        panel1->setFixedHeight(65);
        panel1->setEnabled(false);
        layout->addWidget(panel1);
        layout->addStretch(1);
        display = clavora::createMainWindowDisplay(panel1);
        window->resize(646, 341);
        window->show();
        QCoreApplication::processEvents();
        clavora::showDisplayText(display, QStringLiteral("Press any key"));
        display->repaint();
    }

    std::unique_ptr<QWidget> window;
    LedMatrixDisplay* display = nullptr;
};

// One tick as the timer runs it: shift, rebuild of the buffer and the copy to the window, synchronously.
void BM_ScrollTick(benchmark::State& state) {
    MainWindowStrip strip;
    strip.display->scroller()->setActive(false);
    if (state.range(0) == 1) {
        strip.display->setCellShape(clavora::CellShape::Round);
    }
    for (auto _ : state) {
        strip.display->scrollTick();
        strip.display->repaint();
    }
    state.counters["cells"] = double(strip.display->cols()) * strip.display->rows();
    state.SetLabel(state.range(0) == 1 ? "round cells" : "square cells");
}
BENCHMARK(BM_ScrollTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A repaint without a change (an uncovered window): the copy from the buffer alone.
void BM_RepaintFromBuffer(benchmark::State& state) {
    MainWindowStrip strip;
    strip.display->scroller()->setActive(false);
    for (auto _ : state) {
        strip.display->repaint();
    }
}
BENCHMARK(BM_RepaintFromBuffer)->Unit(benchmark::kMicrosecond);

// What the volume timer and every resize cost: clear, render the text, load the mask.
void BM_ShowDisplayText(benchmark::State& state) {
    MainWindowStrip strip;
    strip.display->scroller()->setActive(false);
    for (auto _ : state) {
        clavora::showDisplayText(strip.display, QStringLiteral("Press any key"));
        strip.display->repaint();
    }
}
BENCHMARK(BM_ShowDisplayText)->Unit(benchmark::kMicrosecond);

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The window showing the running text and nothing else, for CLAVORA_BENCH_IDLE_SECONDS (default 10): CPU time of
// the whole process as a percentage of one core.
void BM_IdleScrollingCpu(benchmark::State& state) {
    const int seconds = qEnvironmentVariableIsSet("CLAVORA_BENCH_IDLE_SECONDS")
                            ? std::max(1, qEnvironmentVariableIntValue("CLAVORA_BENCH_IDLE_SECONDS"))
                            : 10;
    MainWindowStrip strip;
    int ticks = 0;
    QObject::connect(strip.display->scrollTimer(), &QTimer::timeout, [&] { ++ticks; });
    double cpuPercent = 0;
    for (auto _ : state) {
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        QElapsedTimer wall;
        const double cpuBefore = cpuSeconds();
        wall.start();
        loop.exec();
        cpuPercent = 100.0 * (cpuSeconds() - cpuBefore) / (double(wall.nsecsElapsed()) / 1e9);
    }
    state.counters["cpu_percent_of_core"] = cpuPercent;
    state.counters["ticks"] = ticks;
}
BENCHMARK(BM_IdleScrollingCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
