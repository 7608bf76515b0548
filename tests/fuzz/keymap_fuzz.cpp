// Fuzz target: keys.db as start-up loads it. The first byte picks the user's legacy code page, the rest is the file.
// Every decoding path is tried on the bytes (strict and lenient UTF-8 and UTF-16 in both orders, the code page, the
// byte-order marks), then the start-up step completes the defaults, rewrites the file and reads it back.
#include "tests/fuzz/fuzzsupport.h"

#include "i18n/textcodec.h"
#include "keymap/keymapfile.h"
#include "platform/fake/fakelocale.h"

#include <array>

using namespace clavora;

namespace {

// Pages the program meets on Windows systems, one it has no converter for, and none at all.
constexpr std::array CodePages = {1252, 1250, 1251, 1253, 1254, 1255, 1256, 1257,  1258, 874,
                                  932,  936,  949,  950,  437,  850,  0,    65001, 12345};

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

void checkCodecs(QByteArrayView bytes, int codePage) {
    const std::optional<QString> strictUtf8 = text::decodeStrict(bytes, text::Encoding::Utf8);
    FUZZ_CHECK(strictUtf8.has_value() == text::isStrictUtf8(bytes));
    const QString lenientUtf8 = text::decodeLenient(bytes, text::Encoding::Utf8);
    FUZZ_CHECK(lenientUtf8.isValidUtf16());
    if (strictUtf8) {
        FUZZ_CHECK(*strictUtf8 == lenientUtf8);
        FUZZ_CHECK(strictUtf8->toUtf8() == bytes);
    }
    for (const text::Encoding encoding : {text::Encoding::Utf16LE, text::Encoding::Utf16BE}) {
        const std::optional<QString> strict = text::decodeStrict(bytes, encoding);
        const QString lenient = text::decodeLenient(bytes, encoding);
        FUZZ_CHECK(lenient.isValidUtf16());
        if (strict) {
            FUZZ_CHECK(bytes.size() % 2 == 0);
            FUZZ_CHECK(*strict == lenient);
        }
    }
    if (const auto mark = text::byteOrderMark(bytes)) {
        FUZZ_CHECK(mark->size > 0 && mark->size <= bytes.size());
    }
    text::decodeCodePage(bytes, codePage);
    text::decodeUnicode(bytes);
    for (const QString& line : text::splitLines(text::decodeWithFallback(bytes, codePage))) {
        FUZZ_CHECK(!hasLineBreak(line));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (fuzz::quietQtMessages(), true);
    (void)quiet;
    fuzz::FuzzInput input(data, size);
    const int codePage = CodePages[input.takeByte() % CodePages.size()];
    const QByteArrayView bytes = input.rest();
    checkCodecs(bytes, codePage);

    fuzz::MemoryFileSystem files;
    platform::FakeLocale locale;
    locale.codePage = codePage;
    const KeyMapFile keyMapFile(files, locale);
    files.put(QStringLiteral("/data/keys.db"), bytes.toByteArray());

    KeyMap keyMap;
    FUZZ_CHECK(keyMapFile.load(QStringLiteral("/data"), files.programFolder(), keyMap));
    const QStringList lines = keyMap.lines();
    FUZZ_CHECK(missingDefaultBindings(lines).isEmpty());
    FUZZ_CHECK(KeyMap::fromLines(lines) == keyMap);

    // What start-up left on disk gives the same map at the next start, and saving it changes nothing.
    QStringList again;
    FUZZ_CHECK(keyMapFile.read(QStringLiteral("/data/keys.db"), again));
    FUZZ_CHECK(KeyMap::fromLines(again) == keyMap);
    FUZZ_CHECK(keyMapFile.save(QStringLiteral("/data/saved.db"), keyMap));
    FUZZ_CHECK(keyMapFile.read(QStringLiteral("/data/saved.db"), again));
    FUZZ_CHECK(again == lines);

    // Every binding is found under its own key (a few are enough: the lookup walks the whole map).
    for (qsizetype row = 0; row < std::min<qsizetype>(keyMap.rowCount(), 16); ++row) {
        const Binding& binding = keyMap.row(row);
        FUZZ_CHECK(keyMap.pathsFor(binding.key).contains(binding.path));
    }
    return 0;
}
