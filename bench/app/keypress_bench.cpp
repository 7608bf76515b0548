// GUI-thread cost of one key press through the sound board, with the per-key features on and with them off: the
// bindings' own volumes (read from bindings.ini), Press Again to Stop, and Even Out Loudness with every bound sound
// measured before (its levels read back from the cache file). The key map binds a few hundred keys to short WAV
// sounds, the engine runs on SDL's dummy driver unless SDL_AUDIODRIVER says otherwise, and the starts of the sounds
// are decoded ahead before the first press, as after start-up.
//
// Each press is one of: a character typed into the focused window (playTypedKey), a key the system told of going
// down and up in hotkey mode (keyWentDown, keyWentUp), a key played by its name for a caller outside the program
// (playKey). The presses go round the key map, one key after the other. The CPU column is the GUI thread's own time;
// the engine's threads are not in it.
#include "app/options.h"
#include "app/settingsstore.h"
#include "app/soundboard.h"
#include "audio/soundplayer.h"
#include "keymap/keymap.h"
#include "keymap/keymapfile.h"
#include "platform/fake/fakekeyboard.h"
#include "platform/keyboard.h"
#include "tests/support/audio/systemservices.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

namespace {

using namespace clavora;

constexpr int Rate = 44100;

// A 16-bit mono WAV file of Samples frames of a tone, loud enough to be measured.
QByteArray toneWave(int samples, double frequency) {
    QByteArray data(samples * 2, Qt::Uninitialized);
    for (int i = 0; i < samples; ++i) {
        const auto value = static_cast<qint16>(12000 * std::sin(2 * M_PI * frequency * i / Rate));
        qToLittleEndian<qint16>(value, data.data() + i * 2);
    }
    QByteArray wave;
    const auto u32 = [&wave](quint32 v) {
        char bytes[4];
        qToLittleEndian(v, bytes);
        wave.append(bytes, 4);
    };
    const auto u16 = [&wave](quint16 v) {
        char bytes[2];
        qToLittleEndian(v, bytes);
        wave.append(bytes, 2);
    };
    wave += "RIFF";
    u32(quint32(36 + data.size()));
    wave += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(Rate);
    u32(Rate * 2);
    u16(2);
    u16(16);
    wave += "data";
    u32(quint32(data.size()));
    return wave + data;
}

// The keys of the map: the letters and digits the hotkey path names, then single characters typed in the window.
QStringList keyNames() {
    QStringList names;
    for (char c = 'a'; c <= 'z'; ++c) {
        names << QString(QLatin1Char(c));
    }
    for (char c = '0'; c <= '9'; ++c) {
        names << QString(QLatin1Char(c));
    }
    // Latin Extended-A and -B letters: each types itself.
    for (char16_t c = 0x100; names.size() < 300; ++c) {
        names << QString(QChar(c));
    }
    return names;
}

// The sound files, the key map with and without the volumes of bindings.ini, and the loudness cache, made once for
// all the benchmarks.
struct KeyPressSetup {
    QTemporaryDir root;
    QStringList keys = keyNames();
    KeyMap plainMap;
    KeyMap mapWithVolumes;
    QString cacheFile;
    int volumesLoaded = 0;
    bool ready = false;

    KeyPressSetup() {
        qputenv("HOME", QFile::encodeName(root.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.path() + QStringLiteral("/.config")));
        qputenv("XDG_STATE_HOME", QFile::encodeName(root.path() + QStringLiteral("/.local/state")));
        if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) {
            qputenv("SDL_AUDIODRIVER", "dummy");
        }
        QStringList lines;
        for (qsizetype i = 0; i < keys.size(); ++i) {
            // A twentieth of a second each, at pitches that differ, so no two files are the same sound.
            const QString path = root.filePath(QStringLiteral("%1.wav").arg(i));
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(toneWave(Rate / 20, 200.0 + 5.0 * double(i))) < 0) {
                return;
            }
            lines << keys[i] + QLatin1Char('|') + path;
        }
        plainMap = KeyMap::fromLines(lines);

        // Every other binding at a volume of its own, written to bindings.ini and read back as start-up reads it.
        const platform::Services& services = test::systemServices();
        const KeyMapFile keyMapFile(services);
        KeyMap withVolumes = plainMap;
        for (qsizetype i = 0; i < withVolumes.rowCount(); i += 2) {
            withVolumes.setGain(i, gainOfVolume(int(60 + i % 40)));
        }
        const QString volumesFile = root.filePath(QString::fromLatin1(VolumesFileName));
        if (!keyMapFile.saveVolumes(volumesFile, withVolumes).ok()) {
            return;
        }
        mapWithVolumes = plainMap;
        if (!keyMapFile.loadVolumes(volumesFile, mapWithVolumes).ok()) {
            return;
        }
        for (const Binding& binding : mapWithVolumes.rows()) {
            volumesLoaded += binding.gain != 1.0f ? 1 : 0;
        }

        // Every bound sound measured once, into the cache the benchmarks' players read.
        cacheFile = root.filePath(QStringLiteral("loudness.cache"));
        audio::SoundPlayer measuring{test::systemAudioServices()};
        measuring.setEvenLoudness(true, cacheFile);
        QStringList paths;
        for (const Binding& binding : plainMap.rows()) {
            paths << binding.path;
        }
        measuring.setBoundSounds(paths);
        ready = measuring.loudness() != nullptr && measuring.loudness()->waitUntilIdle(120000) &&
                measuring.loudness()->measurements() == int(paths.size());
    }
};

KeyPressSetup& setup() {
    static KeyPressSetup instance;
    return instance;
}

enum class Press { Typed, WentDown, ByName };

// A sound board with the features on (the first argument 1) or off (0), and overlapping sounds allowed (the second
// argument 1) or not (0), whose player runs and has the starts of the bound sounds decoded.
class Board {
public:
    Board(KeyPressSetup& s, bool features, bool overlapping)
        : m_store(test::systemServices().fileSystem(),
                  s.root.filePath(QStringLiteral("settings-%1%2.ini").arg(int(features)).arg(int(overlapping)))),
          m_options(m_store),
          m_board(features ? s.mapWithVolumes : s.plainMap, m_options, m_player, m_keyboard, QLatin1Char('.')) {
        m_options.load();
        ok = m_options.setOn(Option::PressAgainToStop, features).ok() &&
             m_options.setOn(Option::EvenLoudness, features).ok() &&
             m_options.setOn(Option::AllowOverlappingSounds, overlapping).ok() &&
             m_options.setOn(Option::HotkeyMode, true).ok() && m_player.start();
        m_board.setEvenLoudness(features, features ? s.cacheFile : QString());
        m_board.keyMapChanged();
        if (features) {
            // Read from the cache: nothing is measured again.
            ok = ok && m_player.loudness() != nullptr && m_player.loudness()->waitUntilIdle(60000) &&
                 m_player.loudness()->measurements() == 0;
        }
        ok = ok && m_player.engine().waitUntilPrepared(60000);
    }
    ~Board() { m_player.stop(); }

    bool ok = false;

    void press(Press how, const QString& key) {
        switch (how) {
        case Press::Typed:
            m_board.playTypedKey(0, key);
            break;
        case Press::WentDown: {
            const int virtualKey = key[0].toUpper().unicode();
            m_keyboard.press(virtualKey);
            m_board.keyWentDown(virtualKey, input::KeyFocus::Elsewhere);
            m_keyboard.release(virtualKey);
            m_board.keyWentUp(virtualKey);
            break;
        }
        case Press::ByName:
            benchmark::DoNotOptimize(m_board.playKey(key));
            break;
        }
    }
    quint32 newestStream() const { return m_player.newestStream(); }

private:
    SettingsStore m_store;
    Options m_options;
    audio::SoundPlayer m_player{test::systemAudioServices()};
    platform::FakeKeyboard m_keyboard;
    SoundBoard m_board;
};

void runPresses(benchmark::State& state, Press how) {
    KeyPressSetup& s = setup();
    if (!s.ready) {
        state.SkipWithError("the sound files could not be made or measured");
        return;
    }
    const bool features = state.range(0) != 0;
    const bool overlapping = state.range(1) != 0;
    Board board(s, features, overlapping);
    if (!board.ok) {
        state.SkipWithError("the sound board could not be set up (options, output, decoded starts, cache)");
        return;
    }
    // The hotkey path names the letters and digits; the others go round the whole map.
    const qsizetype keyCount = how == Press::WentDown ? 36 : s.keys.size();
    qsizetype next = 0;
    qint64 presses = 0;
    quint32 lastStream = 0;
    qint64 started = 0;
    for (auto _ : state) {
        board.press(how, s.keys[next]);
        next = (next + 1) % keyCount;
        ++presses;
        if (board.newestStream() != lastStream) {
            lastStream = board.newestStream();
            ++started;
        }
        if (presses % 256 == 0) {
            // What the engine handed back to this thread, outside the presses' time.
            state.PauseTiming();
            QCoreApplication::processEvents();
            state.ResumeTiming();
        }
    }
    state.counters["started/press"] = double(started) / double(presses);
    state.counters["bindings"] = double(s.keys.size());
    state.counters["own_volumes"] = features ? double(s.volumesLoaded) : 0.0;
}

void BM_TypedKey(benchmark::State& state) {
    runPresses(state, Press::Typed);
}
void BM_HotkeyWentDown(benchmark::State& state) {
    runPresses(state, Press::WentDown);
}
void BM_KeyByName(benchmark::State& state) {
    runPresses(state, Press::ByName);
}

// {features, overlapping}: the features off and on, without and with overlapping sounds.
void pressArguments(benchmark::internal::Benchmark* b) {
    b->ArgNames({"features", "overlap"});
    for (const int overlapping : {0, 1}) {
        for (const int features : {0, 1}) {
            b->Args({features, overlapping});
        }
    }
    b->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_TypedKey)->Apply(pressArguments);
BENCHMARK(BM_HotkeyWentDown)->Apply(pressArguments);
BENCHMARK(BM_KeyByName)->Apply(pressArguments);

} // namespace
