// Hotkey mode: the exact-name walk over the key list and a whole poll against a fake keyboard.
#include "input/hotkeys.h"
#include "platform/fake/fakekeyboard.h"

#include <gtest/gtest.h>

namespace clavora::input {
namespace {

namespace vk = platform::vk;

class THotkeyTest : public ::testing::Test {
protected:
    TPlaySound recorder() {
        return [this](const QString& path) { FPlayed << path; };
    }
    QStringList FPlayed;
};

TEST_F(THotkeyTest, PlaysEveryExactMatchInListOrder) {
    const QStringList keyList = {
        QStringLiteral("CTRL|first.mp3"),
        QStringLiteral("ctrl|lower.mp3"),
        QStringLiteral("CTRLX|longer.mp3"),
        QStringLiteral("CTRL"),
        QStringLiteral("no bar at all"),
        QStringLiteral("CTRL|a|b.mp3"),
        QStringLiteral(" CTRL|space.mp3"),
        QStringLiteral("CTRL|first.mp3"),
        QStringLiteral("CTRL|"),
    };
    KeystrokeEkle(QStringLiteral("CTRL"), keyList, true, recorder());
    EXPECT_EQ(FPlayed, (QStringList{QStringLiteral("first.mp3"), QStringLiteral("a|b.mp3"), QStringLiteral("first.mp3"),
                                    QString()}));
}

TEST_F(THotkeyTest, NothingPlaysWithHotkeyModeOff) {
    KeystrokeEkle(QStringLiteral("a"), {QStringLiteral("a|x.mp3")}, false, recorder());
    EXPECT_TRUE(FPlayed.isEmpty());
}

TEST_F(THotkeyTest, AListChangedWhilePlayingIsWalkedToItsNewEnd) {
    QStringList keyList = {QStringLiteral("a|1"), QStringLiteral("a|2"), QStringLiteral("a|3")};
    // The first sound empties the list: the walk must stop instead of reading past the end.
    KeystrokeEkle(QStringLiteral("a"), keyList, true, [&](const QString& path) {
        FPlayed << path;
        keyList.clear();
    });
    EXPECT_EQ(FPlayed, QStringList{QStringLiteral("1")});

    FPlayed.clear();
    keyList = {QStringLiteral("a|1")};
    // A line added during the walk is present when the walk reaches it, so it plays too.
    KeystrokeEkle(QStringLiteral("a"), keyList, true, [&](const QString& path) {
        FPlayed << path;
        if (keyList.size() == 1) {
            keyList << QStringLiteral("a|added");
        }
    });
    EXPECT_EQ(FPlayed, (QStringList{QStringLiteral("1"), QStringLiteral("added")}));
}

TEST_F(THotkeyTest, APollPlaysTheNamesOfTheHeldKeys) {
    platform::FakeKeyboard keyboard;
    keyboard.localeName = QStringLiteral("de-DE");
    keyboard.press(vk::LControl);
    keyboard.press('A');
    const QStringList keyList = {QStringLiteral("STRG|strg.wav"), QStringLiteral("a|a.wav"),
                                 QStringLiteral("CTRL|ctrl.wav"), QStringLiteral("ctrl|never.wav"),
                                 QStringLiteral("A|upper.wav")};

    const THotkeyPollResult result = HotkeyPoll(keyboard, QLatin1Char(','), keyList, true, recorder());

    EXPECT_EQ(result.keyboardLocale, QStringLiteral("de-DE"));
    EXPECT_EQ(result.names, (QStringList{QStringLiteral("STRG"), QStringLiteral("a"), QStringLiteral("STRG")}));
    EXPECT_EQ(FPlayed, (QStringList{QStringLiteral("strg.wav"), QStringLiteral("a.wav"), QStringLiteral("strg.wav")}));
    // The layout is looked up afresh at every poll, and the keyboard read once.
    EXPECT_EQ(keyboard.localeQueries, 1);
    EXPECT_EQ(keyboard.snapshots, 1);
}

TEST_F(THotkeyTest, ALowerCaseModifierBindingNeverPlays) {
    platform::FakeKeyboard keyboard;
    const QStringList keyList = {QStringLiteral("ctrl|never.wav"), QStringLiteral("Ctrl|never.wav")};
    for (const char* locale : {"en-US", "de-DE", "xx"}) {
        keyboard.localeName = QString::fromLatin1(locale);
        keyboard.press(vk::LControl);
        keyboard.press(vk::RControl);
        keyboard.press('C');
        HotkeyPoll(keyboard, QLatin1Char('.'), keyList, true, recorder());
    }
    EXPECT_TRUE(FPlayed.isEmpty());
}

TEST_F(THotkeyTest, APollWithHotkeyModeOffPlaysNothing) {
    platform::FakeKeyboard keyboard;
    keyboard.press(vk::F1 + 4);
    const THotkeyPollResult result =
        HotkeyPoll(keyboard, QLatin1Char('.'), {QStringLiteral("F5|f5.wav")}, false, recorder());
    EXPECT_EQ(result.names, QStringList{QStringLiteral("F5")});
    EXPECT_TRUE(FPlayed.isEmpty());
}

TEST_F(THotkeyTest, EveryPollReplaysAHeldKey) {
    platform::FakeKeyboard keyboard;
    keyboard.press(vk::Space);
    const QStringList keyList = {QStringLiteral(" |space.wav")};
    for (int poll = 0; poll < 20; ++poll) {
        HotkeyPoll(keyboard, QLatin1Char('.'), keyList, true, recorder());
    }
    EXPECT_EQ(FPlayed.size(), 20);
    keyboard.releaseAll();
    HotkeyPoll(keyboard, QLatin1Char('.'), keyList, true, recorder());
    EXPECT_EQ(FPlayed.size(), 20);
}

} // namespace
} // namespace clavora::input
