// Fuzz target: settings.ini as start-up opens it, and the store's round trip: whatever was read is written so that
// reading it again gives the same store and the same options.
#include "tests/fuzz/fuzzsupport.h"

#include "app/options.h"
#include "app/settingsini.h"

using namespace clavora;

namespace {

bool sameOptions(const TOptions& a, const TOptions& b) {
    return a.MinimizeToSystemTray == b.MinimizeToSystemTray && a.MinimizeStartup == b.MinimizeStartup &&
           a.HotkeyMode == b.HotkeyMode && a.AllowOverlappingSounds == b.AllowOverlappingSounds &&
           a.KeyboardLayout == b.KeyboardLayout && a.MatrixDisplay == b.MatrixDisplay;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (fuzz::quietQtMessages(), true);
    (void)quiet;
    const QString path = QStringLiteral("/data/settings.ini");
    fuzz::MemoryFileSystem files;
    platform::ScopedService<platform::IFileSystem> fileService(files);
    files.put(path, QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));

    TSettingsIni settings = OpenSettingsIni(QStringLiteral("/data/"));
    const TOptions options = ReadOptions(settings);
    const QByteArray written = settings.toBytes();
    FUZZ_CHECK(settings.updateFile());

    TSettingsIni reread = OpenSettingsIni(QStringLiteral("/data"));
    FUZZ_CHECK(reread.toBytes() == written);
    FUZZ_CHECK(sameOptions(ReadOptions(reread), options));

    // An option command after a hand-edited file: the value it stores is the value read back.
    reread.writeString(SettingsSection, KeyHotkeyMode, OnOff(!options.HotkeyMode));
    reread.deleteKey(SettingsSection, KeyMatrixDisplay);
    FUZZ_CHECK(reread.updateFile());
    TSettingsIni changed = OpenSettingsIni(QStringLiteral("/data/"));
    FUZZ_CHECK(ReadOptions(changed).HotkeyMode == !options.HotkeyMode);
    FUZZ_CHECK(ReadOptions(changed).MatrixDisplay);
    return 0;
}
