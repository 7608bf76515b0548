// Keys typed into the focused window: function keys by code, everything else by its first character.
#include "input/focusedkeys.h"

#include <gtest/gtest.h>

namespace clavora::input {
namespace {

TEST(FocusedKeysTest, QtFunctionKeysMapToTheirCodes) {
    const struct {
        int qtKey;
        int code;
    } cases[] = {
        {Qt::Key_F1, 112}, {Qt::Key_F5, 116},   {Qt::Key_F12, 123},   {Qt::Key_F13, 0},
        {Qt::Key_A, 0},    {Qt::Key_Escape, 0}, {Qt::Key_unknown, 0}, {0, 0},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(FunctionKeyCode(row.qtKey), row.code) << "Qt key " << row.qtKey;
    }
}

const QStringList kKeyList = {
    QStringLiteral("F1|one"),       QStringLiteral("F10|ten"),
    QStringLiteral("f5|lower"),     QStringLiteral("F5|five"),
    QStringLiteral("F5 |trailing"), QStringLiteral("F5"),
    QStringLiteral("F12|twelve"),   QStringLiteral("F5|five|again"),
    QStringLiteral("a|small a"),    QStringLiteral("A|capital A"),
    QStringLiteral("|empty key"),   QStringLiteral("abc"),
    QStringLiteral("SHIFT|shift"),  QStringLiteral("Scroll Lock|scroll"),
};

QStringList PlayedForCode(int code) {
    QStringList played;
    PlayFunctionKeyBindings(code, kKeyList, [&](const QString& path) { played << path; });
    return played;
}

QStringList PlayedForCharacter(QChar character) {
    QStringList played;
    PlayCharacterBindings(character, kKeyList, [&](const QString& path) { played << path; });
    return played;
}

TEST(FocusedKeysTest, FunctionKeysPlayTheirExactNames) {
    EXPECT_EQ(PlayedForCode(112), QStringList{QStringLiteral("one")});
    EXPECT_EQ(PlayedForCode(116), (QStringList{QStringLiteral("five"), QStringLiteral("five|again")}));
    EXPECT_EQ(PlayedForCode(121), QStringList{QStringLiteral("ten")});
    EXPECT_EQ(PlayedForCode(123), QStringList{QStringLiteral("twelve")});
    for (int code : {0, 65, 111, 124, 255, -1}) {
        EXPECT_TRUE(PlayedForCode(code).isEmpty()) << "code " << code;
    }
}

TEST(FocusedKeysTest, CharactersPlayEveryNameStartingWithThem) {
    EXPECT_EQ(PlayedForCharacter(QLatin1Char('a')), QStringList{QStringLiteral("small a")});
    EXPECT_EQ(PlayedForCharacter(QLatin1Char('A')), QStringList{QStringLiteral("capital A")});
    EXPECT_EQ(PlayedForCharacter(QLatin1Char('F')),
              (QStringList{QStringLiteral("one"), QStringLiteral("ten"), QStringLiteral("five"),
                           QStringLiteral("trailing"), QStringLiteral("twelve"), QStringLiteral("five|again")}));
    EXPECT_EQ(PlayedForCharacter(QLatin1Char('S')), (QStringList{QStringLiteral("shift"), QStringLiteral("scroll")}));
    EXPECT_EQ(PlayedForCharacter(QLatin1Char('f')), QStringList{QStringLiteral("lower")});
    // The empty key name and the line without a bar answer to nothing, not even a bar or a NUL character.
    EXPECT_TRUE(PlayedForCharacter(QLatin1Char('|')).isEmpty());
    EXPECT_TRUE(PlayedForCharacter(QChar()).isEmpty());
    EXPECT_TRUE(PlayedForCharacter(QLatin1Char('b')).isEmpty());
}

TEST(FocusedKeysTest, OnlyTheFirstCodeUnitOfANameTakesPart) {
    // A name starting with a character outside the basic plane answers to its first surrogate.
    const QStringList keyList = {QString::fromUtf8("\xF0\x9F\x98\x80|smile"), QString::fromUtf8("\xC3\xA9|e acute")};
    QStringList played;
    const auto record = [&](const QString& path) { played << path; };
    PlayCharacterBindings(QChar(0xD83D), keyList, record);
    PlayCharacterBindings(QChar(0x00E9), keyList, record);
    EXPECT_EQ(played, (QStringList{QStringLiteral("smile"), QStringLiteral("e acute")}));
}

} // namespace
} // namespace clavora::input
