// Fuzz target: the version-information reader over a program image, ELF or PE, and over a bare version block. The
// readers must refuse damage without reading outside the image and without touching the caller's record.
#include "tests/fuzz/fuzzsupport.h"

#include "app/versioninfo.h"

using namespace clavora;

namespace {

const char16_t* const Paths[] = {
    u"\\",
    u"\\VarFileInfo\\Translation",
    u"\\StringFileInfo\\040904B0\\CompanyName",
    u"\\StringFileInfo\\040904E4\\ProductName",
    u"\\\\StringFileInfo\\\\040904b0\\\\FileVersion\\",
    u"\\StringFileInfo",
    u"",
};

void checkValue(QByteArrayView block, const std::optional<VersionBlock::Value>& value) {
    if (value && !value->bytes.isEmpty()) {
        // Values are views into the block, never past its end.
        FUZZ_CHECK(value->bytes.data() >= block.data());
        FUZZ_CHECK(value->bytes.data() + value->bytes.size() <= block.data() + block.size());
    }
}

void queryBlock(QByteArrayView block) {
    const VersionBlock version(block);
    for (const char16_t* path : Paths) {
        const QStringView view(path);
        const std::optional<VersionBlock::Value> value = version.query(view);
        FUZZ_CHECK(version.valid() || !value);
        checkValue(block, value);
        if (const std::optional<QString> text = version.queryString(view)) {
            FUZZ_CHECK(value.has_value());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (fuzz::quietQtMessages(), true);
    (void)quiet;
    const QByteArrayView image(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    VersionStrings untouched;
    untouched.companyName = QStringLiteral("untouched");
    VersionStrings record = untouched;
    int error = 0;
    const Status read = readVersionStringsFromImage(image, record, &error);
    if (!read) {
        FUZZ_CHECK(record == untouched);
        FUZZ_CHECK(error != 0);
    }
    int major = -1;
    int minor = -1;
    if (readFixedFileVersionFromImage(image, major, minor)) {
        FUZZ_CHECK(major >= 0 && major <= 0xFFFF && minor >= 0 && minor <= 0xFFFF);
    } else {
        FUZZ_CHECK(major == -1 && minor == -1);
    }

    const QByteArrayView block = findVersionBlock(image);
    if (!block.isEmpty()) {
        FUZZ_CHECK(block.data() >= image.data() && block.data() + block.size() <= image.data() + image.size());
        queryBlock(block);
    }
    queryBlock(image);
    return 0;
}
