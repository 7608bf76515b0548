// Cost of choosing and reading the language at start-up, and of one translation (the dialogs translate a few
// dozen texts when they open; the update check translates from its worker thread).
#include "i18n/translator.h"
#include "platform/fake/fakeservices.h"

#include <benchmark/benchmark.h>

namespace {

using namespace clavora;

// The shipped languages, as installed beside a program in the source tree's data folder.
struct ShippedGerman {
    ShippedGerman() {
        fakes.files.programFile = QStringLiteral(CLAVORA_I18N_SOURCE_DIR "/data/clavora");
        fakes.locale.languageId = 1031;
        // One "loaded" line per iteration would swamp the figures.
        QLoggingCategory::setFilterRules(QStringLiteral("clavora.i18n.info=false"));
    }
    platform::FakeServices fakes;
};

void BM_LoadLanguage(benchmark::State& state) {
    ShippedGerman german;
    Translator translator(german.fakes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(translator.loadLanguage(QString()).ok());
    }
    if (translator.currentLanguage() != QStringLiteral("German")) {
        state.SkipWithError("the shipped German file was not loaded");
    }
}
BENCHMARK(BM_LoadLanguage);

void BM_Translate(benchmark::State& state, const char* source) {
    ShippedGerman german;
    Translator translator(german.fakes);
    translator.loadLanguage(QString());
    const QString text = QString::fromLatin1(source);
    for (auto _ : state) {
        benchmark::DoNotOptimize(translator.translate(text));
    }
}
// The first and the last text of the file, and one the file does not have (every line is looked at).
BENCHMARK_CAPTURE(BM_Translate, first_line, "Language");
BENCHMARK_CAPTURE(BM_Translate, last_line, "Please try again later.");
BENCHMARK_CAPTURE(BM_Translate, missing, "Not a program text");

} // namespace

BENCHMARK_MAIN();
