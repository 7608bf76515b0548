// The main function of the benchmarks that need a Qt application: offscreen unless a display is there, without the
// offscreen platform's warnings about window sizes, which would bury the results.
#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

QtMessageHandler previousHandler = nullptr;

void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("propagateSizeHints"))) {
        return;
    }
    previousHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    previousHandler = qInstallMessageHandler(quietMessages);
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
