// The language files installed with the program: each one reads, translates every text the program asks for and
// credits its translators, and the code table picks them for the languages and regions they serve.
#include "tests/i18n/i18ntestsupport.h"

#include "i18n/textcodec.h"

#include <QRegularExpression>
#include <QSet>

namespace clavora::test {
namespace {

// Every English text the program passes through Translate.
const char* const SourceTexts[] = {
    "Language",
    "User Interface Language:",
    "Translated by:",
    "OK",
    "Contribute to Translation",
    "Copy",
    "Select All",
    "Restart Application?",
    "Confirmation",
    "Yes",
    "No",
    "About %s",
    "Info",
    "Acknowledgements...",
    "How to uninstall...",
    "License...",
    "License",
    "File not found!",
    "UPDATE AVAILABLE",
    "Click to download",
    "IMPORTANT",
    "feedback",
    "We would really appreciate your feedback.",
    "What did you like or dislike?",
    "Include my e-mail:",
    "Send",
    "I like it!",
    "I dislike it!",
    "Failure",
    "Invalid e-mail address!",
    "Success",
    "Your feedback is received.",
    "Thank you!",
    "Something went wrong. Your feedback could not be delivered.",
    "Please try again later.",
};

const char* const ShippedLanguageNames[] = {"German",  "French", "Spanish", "Italian",  "PortugueseBrazil", "Turkish",
                                            "Russian", "Polish", "Dutch",   "Japanese", "ChineseSimplified"};

QString SourceRoot() {
    const QString fromEnvironment = sourceDir();
    return fromEnvironment.isEmpty() ? QStringLiteral(CLAVORA_I18N_SOURCE_DIR) : fromEnvironment;
}

QString ShippedFolder() {
    return SourceRoot() + QStringLiteral("/data/Languages");
}

// The shipped files are read where they are kept, through the fakes like every other logic test.
using ShippedLanguages = PlatformTest;

TEST_F(ShippedLanguages, EveryFileTranslatesEverySourceTextAndCreditsItsTranslators) {
    for (const char* language : ShippedLanguageNames) {
        const QString path = ShippedFolder() + '/' + QString::fromLatin1(language) + QStringLiteral(".lang.txt");
        SCOPED_TRACE(path.toStdString());
        QStringList lines;
        const Status read = readLanguageLines(m_files, path, lines);
        ASSERT_TRUE(read.ok()) << read.message().toStdString();

        for (const char* source : SourceTexts) {
            SCOPED_TRACE(source);
            const QString key = '{' + QString::fromLatin1(source) + '}';
            // Exactly one line: a second one for the same text would be dead and mislead the next translator.
            const QStringList found = lines.filter(QRegularExpression('^' + QRegularExpression::escape(key)));
            ASSERT_EQ(found.size(), 1);
            // Some translations rightly equal the English text ("OK"), so only emptiness and stray blanks count.
            const QString translation = found.first().mid(key.size());
            EXPECT_FALSE(translation.isEmpty());
            EXPECT_EQ(translation, translation.trimmed());
        }
        const QString about = translateFromList(QStringLiteral("About %s"), lines);
        EXPECT_EQ(about.count(QStringLiteral("%s")), 1);
        EXPECT_EQ(about.count('%'), 1);

        const QString credit = translateFromList(QStringLiteral("INFO:Translated By"), lines);
        EXPECT_NE(credit, QStringLiteral("INFO:Translated By"));
        EXPECT_FALSE(credit.trimmed().isEmpty());
    }
}

TEST_F(ShippedLanguages, CodeTableNamesOnlyShippedFilesAndEachCodeOnce) {
    QStringList shipped;
    for (const char* language : ShippedLanguageNames) {
        shipped << QString::fromLatin1(language) + QStringLiteral(".lang.txt");
    }
    const QStringList lines = text::splitLines(
        text::decodeWithFallback(readBytes(ShippedFolder() + QStringLiteral("/LanguageCodes.csv")), 1252));
    ASSERT_FALSE(lines.isEmpty());

    QSet<QString> codes;
    QSet<QString> named;
    for (const QString& line : lines) {
        SCOPED_TRACE(line.toStdString());
        const qsizetype comma = line.indexOf(',');
        if (comma < 0) {
            continue;
        }
        const QString code = line.left(comma).trimmed();
        const QString file = line.mid(comma + 1).trimmed();
        bool isNumber = false;
        const uint id = code.toUInt(&isNumber);
        if (!isNumber) {
            continue; // the header
        }
        EXPECT_TRUE(id > 0 && id <= 0xFFFF && QString::number(id) == code);
        EXPECT_FALSE(codes.contains(code)) << "listed twice; the later line would never count";
        codes.insert(code);
        EXPECT_TRUE(shipped.contains(file)) << "names a file that is not shipped, with exactly this spelling";
        named.insert(file);
    }
    for (const QString& file : shipped) {
        EXPECT_TRUE(named.contains(file)) << file.toStdString() << " is shipped but no language code selects it";
    }
}

struct RegionCase {
    quint16 languageId;
    const char* language; // CurrentLanguage; "" for English
};

void PrintTo(const RegionCase& c, std::ostream* os) {
    *os << c.languageId << " -> " << (*c.language ? c.language : "English");
}

class ShippedChoice : public LanguageFixture, public ::testing::WithParamInterface<RegionCase> {};

TEST_P(ShippedChoice, LanguageIdentifierSelectsTheShippedFile) {
    m_files.programFile = SourceRoot() + QStringLiteral("/data/clavora");
    m_locale.languageId = GetParam().languageId;

    ASSERT_TRUE(m_translator.loadLanguage(QString()).ok());

    const QString expected = QString::fromLatin1(GetParam().language);
    EXPECT_EQ(m_translator.currentLanguage(), expected);
    EXPECT_EQ(m_translator.languageFiles().size(), static_cast<qsizetype>(std::size(ShippedLanguageNames)));
    if (expected.isEmpty()) {
        EXPECT_EQ(m_translator.translate(QStringLiteral("Yes")), QStringLiteral("Yes"));
    } else {
        EXPECT_NE(m_translator.translate(QStringLiteral("Yes")), QStringLiteral("Yes"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Regions, ShippedChoice,
    ::testing::Values(RegionCase{1031, "German"}, RegionCase{2055, "German"}, RegionCase{3079, "German"},
                      RegionCase{7, "German"}, RegionCase{1036, "French"}, RegionCase{3084, "French"},
                      RegionCase{1034, "Spanish"}, RegionCase{2058, "Spanish"}, RegionCase{3082, "Spanish"},
                      RegionCase{22538, "Spanish"}, RegionCase{1040, "Italian"}, RegionCase{2064, "Italian"},
                      RegionCase{1046, "PortugueseBrazil"}, RegionCase{2070, "PortugueseBrazil"},
                      RegionCase{1055, "Turkish"}, RegionCase{1049, "Russian"}, RegionCase{1045, "Polish"},
                      RegionCase{1043, "Dutch"}, RegionCase{2067, "Dutch"}, RegionCase{1041, "Japanese"},
                      RegionCase{2052, "ChineseSimplified"}, RegionCase{4100, "ChineseSimplified"},
                      RegionCase{1033, ""}, RegionCase{2057, ""}, RegionCase{1028, ""}, RegionCase{3076, ""}),
    [](const ::testing::TestParamInfo<RegionCase>& tested) { return "id" + std::to_string(tested.param.languageId); });

} // namespace
} // namespace clavora::test
