// Fuzz target: settings.ini as start-up opens it, and the store's round trip: whatever was read is written so that
// reading it again gives the same store and the same options, and an option changed after that reads back as set.
#include "tests/fuzz/fuzzsupport.h"

#include "app/options.h"
#include "app/settingsstore.h"

using namespace clavora;

namespace {

std::array<QString, OptionCount> valuesOf(SettingsStore& store) {
    Options options(store);
    options.load();
    std::array<QString, OptionCount> values;
    for (const OptionRow& row : optionTable()) {
        values[size_t(row.option)] = options.value(row.option);
        FUZZ_CHECK(options.value(row.option) == interpretStoredValue(row, options.value(row.option)));
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (fuzz::quietQtMessages(), true);
    (void)quiet;
    const QString path = QStringLiteral("/data/settings.ini");
    fuzz::MemoryFileSystem files;
    files.put(path, QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));

    SettingsStore settings = openSettingsStore(files, QStringLiteral("/data/"));
    const auto values = valuesOf(settings);
    const QByteArray written = settings.toBytes();
    FUZZ_CHECK(settings.updateFile());

    SettingsStore reread = openSettingsStore(files, QStringLiteral("/data"));
    FUZZ_CHECK(reread.toBytes() == written);
    FUZZ_CHECK(valuesOf(reread) == values);

    // An option command after a hand-edited file: the value it stores is the value read back, the others stay.
    Options options(reread);
    options.load();
    const bool hotkeys = options.isOn(Option::HotkeyMode);
    FUZZ_CHECK(options.setOn(Option::HotkeyMode, !hotkeys));
    SettingsStore changed = openSettingsStore(files, QStringLiteral("/data/"));
    auto expected = values;
    expected[size_t(Option::HotkeyMode)] = onOff(!hotkeys);
    FUZZ_CHECK(valuesOf(changed) == expected);
    return 0;
}
