// Fuzz target: a language file as start-up loads it (chosen through the code table for the user's language) and the
// translation of the program's texts through it. A file that is not valid text is refused and leaves the program in
// English; a translation never breaks a text's placeholders.
#include "tests/fuzz/fuzzsupport.h"

#include "i18n/textcodec.h"
#include "i18n/translator.h"
#include "platform/fake/fakeservices.h"

using namespace clavora;

namespace {

const char* const SourceTexts[] = {
    "INFO:Translated By",
    "Language",
    "OK",
    "About %s",
    "File not found!",
    "UPDATE AVAILABLE",
    "Click to download",
    "IMPORTANT",
    "Your feedback is received.",
    "",
    "}",
    "{",
    "%s",
    "100%",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (fuzz::quietQtMessages(), true);
    (void)quiet;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    platform::FakeLocale locale;
    locale.languageId = 1031;
    fuzz::MemoryServices memory(locale);
    fuzz::MemoryFileSystem& files = memory.files;
    files.put(QStringLiteral("/program/Languages/LanguageCodes.csv"), "Code,File\r\n1031,German.lang.txt\r\n");
    files.put(QStringLiteral("/program/Languages/German.lang.txt"), bytes.toByteArray());

    Translator translator(*memory.services);
    const Status loaded = translator.loadLanguage(QString());
    const bool validText = text::decodeUnicode(bytes).has_value();
    FUZZ_CHECK(bool(loaded) == validText);
    FUZZ_CHECK(translator.currentLanguage() == QLatin1String("German"));
    FUZZ_CHECK(validText || translator.translationLines().isEmpty());

    for (const char* source : SourceTexts) {
        const QString text = QString::fromUtf8(source);
        // Only the texts with a "%" are used as formats; any other may translate to anything.
        const QString translations[] = {translator.translate(text),
                                        translateFromList(text, translator.translationLines())};
        for (const QString& translated : translations) {
            if (text.contains(QLatin1Char('%'))) {
                FUZZ_CHECK(translated.count(QLatin1Char('%')) == text.count(QLatin1Char('%')));
                FUZZ_CHECK(translated.count(u"%s") == text.count(u"%s"));
            }
        }
        if (!validText) {
            FUZZ_CHECK(translator.translate(text) == text);
        }
    }
    return 0;
}
