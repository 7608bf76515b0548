// One whole update check as the main window runs it, against a server on 127.0.0.1: how long the GUI thread is held
// by the check (target: never more than 1 ms at a time), and how long the check takes from start to finish.
// Every event the checker and its timer receive on the GUI thread is timed, as are its construction and start; the
// worker's time does not count, since the GUI thread goes on meanwhile.
#include "online/updatechecker.h"
#include "platform/makeservices.h"
#include "tests/online/localservers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

namespace {

using namespace clavora;
using namespace clavora::online;

// Times every event delivered to the checker or to one of its children.
class TimingApplication : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (!watched || (receiver != watched && receiver->parent() != watched)) {
            return QCoreApplication::notify(receiver, event);
        }
        QElapsedTimer clock;
        clock.start();
        const bool handled = QCoreApplication::notify(receiver, event);
        longestNs = std::max(longestNs, clock.nsecsElapsed());
        return handled;
    }

    QObject* watched = nullptr;
    qint64 longestNs = 0;
};

TimingApplication* App = nullptr;

const std::string Reply = "<version>9.9</version>\r\n<url>https://www.zemtrak.com/get/</url>\r\n\r\n"
                          "<result>1</result>\r\n\r\n<important></important>\r\n";

void BM_UpdateCheck(benchmark::State& state, bool overTls) {
    test::TestAuthority authority;
    test::LocalServer server(overTls ? &authority : nullptr);
    server.setReply(Reply);
    // Plain: HTTPS cannot reach the server at all (its attempts go to a proxy port where nothing listens), so the
    // plain retry answers.
    const char* const proxyVariables[] = {"https_proxy", "no_proxy", "NO_PROXY"};
    QList<QByteArray> saved;
    for (const char* name : proxyVariables) {
        saved << qgetenv(name);
    }
    if (!overTls) {
        qputenv("https_proxy", QStringLiteral("http://127.0.0.1:%1").arg(test::closedPort()).toLatin1());
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
    }
    QTemporaryDir folder;
    qint64 longestNs = 0;
    qint64 totalCheckNs = 0;
    int notices = 0;

    const std::unique_ptr<platform::Services> services =
        platform::makeServices(platform::detectSession(std::chrono::seconds(1)));
    for (auto _ : state) {
        UpdateCheckContext context = makeUpdateCheckContext(*services, QStringLiteral("Zemtrak"),
                                                            QStringLiteral("Clavora"), QStringLiteral("3.2"));
        context.webHost = server.host();
        context.storeFolder = folder.path();
        context.caFile = authority.caFile();
        context.pollIntervalMs = 5; // the program polls once a second; shorter here so the runs do not take all day
        // Every check is the first of its day, so none is held back by the daily limit.
        QFile::remove(folder.path() + QStringLiteral("/updatecheck.ini"));

        QElapsedTimer total;
        total.start();
        App->longestNs = 0;
        QElapsedTimer clock;
        clock.start();
        auto checker = std::make_unique<UpdateChecker>(context);
        App->watched = checker.get();
        checker->start();
        App->longestNs = std::max(App->longestNs, clock.nsecsElapsed());

        QEventLoop loop;
        QObject::connect(checker.get(), &UpdateChecker::showNotice, [&] { ++notices; });
        QObject::connect(checker.get(), &UpdateChecker::checkFinished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        totalCheckNs += total.nsecsElapsed();

        clock.start();
        App->watched = nullptr;
        checker.reset();
        longestNs = std::max({longestNs, App->longestNs, clock.nsecsElapsed()});
    }
    for (qsizetype i = 0; i < saved.size(); ++i) {
        if (saved[i].isNull()) {
            qunsetenv(proxyVariables[i]);
        } else {
            qputenv(proxyVariables[i], saved[i]);
        }
    }
    if (notices != int(state.iterations())) {
        state.SkipWithError("a check did not announce the newer version");
    }
    state.counters["gui_longest_us"] = double(longestNs) / 1000.0;
    state.counters["check_ms"] = benchmark::Counter(double(totalCheckNs) / 1e6 / double(state.iterations()));
}
BENCHMARK_CAPTURE(BM_UpdateCheck, https, true)->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK_CAPTURE(BM_UpdateCheck, https_unreachable_then_http, false)->Unit(benchmark::kMillisecond)->Iterations(40);

} // namespace

int main(int argc, char** argv) {
    TimingApplication app(argc, argv);
    App = &app;
    QLoggingCategory::setFilterRules(QStringLiteral("clavora.online.info=false"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
