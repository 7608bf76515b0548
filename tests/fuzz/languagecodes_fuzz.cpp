// Fuzz target: the language code table (LanguageCodes.csv) as start-up reads it to choose the language file. The
// first two bytes are the user's language identifier, the third picks the legacy code page, the rest is the table.
// Whatever the table says, the choice is one of the installed files or none.
#include "tests/fuzz/fuzzsupport.h"

#include "i18n/textcodec.h"
#include "i18n/translator.h"
#include "platform/fake/fakeservices.h"

#include <array>

using namespace clavora;

namespace {

constexpr std::array CodePages = {1252, 1251, 932, 936, 1250, 0};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (fuzz::quietQtMessages(), true);
    (void)quiet;
    fuzz::FuzzInput input(data, size);
    platform::FakeLocale locale;
    locale.languageId = static_cast<quint16>(input.takeByte() | input.takeByte() << 8);
    locale.codePage = CodePages[input.takeByte() % CodePages.size()];
    const QByteArrayView table = input.rest();

    fuzz::MemoryServices memory(locale);
    fuzz::MemoryFileSystem& files = memory.files;
    files.put(QStringLiteral("/program/Languages/LanguageCodes.csv"), table.toByteArray());
    files.put(QStringLiteral("/program/Languages/German.lang.txt"), "{OK}Gut\r\n");
    files.put(QStringLiteral("/program/Languages/French.LANG.TXT"), "{OK}Bien\r\n");
    files.folders.insert(QStringLiteral("/program/Languages/Folder.lang.txt"));

    Translator translator(*memory.services);
    FUZZ_CHECK(translator.loadLanguage(QString()));
    const QString chosen = translator.currentLanguageFile();
    FUZZ_CHECK(chosen.isEmpty() || chosen == QLatin1String("/program/Languages/German.lang.txt") ||
               chosen == QLatin1String("/program/Languages/French.LANG.TXT"));

    // The lookup itself, on the table as read and with codes that are not numbers.
    const QStringList lines = text::splitLines(text::decodeWithFallback(table, locale.codePage));
    for (const QString& code :
         {QString::number(locale.languageId), QString(), QStringLiteral(" "), QStringLiteral("Code")}) {
        const QString file = languageFileForCode(lines, code);
        FUZZ_CHECK(file.isEmpty() || (file.front().unicode() > 32 && file.back().unicode() > 32));
    }
    return 0;
}
