// Cost of the on-screen keyboard: a repaint at the main window's size and at 4K, a key drawn down and up, the redraw
// after the captions changed, and the caption refresh after a switch of the system's keyboard layout.
//   keyboard_bench                     offscreen with fake services unless DISPLAY is set
//   DISPLAY=:N keyboard_bench          on an X server with the real services
//   CLAVORA_BENCH_LAYOUT_SWITCH=1 DISPLAY=:N keyboard_bench
//                                      also BM_LayoutSwitchRefresh, which switches that display's layout between de
//                                      and us with setxkbmap (the layout found is put back); for a test display only
#include "display/onscreenkeyboard.h"
#include "platform/fake/fakekeyboard.h"
#include "platform/fake/fakekeycaptions.h"
#include "platform/fake/fakekeyinjector.h"
#include "platform/x11/linuxkeyboard.h"
#include "platform/x11/linuxkeycaptions.h"
#include "platform/x11/linuxkeyinjector.h"

#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QProcess>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

using clavora::OnScreenKeyboard;

bool onX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// The services the keyboard runs with: the system's on X, fakes otherwise.
struct Services {
    Services() {
        if (onX11()) {
            keyboard = std::make_unique<clavora::platform::LinuxKeyboard>();
            captions = std::make_unique<clavora::platform::LinuxKeyCaptions>();
        } else {
            keyboard = std::make_unique<clavora::platform::FakeKeyboard>();
            captions = std::make_unique<clavora::platform::FakeKeyCaptions>();
        }
    }
    std::unique_ptr<clavora::platform::IKeyboard> keyboard;
    std::unique_ptr<clavora::platform::IKeyCaptions> captions;
    // Nothing is clicked here that would need a real injection.
    clavora::platform::FakeKeyInjector injector;
};

void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct ShownKeyboard {
    explicit ShownKeyboard(QSize size) : keyboard(*services.keyboard, *services.captions, services.injector) {
        keyboard.resize(size);
        keyboard.show();
        settle(50);
        keyboard.repaint();
    }
    Services services;
    OnScreenKeyboard keyboard;
};

// A full repaint with the picture of the keys up already built: what an uncovered window costs.
void BM_KeyboardRepaint(benchmark::State& state) {
    ShownKeyboard shown(QSize(int(state.range(0)), int(state.range(1))));
    for (auto _ : state) {
        shown.keyboard.repaint();
    }
    state.SetLabel(QStringLiteral("%1x%2").arg(state.range(0)).arg(state.range(1)).toStdString());
}
BENCHMARK(BM_KeyboardRepaint)->Args({640, 250})->Args({3840, 1500})->Unit(benchmark::kMicrosecond);

void click(OnScreenKeyboard& keyboard, QPointF at) {
    QMouseEvent press(QEvent::MouseButtonPress, at, keyboard.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&keyboard, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, keyboard.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&keyboard, &release);
}

// A click on Fn, which changes the captions of the digit row, and the whole keyboard drawn again with them: the cost
// of every latch or toggle that changes captions (Shift, AltGr, Caps, Fn).
void BM_KeyboardRedraw(benchmark::State& state) {
    ShownKeyboard shown(QSize(int(state.range(0)), int(state.range(1))));
    const QPointF fn = shown.keyboard.keyInfo(shown.keyboard.indexOfModifier(clavora::modifier::Fn)).rect.center();
    for (auto _ : state) {
        click(shown.keyboard, fn);
        shown.keyboard.repaint();
    }
    state.SetLabel(QStringLiteral("%1x%2").arg(state.range(0)).arg(state.range(1)).toStdString());
}
BENCHMARK(BM_KeyboardRedraw)->Args({640, 250})->Args({3840, 1500})->Unit(benchmark::kMicrosecond);

// A key pressed and let go with the mouse elsewhere (nothing sent): two repaints of that key alone.
void BM_KeyDownAndUp(benchmark::State& state) {
    ShownKeyboard shown(QSize(int(state.range(0)), int(state.range(1))));
    const int key = shown.keyboard.indexOfKey(clavora::platform::PhysicalKey{30, false});
    const QPointF centre = shown.keyboard.keyInfo(key).rect.center();
    for (auto _ : state) {
        QMouseEvent press(QEvent::MouseButtonPress, centre, shown.keyboard.mapToGlobal(centre), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&shown.keyboard, &press);
        shown.keyboard.repaint(shown.keyboard.keyInfo(key).rect);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(0, 0), shown.keyboard.mapToGlobal(QPointF(0, 0)),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&shown.keyboard, &release);
        shown.keyboard.repaint(shown.keyboard.keyInfo(key).rect);
    }
    state.SetLabel(QStringLiteral("%1x%2").arg(state.range(0)).arg(state.range(1)).toStdString());
}
BENCHMARK(BM_KeyDownAndUp)->Args({640, 250})->Args({3840, 1500})->Unit(benchmark::kMicrosecond);

QString runSetxkbmap(const QStringList& arguments, bool* ok = nullptr) {
    QProcess process;
    process.start(QStringLiteral("setxkbmap"), arguments);
    const bool finished = process.waitForFinished(10000);
    if (!finished) {
        process.kill();
        process.waitForFinished(2000);
    }
    if (ok != nullptr) {
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

bool setLayout(const QString& layout) {
    bool ok = false;
    runSetxkbmap({QStringLiteral("-layout"), layout}, &ok);
    return ok;
}

// The arguments that bring the display's current layout back ("-layout us,de -variant ,nodeadkeys").
QStringList currentLayoutArguments() {
    QStringList arguments;
    const QStringList lines = runSetxkbmap({QStringLiteral("-query")}).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        for (const char* field : {"layout", "variant", "options"}) {
            const QString prefix = QString::fromLatin1(field) + QLatin1Char(':');
            if (line.startsWith(prefix)) {
                arguments << QLatin1Char('-') +
                                 QString::fromLatin1(field).replace(QLatin1String("options"), QLatin1String("option"))
                          << line.mid(prefix.size()).trimmed();
            }
        }
    }
    return arguments;
}

// The system's captions without their change notifications, so that the benchmark alone decides when to refresh.
class UnannouncedCaptions : public clavora::platform::IKeyCaptions {
public:
    explicit UnannouncedCaptions(clavora::platform::IKeyCaptions& inner) : m_inner(inner) {}
    QString keyText(clavora::platform::PhysicalKey key, clavora::platform::KeyLevel level) override {
        return m_inner.keyText(key, level);
    }
    void setChangeHandler(std::function<void()>) override {}

private:
    clavora::platform::IKeyCaptions& m_inner;
};

// After setxkbmap: the locale read again, the variant chosen again, the keymap fetched and compiled, every caption
// looked up, and the keyboard drawn with them. The switch itself and the notifications it brings are not timed.
void BM_LayoutSwitchRefresh(benchmark::State& state) {
    if (!onX11() || qEnvironmentVariableIsEmpty("CLAVORA_BENCH_LAYOUT_SWITCH")) {
        state.SkipWithError("needs an X display and CLAVORA_BENCH_LAYOUT_SWITCH=1");
        return;
    }
    const QStringList original = currentLayoutArguments();
    Services services;
    UnannouncedCaptions captions(*services.captions);
    OnScreenKeyboard keyboard(*services.keyboard, captions, services.injector);
    keyboard.resize(640, 250);
    keyboard.show();
    settle(50);
    const QString layouts[] = {QStringLiteral("de"), QStringLiteral("us")};
    int switches = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!setLayout(layouts[switches++ % 2])) {
            state.SkipWithError("setxkbmap failed");
            break;
        }
        // The notifications arrive and mark the keymap stale; nothing is refreshed until the timed part.
        settle(100);
        state.ResumeTiming();
        keyboard.refreshCaptions();
        keyboard.repaint();
    }
    if (keyboard.layout().name != QLatin1String(switches % 2 == 1 ? "Standard102" : "Standard101")) {
        state.SkipWithError("the keyboard did not follow the layout");
    }
    state.counters["switches"] = switches;
    runSetxkbmap(original.isEmpty() ? QStringList{QStringLiteral("-layout"), QStringLiteral("us")} : original);
}
BENCHMARK(BM_LayoutSwitchRefresh)->Iterations(20)->Unit(benchmark::kMillisecond);

} // namespace
