// Key naming: the key table, the letter rules and the layout-dependent names.
#include "input/keynaming.h"
#include "platform/fake/fakekeyboard.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace clavora::input {
namespace {

namespace vk = platform::vk;

struct SingleKeyCase {
    int virtualKey;
    const char* name; // nullptr: the key has no name
};

// Each key held alone, under en-US with "." as the decimal separator.
// clang-format off
const SingleKeyCase SingleKeys[] = {
    {8, "BACKSPACE"},   {9, "TAB"},        {13, "ENTER"},       {19, "PAUSE"},     {20, "Caps Lock"},
    {27, "ESC"},        {32, " "},         {33, "PAGEUP"},      {34, "PAGEDOWN"},  {35, "END"},
    {36, "HOME"},       {37, "LEFT"},      {38, "UP"},          {39, "RIGHT"},     {40, "DOWN"},
    {44, "PRINTSCREEN"}, {45, "INSERT"},   {46, "DELETE"},      {48, "0"},         {49, "1"},
    {50, "2"},          {51, "3"},         {52, "4"},           {53, "5"},         {54, "6"},
    {55, "7"},          {56, "8"},         {57, "9"},           {65, "a"},         {77, "m"},
    {90, "z"},          {91, "WIN"},       {92, "WIN"},         {93, "MENU"},      {95, "_"},
    {96, "0"},          {97, "1"},         {98, "2"},           {99, "3"},         {100, "4"},
    {101, "5"},         {102, "6"},        {103, "7"},          {104, "8"},        {105, "9"},
    {106, "*"},         {107, "+"},        {109, "-"},          {110, "."},        {111, "/"},
    {112, "F1"},        {113, "F2"},       {114, "F3"},         {115, "F4"},       {116, "F5"},
    {117, "F6"},        {118, "F7"},       {119, "F8"},         {120, "F9"},       {121, "F10"},
    {122, "F11"},       {123, "F12"},      {144, "Num Lock"},   {145, "Scroll Lock"}, {160, "SHIFT"},
    {161, "SHIFT"},     {162, "CTRL"},     {163, "CTRL"},       {164, "ALT"},      {165, "ALT"},
    {192, "`"},
    // codes with no name, among them the side-neutral modifiers and the other punctuation keys
    {12, nullptr},      {16, nullptr},     {17, nullptr},       {18, nullptr},     {47, nullptr},
    {58, nullptr},      {64, nullptr},     {94, nullptr},       {108, nullptr},    {124, nullptr},
    {135, nullptr},     {186, nullptr},    {187, nullptr},      {188, nullptr},    {189, nullptr},
    {190, nullptr},     {191, nullptr},    {219, nullptr},      {220, nullptr},    {221, nullptr},
    {222, nullptr},     {226, nullptr},    {255, nullptr},
};
// clang-format on

TEST(KeyNamingTest, EachKeyAloneHasTheNameOfTheTable) {
    for (const SingleKeyCase& row : SingleKeys) {
        platform::KeyStateSnapshot keys;
        keys.setDown(row.virtualKey);
        const QStringList expected = row.name ? QStringList{QString::fromLatin1(row.name)} : QStringList{};
        EXPECT_EQ(keyNames(keys, QStringLiteral("en-US"), QLatin1Char('.')), expected) << "code " << row.virtualKey;
    }
}

TEST(KeyNamingTest, CodesBelowEightAreNeverRead) {
    platform::KeyStateSnapshot keys;
    for (int code = 0; code < 8; ++code) {
        keys.setDown(code);
    }
    EXPECT_TRUE(keyNames(keys, QStringLiteral("en-US"), QLatin1Char('.')).isEmpty());
}

struct ComboCase {
    const char* what;
    std::initializer_list<int> pressed; // through the fake, so side-specific modifiers also set the neutral code
    bool capsLockOn;
    const char* locale;
    char decimalSeparator;
    QStringList expected;
};

QStringList L(std::initializer_list<const char*> names) {
    QStringList list;
    for (const char* name : names) {
        list << QString::fromUtf8(name);
    }
    return list;
}

TEST(KeyNamingTest, CombinationsFollowTheModifierAndLayoutRules) {
    const ComboCase cases[] = {
        {"A alone", {'A'}, false, "en-US", '.', L({"a"})},
        {"Shift+A", {vk::LShift, 'A'}, false, "en-US", '.', L({"SHIFT", "A", "SHIFT"})},
        {"right Shift+A", {vk::RShift, 'A'}, false, "en-US", '.', L({"SHIFT", "A", "SHIFT"})},
        {"A, Caps Lock on", {'A'}, true, "en-US", '.', L({"A"})},
        {"Shift+A, Caps Lock on", {vk::LShift, 'A'}, true, "en-US", '.', L({"SHIFT", "a", "SHIFT"})},
        {"Ctrl+A German", {vk::LControl, 'A'}, false, "de-DE", '.', L({"STRG", "a", "STRG"})},
        {"Ctrl+A Austrian", {vk::RControl, 'A'}, false, "de-AT", '.', L({"STRG", "a", "STRG"})},
        {"Ctrl+A US", {vk::LControl, 'A'}, false, "en-US", '.', L({"CTRL", "a", "CTRL"})},
        {"Ctrl+A, locale prefix in capitals", {vk::LControl, 'A'}, false, "DE-DE", '.', L({"CTRL", "a", "CTRL"})},
        {"Alt+A", {vk::LMenu, 'A'}, false, "en-US", '.', L({"ALT", "a", "ALT"})},
        {"right Alt+A, not US", {vk::RMenu, 'A'}, false, "de-DE", '.', L({"ALT", "a", "AltGr"})},
        {"Ctrl+Alt+Shift+Z",
         {vk::LShift, vk::LControl, vk::LMenu, 'Z'},
         false,
         "en-US",
         '.',
         L({"CTRL", "ALT", "SHIFT", "Z", "SHIFT", "CTRL", "ALT"})},
        {"two letters share the modifiers",
         {vk::LShift, 'A', 'B'},
         false,
         "en-US",
         '.',
         L({"SHIFT", "A", "SHIFT", "B", "SHIFT"})},
        {"modifiers add nothing to other keys",
         {vk::LControl, '7', vk::F1 + 4},
         false,
         "en-US",
         '.',
         L({"7", "F5", "CTRL"})},
        {"right Alt en-US", {vk::RMenu}, false, "en-US", '.', L({"ALT"})},
        {"right Alt en-GB", {vk::RMenu}, false, "en-GB", '.', L({"AltGr"})},
        {"right Alt unknown layout", {vk::RMenu}, false, "xx", '.', L({"AltGr"})},
        {"Ctrl unknown layout", {vk::RControl}, false, "xx", '.', L({"CTRL"})},
        {"192 en-US", {vk::Oem3}, false, "en-US", '.', L({"`"})},
        {"192 en-GB", {vk::Oem3}, false, "en-GB", '.', L({"`"})},
        {"192 tr-TR", {vk::Oem3}, false, "tr-TR", '.', L({"\""})},
        {"192 de-DE", {vk::Oem3}, false, "de-DE", '.', L({})},
        {"192 unknown layout", {vk::Oem3}, false, "xx", '.', L({})},
        {"192 bare language", {vk::Oem3}, false, "en", '.', L({})},
        {"keypad decimal, comma locale", {vk::Decimal}, false, "de-DE", ',', L({","})},
        {"keypad 7 and main-row 7", {'7', vk::Numpad0 + 7}, false, "en-US", '.', L({"7", "7"})},
        {"Caps Lock held", {vk::Capital}, true, "en-US", '.', L({"Caps Lock"})},
        {"Caps Lock only toggled", {}, true, "en-US", '.', L({})},
    };
    for (const ComboCase& row : cases) {
        platform::FakeKeyboard keyboard;
        for (int key : row.pressed) {
            keyboard.press(key);
        }
        keyboard.setCapsLockToggled(row.capsLockOn);
        EXPECT_EQ(keyNames(keyboard.snapshot(), QString::fromLatin1(row.locale), QLatin1Char(row.decimalSeparator)),
                  row.expected)
            << row.what;
    }
}

TEST(KeyNamingTest, ReleasingOneSideKeepsTheOtherSidesModifier) {
    platform::FakeKeyboard keyboard;
    keyboard.press(vk::LShift);
    keyboard.press(vk::RShift);
    keyboard.press('Q');
    keyboard.release(vk::LShift);
    EXPECT_EQ(keyNames(keyboard.snapshot(), QStringLiteral("en-US"), QLatin1Char('.')), L({"SHIFT", "Q", "SHIFT"}));
    keyboard.release(vk::RShift);
    EXPECT_EQ(keyNames(keyboard.snapshot(), QStringLiteral("en-US"), QLatin1Char('.')), L({"q"}));
}

TEST(KeyNamingTest, ModifierNamesFollowTheLayout) {
    EXPECT_EQ(ctrlKeyName(QStringLiteral("de-CH")), QStringLiteral("STRG"));
    EXPECT_EQ(ctrlKeyName(QStringLiteral("de")), QStringLiteral("CTRL"));
    EXPECT_EQ(ctrlKeyName(QStringLiteral("xx")), QStringLiteral("CTRL"));
    EXPECT_EQ(rightAltKeyName(QStringLiteral("en-US")), QStringLiteral("ALT"));
    EXPECT_EQ(rightAltKeyName(QStringLiteral("en-us")), QStringLiteral("AltGr"));
    EXPECT_EQ(rightAltKeyName(QStringLiteral("en-US-x")), QStringLiteral("AltGr"));
}

} // namespace
} // namespace clavora::input
