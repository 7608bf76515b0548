// The text codec: how the bytes of the program's text files become text, for the files that may predate Unicode
// (key map, language code table) and for those that must be Unicode (language files), and the shared line rule.
#include "i18n/textcodec.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

namespace clavora::text {
namespace {

const QChar Bad(QChar::ReplacementCharacter);

TEST(TextCodecTest, FallbackReadingFollowsMarkThenUtf8ThenCodePage) {
    struct Case {
        const char* name;
        QByteArray bytes;
        int codePage;
        QString text;
    };
    const Case cases[] = {
        {"UTF-8 with BOM",
         QByteArray("\xEF\xBB\xBF"
                    "caf\xC3\xA9|x"),
         1252, QStringLiteral("café|x")},
        {"UTF-8 without BOM", QByteArray("\xC3\xA9|\xF0\x9F\x8E\xB5"), 1252, QStringLiteral("é|🎵")},
        {"ASCII", QByteArray("1031,German.lang.txt"), 1251, QStringLiteral("1031,German.lang.txt")},
        {"UTF-8 wins over the code page", QByteArray("1049,\xD0\xA0.lang.txt"), 1251,
         QStringLiteral("1049,Р.lang.txt")},
        {"ANSI 1252", QByteArray("caf\xE9|x"), 1252, QStringLiteral("café|x")},
        {"ANSI 1251", QByteArray("\xCF\xF0\xE8|x"), 1251, QStringLiteral("При|x")},
        {"ANSI 1254", QByteArray("\xFE|x"), 1254, QStringLiteral("ş|x")},
        {"ANSI 932, cut double-byte character at the end", QByteArray("\x82\xA0|x\x81"), 932,
         QStringLiteral("あ|x") + Bad},
        {"ANSI 936", QByteArray("\xC4\xE3|x"), 936, QStringLiteral("你|x")},
        {"ANSI 949", QByteArray("\xB0\xA1|x"), 949, QStringLiteral("가|x")},
        {"ANSI 950", QByteArray("\xA4\xA4|x"), 950, QStringLiteral("中|x")},
        // An unknown page is Western (1252), not Latin-1: 0x80 and 0x9F are the euro sign and Y with diaeresis.
        {"unknown page read as 1252", QByteArray("\x80\x9F\xE9"), 4242, QStringLiteral("€Ÿé")},
        {"overlong form is not UTF-8", QByteArray("\xC0\xAF"), 1252, QStringLiteral("À¯")},
        {"encoded surrogate is not UTF-8", QByteArray("\xED\xA0\x80"), 1252, QStringLiteral("í\u00A0€")},
        {"past U+10FFFF is not UTF-8", QByteArray("\xF4\x90\x80\x80"), 1252, QStringLiteral("ô\u0090€€")},
        {"cut sequence at the end", QByteArray("a\xC3"), 1252, QStringLiteral("aÃ")},
        {"bad UTF-8 after a UTF-8 BOM",
         QByteArray("\xEF\xBB\xBF"
                    "a\xFF"
                    "b"),
         1252, QStringLiteral("a") + Bad + "b"},
        {"UTF-16 LE",
         QByteArray("\xFF\xFE"
                    "a\0|\0\xE9\0",
                    8),
         1252, QStringLiteral("a|é")},
        {"UTF-16 BE", QByteArray("\xFE\xFF\0a\0|\x4E\x2D", 8), 1252, QStringLiteral("a|中")},
        {"UTF-16 LE surrogate pair", QByteArray("\xFF\xFE\x3C\xD8\xB5\xDF", 6), 1252, QStringLiteral("🎵")},
        // A last odd byte is a lost half character: it shows as U+FFFD instead of vanishing.
        {"UTF-16 odd byte count",
         QByteArray("\xFF\xFE"
                    "a\0b",
                    5),
         1252, QStringLiteral("a") + Bad},
        {"UTF-16 lone high surrogate",
         QByteArray("\xFF\xFE\x3C\xD8"
                    "a\0",
                    6),
         1252, Bad + QStringLiteral("a")},
        {"UTF-16 lone low surrogate", QByteArray("\xFE\xFF\xDF\xB5\0a", 6), 1252, Bad + QStringLiteral("a")},
        {"UTF-16 high surrogate at the end", QByteArray("\xFE\xFF\0a\xD8\x3C", 6), 1252, QStringLiteral("a") + Bad},
        {"NUL bytes are text", QByteArray("a\0|b", 4), 1252, QString(QStringLiteral("a")) + QChar(0) + "|b"},
        {"only the first mark is taken off",
         QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF"
                    "x"),
         1252, QString(QChar(0xFEFF)) + "x"},
        {"BOM alone", QByteArray("\xEF\xBB\xBF"), 1252, QString()},
        {"nothing", QByteArray(), 1252, QString()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeWithFallback(c.bytes, c.codePage), c.text) << c.name;
    }
}

TEST(TextCodecTest, UnicodeReadingRefusesMalformedText) {
    struct Case {
        const char* name;
        QByteArray bytes;
        std::optional<QString> text;
    };
    const Case cases[] = {
        {"UTF-8", QByteArray("{OK}\xC3\x9C"), QStringLiteral("{OK}Ü")},
        {"UTF-8 with BOM",
         QByteArray("\xEF\xBB\xBF"
                    "{OK}x"),
         QStringLiteral("{OK}x")},
        {"second BOM is text",
         QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF"
                    "{OK}x"),
         QString(QChar(0xFEFF)) + "{OK}x"},
        {"UTF-16 BE", QByteArray("\xFE\xFF\0{\0O\0K\0}\x04\x14", 12), QStringLiteral("{OK}Д")},
        {"UTF-16 LE", QByteArray("\xFF\xFE{\0O\0K\0}\0\x14\x04", 12), QStringLiteral("{OK}Д")},
        {"UTF-16 surrogate pair", QByteArray("\xFF\xFE\x3C\xD8\xB5\xDF", 6), QStringLiteral("🎵")},
        {"empty", QByteArray(), QString()},
        {"code page byte", QByteArray("{Yes}J\xE4"), std::nullopt},
        {"UTF-8 cut inside a character", QByteArray("{Yes}J\xC3"), std::nullopt},
        {"overlong form", QByteArray("\xC0\xAF"), std::nullopt},
        {"bad UTF-8 after a BOM", QByteArray("\xEF\xBB\xBF\xFF"), std::nullopt},
        {"UTF-16 odd byte count", QByteArray("\xFF\xFE{\0O\0K\0}\0G\0u\0t", 15), std::nullopt},
        {"UTF-16 unpaired surrogate", QByteArray("\xFF\xFE{\0O\0K\0}\0G\0\x00\xD8", 14), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeUnicode(c.bytes), c.text) << c.name;
    }
}

TEST(TextCodecTest, StrictUtf8FollowsTheTableOfWellFormedSequences) {
    const struct {
        QByteArray bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain", true},
        {"\xC2\x80", true},
        {"\xDF\xBF", true},
        {"\xE0\xA0\x80", true},
        {"\xED\x9F\xBF", true},
        {"\xEF\xBF\xBF", true},
        {"\xF0\x90\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},
        {"\x80", false},
        {"\xC1\xBF", false},
        {"\xE0\x9F\xBF", false},
        {"\xED\xA0\x80", false},
        {"\xF0\x8F\xBF\xBF", false},
        {"\xF4\x90\x80\x80", false},
        {"\xF5\x80\x80\x80", false},
        {"\xE1\x80", false},
        {"\xE1\x80\x41", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isStrictUtf8(c.bytes), c.valid) << c.bytes.toHex().toStdString();
    }
}

TEST(TextCodecTest, LinesEndAtCrLfLfOrCr) {
    struct Case {
        QString text;
        QStringList lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a|1", {"a|1"}},
        {"a|1\r\nb|2\r\n", {"a|1", "b|2"}},
        {"a|1\rb|2\nc|3\r\nd|4", {"a|1", "b|2", "c|3", "d|4"}},
        {"\r\n", {""}},
        {"a\n\n", {"a", ""}},
        {"\n\r", {"", ""}},
        {"a\r\r\nb", {"a", "", "b"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(splitLines(c.text), c.lines) << c.text.toStdString();
    }
}

} // namespace
} // namespace clavora::text
