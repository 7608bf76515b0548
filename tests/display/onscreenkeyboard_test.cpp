// Tests of the on-screen keyboard without a display server: the layout tables, the variant choice, the placement of
// keys, and the keyboard widget driven by mouse and touch against fake keyboard, caption and injection services.
#include "display/onscreenkeyboard.h"
#include "platform/fake/fakekeyboard.h"
#include "platform/fake/fakekeycaptions.h"
#include "platform/fake/fakekeyinjector.h"
#include "tests/support/testsupport.h"

#include <QLineEdit>
#include <QPointingDevice>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <memory>

namespace clavora {
namespace {

using platform::FakeKeyInjector;
using platform::PhysicalKey;

PhysicalKey scanKey(int code) {
    return PhysicalKey{code, false};
}

FakeKeyInjector::Event down(int code, bool extended = false, bool keypad = false) {
    return {PhysicalKey{code, extended}, true, platform::InjectOptions{keypad}};
}
FakeKeyInjector::Event up(int code, bool extended = false, bool keypad = false) {
    return {PhysicalKey{code, extended}, false, platform::InjectOptions{keypad}};
}

const KeyboardLayout& layoutNamed(const QString& name) {
    for (const KeyboardLayout& layout : builtInLayouts()) {
        if (layout.name == name) {
            return layout;
        }
    }
    throw std::runtime_error("no layout " + name.toStdString());
}

std::vector<int> keysPerRow(const KeyboardLayout& layout) {
    std::vector<int> counts;
    for (const KeyRow& row : layout.rows) {
        counts.push_back(int(row.keys.size()));
    }
    return counts;
}

std::vector<int> scanCodesOfRow(const KeyboardLayout& layout, int row) {
    std::vector<int> codes;
    for (const KeyDefinition& key : layout.rows[size_t(row)].keys) {
        codes.push_back(key.key.scanCode);
    }
    return codes;
}

TEST(KeyboardLayouts, EveryVariantHasItsRowsAndKeys) {
    const std::vector<KeyboardLayout>& layouts = builtInLayouts();
    ASSERT_EQ(layouts.size(), 4u);
    EXPECT_EQ(layouts[0].name, "NumPad");
    EXPECT_EQ(layouts[1].name, "Standard101");
    EXPECT_EQ(layouts[2].name, "Standard102");
    EXPECT_EQ(layouts[3].name, "Standard106");

    EXPECT_EQ(keysPerRow(layoutNamed("NumPad")), (std::vector<int>{4, 4, 3, 4, 2}));
    EXPECT_EQ(keysPerRow(layoutNamed("Standard101")), (std::vector<int>{15, 15, 13, 14, 8}));
    EXPECT_EQ(keysPerRow(layoutNamed("Standard102")), (std::vector<int>{15, 15, 13, 15, 8}));
    EXPECT_EQ(keysPerRow(layoutNamed("Standard106")), (std::vector<int>{16, 15, 13, 15, 11}));

    for (const KeyboardLayout& layout : layouts) {
        const bool pad = layout.type == "NumPad";
        EXPECT_EQ(QSize(layout.width, layout.height), pad ? QSize(190, 229) : QSize(848, 262))
            << layout.name.toStdString();
        EXPECT_EQ(QSize(layout.minWidth, layout.minHeight), pad ? QSize(180, 150) : QSize(550, 180))
            << layout.name.toStdString();
        EXPECT_EQ(layout.rowHeight, 48);
    }
}

TEST(KeyboardLayouts, VariantsDifferWhereTheKeyboardsDo) {
    const KeyboardLayout& us = layoutNamed("Standard101");
    const KeyboardLayout& iso = layoutNamed("Standard102");
    const KeyboardLayout& japanese = layoutNamed("Standard106");

    EXPECT_EQ(scanCodesOfRow(us, 3), (std::vector<int>{42, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 42, 0x48, -1}));
    EXPECT_EQ(scanCodesOfRow(iso, 3), (std::vector<int>{42, 86, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 42, 0x48, -1}));
    EXPECT_EQ(iso.rows[3].keys[0].width, 71);
    EXPECT_EQ(us.rows[3].keys[0].width, 125);
    EXPECT_EQ(scanCodesOfRow(japanese, 0), (std::vector<int>{1, 41, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 125, 14}));
    EXPECT_EQ(japanese.rows[0].keys[1].caption, QStringLiteral("漢字"));
    EXPECT_EQ(scanCodesOfRow(japanese, 3),
              (std::vector<int>{42, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 115, 42, 0x48, -1}));
    EXPECT_EQ(scanCodesOfRow(japanese, 4), (std::vector<int>{29, 56, 123, 57, 121, 0x70, 56, 29, 0x4B, 0x50, 0x4D}));
    EXPECT_EQ(japanese.rows[4].keys[5].virtualKey, 21);

    // The right-hand Alt: AltGr on the 102-key board, a language alternative on the 101-key one.
    const KeyDefinition& altGr = iso.rows[4].keys[3];
    EXPECT_EQ(altGr.modifierName, "altgr");
    EXPECT_EQ(altGr.key, (PhysicalKey{56, true}));
    const KeyDefinition& rightAlt = us.rows[4].keys[3];
    EXPECT_EQ(rightAlt.modifierName, "alt");
    ASSERT_EQ(rightAlt.languages.size(), 3u);
    for (const KeyAlternative& alternative : rightAlt.languages) {
        EXPECT_EQ(alternative.caption, "AltGr");
        EXPECT_EQ(alternative.modifierName, "altgr");
    }

    // Flags and modifiers of the typing block.
    const KeyDefinition& caps = us.rows[2].keys[0];
    EXPECT_EQ(caps.flags, KeyFlags(KeyFlag::Stretch | KeyFlag::Toggle));
    EXPECT_EQ(caps.modifierName, "caps");
    const KeyDefinition& fn = us.rows[3].keys.back();
    EXPECT_EQ(fn.flags, KeyFlags(KeyFlag::Toggle));
    EXPECT_FALSE(fn.key.isValid());
    for (const KeyDefinition& key : us.rows[4].keys) {
        EXPECT_EQ(key.flags.testFlag(KeyFlag::Stretch), key.key.scanCode == 57) << key.key.scanCode;
    }
}

TEST(KeyboardLayouts, TheDigitRowTurnsIntoTheFunctionKeysWithFn) {
    for (const QString& name :
         {QStringLiteral("Standard101"), QStringLiteral("Standard102"), QStringLiteral("Standard106")}) {
        const KeyboardLayout& layout = layoutNamed(name);
        std::vector<int> functionCodes;
        for (const KeyDefinition& key : layout.rows[0].keys) {
            for (const KeyAlternative& alternative : key.modifiers) {
                ASSERT_EQ(alternative.modifier, "fn");
                ASSERT_EQ(alternative.keys.size(), 1u);
                EXPECT_EQ(alternative.caption, QStringLiteral("F%1").arg(functionCodes.size() + 1));
                EXPECT_EQ(alternative.fontSize, 10);
                functionCodes.push_back(alternative.keys.front().scanCode);
            }
        }
        // F11 and F12 sit apart from F1 to F10 in the scan code table; 69 and 70 would be Num Lock and Scroll Lock.
        EXPECT_EQ(functionCodes, (std::vector<int>{59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 87, 88}))
            << name.toStdString();
    }
}

TEST(KeyboardLayouts, TheVariantFollowsTheLayoutsLanguage) {
    struct Case {
        const char* locale;
        const char* type;
        const char* expected;
    };
    const Case cases[] = {
        {"en-US", "Standard", "Standard101"}, {"en-GB", "Standard", "Standard102"},
        {"de-DE", "Standard", "Standard102"}, {"ja-JP", "Standard", "Standard106"},
        {"es-ES", "Standard", "Standard102"}, {"es-MX", "Standard", "Standard101"},
        {"nl-BE", "Standard", "Standard101"}, {"nl-NL", "Standard", "Standard102"},
        {"EN-gb", "Standard", "Standard102"}, {"qq-ZZ", "Standard", "Standard101"},
        {"xx", "Standard", "Standard101"},    {"", "Standard", "Standard101"},
        {"de-DE", "NumPad", "NumPad"},        {"ja-JP", "NumPad", "NumPad"},
    };
    for (const Case& c : cases) {
        const KeyboardLayout* chosen =
            chooseLayout(builtInLayouts(), QString::fromLatin1(c.type), QString::fromLatin1(c.locale));
        ASSERT_NE(chosen, nullptr) << c.locale;
        EXPECT_EQ(chosen->name, QString::fromLatin1(c.expected)) << c.locale << " " << c.type;
    }
    EXPECT_EQ(chooseLayout(builtInLayouts(), QStringLiteral("Split"), QStringLiteral("en-US")), nullptr);
}

QRect rectOf(const std::vector<KeyPlacement>& placements, int row, int index) {
    for (const KeyPlacement& placement : placements) {
        if (placement.row == row && placement.index == index) {
            return placement.rect;
        }
    }
    ADD_FAILURE() << "no key " << row << "," << index;
    return QRect();
}

TEST(KeyboardLayouts, StretchKeysShareWhatTheirRowHasToSpare) {
    // The top row of the 101-key board: Esc (64) and Backspace (78) stretch, thirteen keys of 48 do not, and every key
    // has a pixel of margin each side. At the design width the scale is 1: 52 pixels are left, 23 go to Esc and 29 to
    // Backspace (64 : 78). At twice the width everything doubles and 134 are left: 60 and 74.
    struct Case {
        int width;
        int plain;
        int escape;
        int backspace;
    };
    for (const Case c : {Case{848, 48, 87, 107}, Case{1696, 96, 188, 230}}) {
        const std::vector<KeyPlacement> placements = placeKeys(layoutNamed("Standard101"), QSize(c.width, 262));
        EXPECT_EQ(rectOf(placements, 0, 0), QRect(1, 1, c.escape, 51)) << c.width;
        for (int index = 1; index <= 13; ++index) {
            EXPECT_EQ(rectOf(placements, 0, index).width(), c.plain) << c.width << " key " << index;
            EXPECT_EQ(rectOf(placements, 0, index).left(), rectOf(placements, 0, index - 1).right() + 3);
        }
        const QRect backspace = rectOf(placements, 0, 14);
        EXPECT_EQ(backspace.width(), c.backspace) << c.width;
        EXPECT_EQ(backspace.right(), c.width - 2) << "the row ends one margin short of the edge";
    }
}

TEST(KeyboardLayouts, RowsShareTheHeightAndTallKeysSpanTwoRows) {
    // 229 pixels over five rows: 45 each and 4 left over, one each to the top four rows.
    const std::vector<KeyPlacement> placements = placeKeys(layoutNamed("NumPad"), QSize(190, 229));
    const int rowTops[] = {0, 46, 92, 138, 184, 229};
    for (const KeyPlacement& placement : placements) {
        const KeyDefinition& key = layoutNamed("NumPad").rows[size_t(placement.row)].keys[size_t(placement.index)];
        const int rowsCovered = key.height > 48 ? 2 : 1;
        EXPECT_EQ(placement.rect.top(), rowTops[placement.row] + 1) << placement.row << "," << placement.index;
        EXPECT_EQ(placement.rect.bottom(), rowTops[placement.row + rowsCovered] - 2)
            << placement.row << "," << placement.index;
    }
    const QRect add = rectOf(placements, 1, 3);
    const QRect enter = rectOf(placements, 3, 3);
    // The tall keys end where the last key of the row they cover ends, in the column of the key above them.
    EXPECT_EQ(add.bottom(), rectOf(placements, 2, 2).bottom());
    EXPECT_EQ(enter.bottom(), rectOf(placements, 4, 1).bottom());
    EXPECT_EQ(add.left(), rectOf(placements, 0, 3).left());
    EXPECT_EQ(enter.left(), add.left());
    EXPECT_LE(add.right(), 189) << "four keys and their gaps fit the nominal width";
    // Columns line up from row to row.
    for (int index = 0; index < 3; ++index) {
        EXPECT_EQ(rectOf(placements, 2, index), rectOf(placements, 1, index).translated(0, 46));
        EXPECT_EQ(rectOf(placements, 3, index).left(), rectOf(placements, 0, index).left());
    }
}

// A window holding a focused line edit above the keyboard, as the main window holds the focus above its keyboard.
class KeyboardWidget : public ::testing::Test {
protected:
    void SetUp() override { create(); }

    void create() {
        m_window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(m_window.get());
        m_edit = new QLineEdit(m_window.get());
        m_edit->setObjectName(QStringLiteral("Focused"));
        layout->addWidget(m_edit);
        m_keyboard = new OnScreenKeyboard(m_fakeKeyboard, m_captions, m_injector, m_window.get());
        layout->addWidget(m_keyboard);
        m_window->resize(860, 330);
        m_window->show();
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        m_edit->setFocus();
    }

    int key(int scanCode, bool extended = false) const {
        const int index = m_keyboard->indexOfKey(PhysicalKey{scanCode, extended});
        EXPECT_GE(index, 0) << "no key with scan code " << scanCode;
        return index;
    }
    QPoint centre(int index) const { return m_keyboard->keyInfo(index).rect.center(); }
    void click(int index) { QTest::mouseClick(m_keyboard, Qt::LeftButton, Qt::NoModifier, centre(index)); }
    void clickModifier(const QString& name) { click(m_keyboard->indexOfModifier(name)); }
    QString caption(int scanCode) const { return m_keyboard->keyInfo(key(scanCode)).caption; }

    platform::FakeKeyboard m_fakeKeyboard;
    platform::FakeKeyCaptions m_captions;
    FakeKeyInjector m_injector;
    std::unique_ptr<QWidget> m_window;
    QLineEdit* m_edit = nullptr;
    OnScreenKeyboard* m_keyboard = nullptr;
};

using Events = std::vector<FakeKeyInjector::Event>;

} // namespace

namespace platform {
void PrintTo(const FakeKeyInjector::Event& event, std::ostream* out) {
    *out << (event.down ? "down " : "up ") << event.key.scanCode << (event.key.extended ? " E0" : "")
         << (event.options.keypadAsDigits ? " keypad" : "");
}
} // namespace platform

namespace {

TEST_F(KeyboardWidget, AClickSendsPressAndReleaseOnlyWhenLetGoOverTheKey) {
    const int a = key(30);
    QTest::mousePress(m_keyboard, Qt::LeftButton, Qt::NoModifier, centre(a));
    EXPECT_TRUE(m_keyboard->keyInfo(a).down);
    EXPECT_TRUE(m_injector.events().empty()) << "nothing goes out while the key is held";
    QTest::mouseRelease(m_keyboard, Qt::LeftButton, Qt::NoModifier, centre(a));
    EXPECT_EQ(m_injector.events(), (Events{down(30), up(30)}));
    EXPECT_FALSE(m_keyboard->keyInfo(a).down);

    // Let go over another key, or over no key: nothing is sent and the key comes up.
    m_injector.clear();
    for (const QPoint away : {centre(key(31)), QPoint(m_keyboard->width() - 1, m_keyboard->height() - 1)}) {
        QTest::mousePress(m_keyboard, Qt::LeftButton, Qt::NoModifier, centre(a));
        QTest::mouseRelease(m_keyboard, Qt::LeftButton, Qt::NoModifier, away);
        EXPECT_FALSE(m_keyboard->keyInfo(a).down);
    }
    EXPECT_TRUE(m_injector.events().empty());
    EXPECT_TRUE(m_edit->hasFocus()) << "clicking the keyboard must leave the focus where it was";
}

TEST_F(KeyboardWidget, ModifiersLatchUntilTheNextOrdinaryKey) {
    clickModifier(modifier::Shift);
    EXPECT_TRUE(m_keyboard->isLatched(modifier::Shift));
    // Every Shift key shows the latch, and the captions show the shifted level.
    EXPECT_TRUE(m_keyboard->keyInfo(m_keyboard->indexOfModifier(modifier::Shift)).down);
    EXPECT_EQ(caption(30), "A");
    EXPECT_EQ(caption(2), "!");
    clickModifier(modifier::Ctrl);
    click(key(30));
    EXPECT_EQ(m_injector.events(), (Events{down(42), down(29), down(30), up(30), up(29), up(42)}));
    EXPECT_FALSE(m_keyboard->isLatched(modifier::Shift));
    EXPECT_FALSE(m_keyboard->isLatched(modifier::Ctrl));
    EXPECT_EQ(caption(30), "a");

    // A second click on a latched modifier lets it go without any other key.
    m_injector.clear();
    clickModifier(modifier::Alt);
    clickModifier(modifier::Alt);
    EXPECT_EQ(m_injector.events(), (Events{down(56), up(56)}));
    EXPECT_FALSE(m_keyboard->isLatched(modifier::Alt));
}

TEST_F(KeyboardWidget, CapsSwitchesTheSystemLockAndFnTheDigitRow) {
    clickModifier(modifier::Caps);
    EXPECT_EQ(m_injector.events(), (Events{down(58), up(58)}));
    EXPECT_TRUE(m_keyboard->keyInfo(m_keyboard->indexOfModifier(modifier::Caps)).down);
    EXPECT_EQ(caption(30), "A");

    m_injector.clear();
    clickModifier(modifier::Fn);
    EXPECT_TRUE(m_injector.events().empty()) << "Fn sends nothing of its own";
    EXPECT_EQ(caption(6), "F5");
    EXPECT_EQ(caption(13), "F12");
    click(key(6));
    click(key(13));
    EXPECT_EQ(m_injector.events(), (Events{down(63), up(63), down(88), up(88)}));
    EXPECT_TRUE(m_keyboard->isLatched(modifier::Fn)) << "Fn is a toggle: it stays down after a key";
    EXPECT_TRUE(m_keyboard->isLatched(modifier::Caps));
    clickModifier(modifier::Fn);
    EXPECT_EQ(caption(6), "5");
}

TEST_F(KeyboardWidget, CapsShowsTheSystemsLockAtEveryLayout) {
    m_fakeKeyboard.setCapsLockToggled(true);
    m_keyboard->setLayoutType(KeyboardLayoutType::NumPad);
    m_keyboard->setLayoutType(KeyboardLayoutType::Standard);
    EXPECT_TRUE(m_keyboard->keyInfo(m_keyboard->indexOfModifier(modifier::Caps)).down);
    EXPECT_EQ(caption(16), "Q");
    EXPECT_TRUE(m_injector.events().empty());
}

TEST_F(KeyboardWidget, LanguagesBringTheirCaptionsAndKeys) {
    struct Case {
        const char* locale;
        const char* layout;
        const char* del;
        const char* caps;
        const char* ctrl;
        const char* rightAlt;
    };
    const Case cases[] = {
        {"en-US", "Standard101", "Del", "Caps", "Ctrl", "Alt"},
        {"es-MX", "Standard101", "Del", "Caps", "Ctrl", "AltGr"},
        {"de-DE", "Standard102", "Entf", "Feststell", "Strg", "AltGr"},
        {"de-AT", "Standard102", "Entf", "Feststell", "Strg", "AltGr"},
        {"en-GB", "Standard102", "Del", "Caps", "Ctrl", "AltGr"},
    };
    for (const Case& c : cases) {
        m_fakeKeyboard.localeName = QString::fromLatin1(c.locale);
        m_keyboard->refreshCaptions();
        ASSERT_EQ(m_keyboard->layout().name, QString::fromLatin1(c.layout)) << c.locale;
        EXPECT_EQ(m_keyboard->keyInfo(key(0x53, true)).caption, QString::fromUtf8(c.del)) << c.locale;
        EXPECT_EQ(caption(58), QString::fromUtf8(c.caps)) << c.locale;
        EXPECT_EQ(caption(29), QString::fromUtf8(c.ctrl)) << c.locale;
        // The fourth key of the bottom row.
        const int rightAlt = m_keyboard->keyCount() - int(m_keyboard->layout().rows.back().keys.size()) + 3;
        EXPECT_EQ(m_keyboard->keyInfo(rightAlt).caption, QString::fromUtf8(c.rightAlt)) << c.locale;
    }

    // Where the right Alt is AltGr, it latches as AltGr and holds the right-hand Alt key: AltGr captions show.
    m_fakeKeyboard.localeName = QStringLiteral("es-MX");
    m_keyboard->refreshCaptions();
    m_captions.setText(scanKey(16), false, true, QStringLiteral("@"));
    m_injector.clear();
    clickModifier(modifier::AltGr);
    EXPECT_EQ(caption(16), "@");
    click(key(16));
    EXPECT_EQ(m_injector.events(), (Events{down(56, true), down(16), up(16), up(56, true)}));
}

TEST_F(KeyboardWidget, AChangeOfTheSystemsLayoutChoosesTheVariantAgain) {
    QSignalSpy changed(m_keyboard, &OnScreenKeyboard::layoutChanged);
    ASSERT_EQ(m_keyboard->layout().name, "Standard101");
    EXPECT_EQ(m_keyboard->indexOfKey(scanKey(86)), -1);
    clickModifier(modifier::Shift);
    m_injector.clear();

    m_fakeKeyboard.localeName = QStringLiteral("de-DE");
    m_captions.setText(scanKey(44), false, false, QStringLiteral("y"));
    m_captions.announceChange();
    ASSERT_TRUE(test::waitFor([&] { return m_keyboard->layout().name == "Standard102"; }, 2000));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toString(), "Standard102");
    EXPECT_GE(m_keyboard->indexOfKey(scanKey(86)), 0);
    EXPECT_EQ(caption(44), "y");
    // The latched Shift belonged to the old keys: it is let go in the system too, not left held down.
    EXPECT_EQ(m_injector.events(), (Events{up(42)}));
    EXPECT_FALSE(m_keyboard->isLatched(modifier::Shift));

    // A burst of notifications makes one refresh.
    int queries = m_captions.queries();
    m_keyboard->refreshCaptions();
    const int perRefresh = m_captions.queries() - queries;
    ASSERT_GT(perRefresh, 40);
    queries = m_captions.queries();
    for (int i = 0; i < 5; ++i) {
        m_captions.announceChange();
    }
    ASSERT_TRUE(test::waitFor([&] { return m_captions.queries() - queries >= perRefresh; }, 2000));
    EXPECT_EQ(m_captions.queries() - queries, perRefresh);
}

TEST_F(KeyboardWidget, AnUnreadableLocaleIsReportedOnceAndFallsBackTo101Keys) {
    m_fakeKeyboard.localeName = QStringLiteral("xx");
    OnScreenKeyboard board(m_fakeKeyboard, m_captions, m_injector);
    QSignalSpy errors(&board, &OnScreenKeyboard::errorOccurred);
    EXPECT_EQ(board.layout().name, "Standard101");
    EXPECT_FALSE(board.localeStatus().ok());
    EXPECT_EQ(errors.count(), 0) << "nobody could have connected yet";
    ASSERT_TRUE(errors.wait(1000)) << "the creator hears of it once it is back in the event loop";
    EXPECT_EQ(errors.at(0).at(0).toString(), "Error retrieving locale information");

    board.refreshCaptions();
    QCoreApplication::processEvents();
    EXPECT_EQ(errors.count(), 1) << "the same failure is not reported again";

    m_fakeKeyboard.localeName = QStringLiteral("de-DE");
    board.refreshCaptions();
    EXPECT_TRUE(board.localeStatus().ok());
    m_fakeKeyboard.localeName = QString();
    board.refreshCaptions();
    ASSERT_TRUE(errors.wait(1000));
    EXPECT_EQ(errors.count(), 2);
}

TEST_F(KeyboardWidget, TheNumericPadTypesItsDigitsWhateverNumLock) {
    QSignalSpy changed(m_keyboard, &OnScreenKeyboard::layoutChanged);
    m_keyboard->setLayoutType(KeyboardLayoutType::NumPad);
    EXPECT_EQ(changed.count(), 1);
    m_keyboard->setLayoutType(KeyboardLayoutType::NumPad);
    EXPECT_EQ(changed.count(), 1) << "the type in force is left alone";
    EXPECT_EQ(m_keyboard->layout().name, "NumPad");
    EXPECT_EQ(m_keyboard->minimumSizeHint(), QSize(180, 150));

    const int middle = key(0x4C);
    EXPECT_EQ(m_keyboard->keyInfo(middle).caption, "5");
    click(middle);
    click(key(0x35, true));
    EXPECT_EQ(m_injector.events(),
              (Events{down(0x4C, false, true), up(0x4C, false, true), down(0x35, true, true), up(0x35, true, true)}));

    m_keyboard->setLayoutType(KeyboardLayoutType::Standard);
    EXPECT_EQ(m_keyboard->minimumSizeHint(), QSize(550, 180));
    EXPECT_EQ(m_keyboard->sizeHint(), QSize(848, 262));
}

TEST_F(KeyboardWidget, EveryTouchPointIsAPointerOfItsOwn) {
    // Ours to delete once done with.
    const std::unique_ptr<QPointingDevice> device(QTest::createTouchDevice());
    QPointingDevice* screen = device.get();
    const int a = key(30);
    const int s = key(31);
    const int d = key(32);
    QTest::touchEvent(m_keyboard, screen).press(0, centre(a)).press(1, centre(s));
    EXPECT_TRUE(m_keyboard->keyInfo(a).down);
    EXPECT_TRUE(m_keyboard->keyInfo(s).down);
    QTest::touchEvent(m_keyboard, screen).stationary(0).release(1, centre(s));
    EXPECT_EQ(m_injector.events(), (Events{down(31), up(31)}));
    EXPECT_TRUE(m_keyboard->keyInfo(a).down) << "the other finger still holds its key";

    // A finger that slides onto another key takes the pressed state there and sends that key.
    QTest::touchEvent(m_keyboard, screen).move(0, centre(d));
    EXPECT_FALSE(m_keyboard->keyInfo(a).down);
    EXPECT_TRUE(m_keyboard->keyInfo(d).down);
    QTest::touchEvent(m_keyboard, screen).release(0, centre(d));
    EXPECT_EQ(m_injector.events(), (Events{down(31), up(31), down(32), up(32)}));
    EXPECT_FALSE(m_keyboard->keyInfo(d).down);
    EXPECT_TRUE(m_edit->hasFocus());
}

TEST_F(KeyboardWidget, WithoutInjectionTheKeysGoToTheFocusedWidget) {
    m_injector.setAvailable(false);
    ASSERT_TRUE(m_edit->hasFocus());
    clickModifier(modifier::Shift);
    click(key(30));
    click(key(45));
    click(key(0x4B, true));
    ASSERT_TRUE(test::waitFor([&] { return m_edit->text() == "Ax"; }, 2000)) << m_edit->text().toStdString();
    EXPECT_EQ(m_edit->cursorPosition(), 1) << "Left moved the cursor between the two";
}

// The background colour the keyboard paints at row y: grey at the top to silver at the bottom.
QColor backgroundAt(int y, int height) {
    const double t = double(y) / height;
    return QColor::fromRgbF(0.5 + 0.25 * t, 0.5 + 0.25 * t, 0.5 + 0.25 * t);
}

bool near(const QColor& a, const QColor& b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST_F(KeyboardWidget, NothingIsDrawnOutsideTheKeys) {
    // Long captions in every key the layout labels, at the smallest size and a large one.
    for (int code = 2; code <= 53; ++code) {
        m_captions.setText(scanKey(code), false, false, QStringLiteral("WWWWWWWWWWWWWWWW"));
    }
    for (const QSize size : {QSize(550, 180), QSize(1900, 700)}) {
        OnScreenKeyboard board(m_fakeKeyboard, m_captions, m_injector);
        board.resize(size);
        board.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&board));
        QTest::mouseClick(&board, Qt::LeftButton, Qt::NoModifier,
                          board.keyInfo(board.indexOfModifier(modifier::Caps)).rect.center());
        QImage image(size, QImage::Format_RGB32);
        board.render(&image);

        std::vector<bool> covered(size_t(size.width()) * size_t(size.height()), false);
        for (int i = 0; i < board.keyCount(); ++i) {
            const QRect r = board.keyInfo(i).rect.intersected(QRect(QPoint(), size));
            for (int y = r.top(); y <= r.bottom(); ++y) {
                std::fill_n(covered.begin() + y * size.width() + r.left(), r.width(), true);
            }
        }
        int checked = 0;
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                if (covered[size_t(y) * size_t(size.width()) + size_t(x)]) {
                    continue;
                }
                ++checked;
                ASSERT_TRUE(near(QColor(image.pixel(x, y)), backgroundAt(y, size.height()), 3))
                    << size.width() << "x" << size.height() << " at " << x << "," << y;
            }
        }
        EXPECT_GT(checked, size.width() * 2) << "the gaps were looked at";

        // The three shades differ: an up key, the latched Caps and a key held down.
        const auto centreOf = [&](int scanCode) { return board.keyInfo(board.indexOfKey(scanKey(scanCode))).rect; };
        QTest::mousePress(&board, Qt::LeftButton, Qt::NoModifier, centreOf(30).center());
        board.render(&image);
        QTest::mouseRelease(&board, Qt::LeftButton, Qt::NoModifier, QPoint(0, 0));
        const auto shadeAt = [&](const QRect& r) {
            return QColor(image.pixel(r.left() + 3, r.top() + r.height() / 2));
        };
        const QColor upShade = shadeAt(centreOf(31));
        const QColor latchedShade = shadeAt(centreOf(58));
        const QColor pressedShade = shadeAt(centreOf(30));
        EXPECT_FALSE(near(upShade, latchedShade, 12));
        EXPECT_FALSE(near(upShade, pressedShade, 12));
        EXPECT_FALSE(near(latchedShade, pressedShade, 12));
    }
}

} // namespace
} // namespace clavora
