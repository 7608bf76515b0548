// Cost of one hotkey poll: keyboard snapshot, key naming and the key-map lookup, with 100 bindings.
#include "input/hotkeypoll.h"
#include "input/keynaming.h"
#include "platform/fake/fakekeyboard.h"
#include "platform/x11/linuxkeyboard.h"

#include <benchmark/benchmark.h>

namespace {

using namespace clavora;

KeyMap hundredBindings() {
    QStringList list;
    const char* names[] = {"a", "A", "SHIFT", "CTRL", "STRG", "ALT", "F5", " ", "ENTER", "7"};
    for (int i = 0; i < 100; ++i) {
        list << QString::fromLatin1(names[i % 10]) + QStringLiteral("|Sounds/sound%1.mp3").arg(i);
    }
    return KeyMap::fromLines(list);
}

// Ctrl+Shift+A and F5 held: eight names, each walked over the whole list.
void BM_PollWithFakeKeyboard(benchmark::State& state) {
    platform::FakeKeyboard keyboard;
    keyboard.press(platform::vk::LControl);
    keyboard.press(platform::vk::LShift);
    keyboard.press('A');
    keyboard.press(platform::vk::F1 + 4);
    const KeyMap keyMap = hundredBindings();
    int played = 0;
    const input::PlaySound play = [&](const Binding&) { ++played; };
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            input::pollHotkeys(keyboard, QLatin1Char('.'), keyMap, input::KeyFocus::Elsewhere, play));
    }
    state.counters["plays/poll"] = double(played) / double(state.iterations());
}
BENCHMARK(BM_PollWithFakeKeyboard);

void BM_NamingOnly(benchmark::State& state) {
    platform::FakeKeyboard keyboard;
    keyboard.press(platform::vk::LControl);
    keyboard.press(platform::vk::LShift);
    keyboard.press('A');
    const platform::KeyStateSnapshot keys = keyboard.snapshot();
    for (auto _ : state) {
        benchmark::DoNotOptimize(input::keyNames(keys, QStringLiteral("en-US"), QLatin1Char('.')));
    }
}
BENCHMARK(BM_NamingOnly);

// The real reader on $DISPLAY: one XQueryKeymap round trip per poll, the layout answered from its cache.
void BM_PollWithX11Keyboard(benchmark::State& state) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("needs an X display");
        return;
    }
    platform::LinuxKeyboard keyboard;
    if (!keyboard.connected()) {
        state.SkipWithError("cannot open the X display");
        return;
    }
    const KeyMap keyMap = hundredBindings();
    const input::PlaySound play = [](const Binding&) {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            input::pollHotkeys(keyboard, QLatin1Char('.'), keyMap, input::KeyFocus::Elsewhere, play));
    }
}
BENCHMARK(BM_PollWithX11Keyboard)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
