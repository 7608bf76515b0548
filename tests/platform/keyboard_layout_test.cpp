// Keyboard layouts to locale names through the layout registry, and the reader without a display.
#include "platform/x11/linuxkeyboard.h"

#include <gtest/gtest.h>

namespace clavora::platform {
namespace {

TEST(KeyboardLayoutTest, LayoutsMapToLanguageAndRegion) {
    const struct {
        const char* layout;
        const char* variant;
        const char* locale;
    } cases[] = {
        {"us", "", "en-US"},           {"de", "", "de-DE"},     {"gb", "", "en-GB"},
        {"tr", "", "tr-TR"},           {"fr", "", "fr-FR"},     {"ru", "", "ru-RU"},
        {"de", "nodeadkeys", "de-DE"}, {"us", "intl", "en-US"}, {"tr", "f", "tr-TR"},
        {"no-such-layout", "", "xx"},  {"", "", "xx"},          {"US", "", "xx"},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(localeNameForLayout(QString::fromLatin1(row.layout), QString::fromLatin1(row.variant)),
                  QString::fromLatin1(row.locale))
            << row.layout << "(" << row.variant << ")";
    }
}

// Layouts the registry lists with several languages take the one their name or variant stands for, or the one most
// spoken in their country: never simply the first listed (German, for the Belgian layout).
TEST(KeyboardLayoutTest, LayoutsOfSeveralLanguagesTakeTheirOwn) {
    const struct {
        const char* layout;
        const char* variant;
        const char* locale;
    } rows[] = {
        {"be", "", "nl-BE"},    {"be", "nodeadkeys", "nl-BE"},    {"be", "wang", "nl-BE"},   {"ch", "", "de-CH"},
        {"ch", "fr", "fr-CH"},  {"ch", "de_nodeadkeys", "de-CH"}, {"ch", "fr_mac", "fr-CH"}, {"ca", "", "fr-CA"},
        {"ca", "eng", "en-CA"}, {"ca", "fr-legacy", "fr-CA"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(localeNameForLayout(QString::fromLatin1(row.layout), QString::fromLatin1(row.variant)),
                  QString::fromLatin1(row.locale))
            << row.layout << "(" << row.variant << ")";
    }
}

TEST(KeyboardLayoutTest, AnUnknownVariantFallsBackToItsLayout) {
    EXPECT_EQ(localeNameForLayout(QStringLiteral("de"), QStringLiteral("no-such-variant")), QStringLiteral("de-DE"));
}

TEST(KeyboardLayoutTest, DescriptionsOfTheKeymapAlsoFindTheLocale) {
    EXPECT_EQ(localeNameForLayoutDescription(QStringLiteral("English (US)")), QStringLiteral("en-US"));
    EXPECT_EQ(localeNameForLayoutDescription(QStringLiteral("German")), QStringLiteral("de-DE"));
    EXPECT_EQ(localeNameForLayoutDescription(QStringLiteral("Klingon")), QStringLiteral("xx"));
    EXPECT_EQ(localeNameForLayoutDescription(QString()), QStringLiteral("xx"));
}

TEST(KeyboardLayoutTest, GroupsPickTheirLayoutAndWrapAround) {
    using LayoutPair = std::pair<QString, QString>;
    EXPECT_EQ(layoutOfGroup("us", "", 0), LayoutPair("us", ""));
    EXPECT_EQ(layoutOfGroup("us,de", ",nodeadkeys", 1), LayoutPair("de", "nodeadkeys"));
    EXPECT_EQ(layoutOfGroup("us,de", "", 1), LayoutPair("de", ""));
    EXPECT_EQ(layoutOfGroup("us,de", "", 2), LayoutPair("us", ""));
    EXPECT_EQ(layoutOfGroup("", "", 0), LayoutPair());
    EXPECT_EQ(layoutOfGroup("us", "", -1), LayoutPair());
}

TEST(KeyboardLayoutTest, WithoutADisplayEveryKeyIsUpAndTheLocaleUnknown) {
    LinuxKeyboard keyboard(QByteArrayLiteral(":4711"));
    EXPECT_FALSE(keyboard.connected());
    EXPECT_EQ(keyboard.snapshot(), KeyStateSnapshot());
    EXPECT_EQ(keyboard.keyboardLocaleName(), QStringLiteral("xx"));
}

} // namespace
} // namespace clavora::platform
