// The keyboard's layout and captions on a Wayland compositor: the keymap the compositor hands its clients, followed
// as it changes, and the XKB defaults while the seat has no keyboard.
#include "platform/wayland/waylandkeyboard.h"
#include "tests/support/testsupport.h"
#include "tests/support/waylandrig.h"

#include <QFile>
#include <gtest/gtest.h>

namespace clavora::platform {
namespace {

using test::waitFor;

// The socket of the rig's compositor, as a path: the test does not share its user's runtime folder.
QByteArray rigSocket() {
    return QFile::encodeName(qEnvironmentVariable("CLAVORA_WAYLAND_RUNTIME") + QLatin1Char('/') +
                             qEnvironmentVariable("CLAVORA_WAYLAND_DISPLAY"));
}

class WaylandKeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::waylandRigRunning()) {
            GTEST_SKIP() << "needs the compositor of the Wayland test rig";
        }
    }
};

// What a typing tool's virtual keyboard sends: the one key it is about to type, in a keymap that names no layout.
const char ToolKeymap[] = "xkb_keymap {\n"
                          "xkb_keycodes \"(unnamed)\" { minimum = 8; maximum = 255; <K1> = 9; };\n"
                          "xkb_types \"(unnamed)\" { include \"complete\" };\n"
                          "xkb_compatibility \"(unnamed)\" { include \"complete\" };\n"
                          "xkb_symbols \"(unnamed)\" { key <K1> { [ x ] }; };\n"
                          "};\n";

constexpr PhysicalKey KeyRightOfT{21, false};   // y on a US keyboard, z on a German one
constexpr PhysicalKey KeyRightOfTab{16, false}; // q on a US keyboard, a on a French one
constexpr PhysicalKey KeyRightOfP{26, false};   // [ on a US keyboard, ü on a German one

TEST_F(WaylandKeyboardTest, FollowsTheKeymapTheCompositorHandsOut) {
    test::WaylandKeyboard device;
    ASSERT_TRUE(device.connected());
    ASSERT_TRUE(device.setLayout("de"));

    WaylandKeymap source(rigSocket());
    ASSERT_TRUE(source.connected());
    WaylandKeyboard keyboard(source);
    WaylandKeyCaptions captions(source);
    int changes = 0;
    captions.setChangeHandler([&] { ++changes; });
    ASSERT_TRUE(waitFor([&] { return source.fromCompositor(); }, 10000));
    EXPECT_EQ(keyboard.keyboardLocaleName(), "de-DE");
    EXPECT_EQ(captions.keyText(KeyRightOfT, {}), "z");
    EXPECT_EQ(captions.keyText(KeyRightOfP, {}), QString::fromUtf8("ü"));
    EXPECT_EQ(captions.keyText(KeyRightOfP, {true, false, false}), QString::fromUtf8("Ü"));
    // AltGr+Q types @ on a German keyboard.
    EXPECT_EQ(captions.keyText(KeyRightOfTab, {false, true, false}), "@");
    EXPECT_TRUE(keyboard.snapshot() == KeyStateSnapshot());

    // The layout switched in the desktop's settings: a new keymap, the captions and the locale with it.
    const int before = changes;
    ASSERT_TRUE(device.setLayout("fr"));
    ASSERT_TRUE(waitFor([&] { return changes > before && captions.keyText(KeyRightOfTab, {}) == "a"; }, 10000));
    EXPECT_EQ(keyboard.keyboardLocaleName(), "fr-FR");

    // A typing tool's virtual keyboard brings a keymap of its own for the few keys it types, naming no layout: it is
    // not the user's layout, which stays until a real one comes (the compositor hands out keymaps in order).
    QStringList seen;
    captions.setChangeHandler([&] { seen << captions.keyText(KeyRightOfTab, {}); });
    device.setKeymap(ToolKeymap);
    ASSERT_TRUE(device.setLayout("us"));
    ASSERT_TRUE(waitFor([&] { return captions.keyText(KeyRightOfTab, {}) == "q"; }, 10000));
    EXPECT_FALSE(seen.contains(QString())) << seen.join(',').toStdString();
    EXPECT_EQ(keyboard.keyboardLocaleName(), "en-US");
}

TEST_F(WaylandKeyboardTest, ASeatWithoutAKeyboardHasTheXkbDefaults) {
    test::ScopedEnvironment layout("XKB_DEFAULT_LAYOUT", "de");
    WaylandKeymap source(rigSocket());
    ASSERT_TRUE(source.connected());
    EXPECT_FALSE(source.fromCompositor());
    WaylandKeyboard keyboard(source);
    WaylandKeyCaptions captions(source);
    EXPECT_EQ(keyboard.keyboardLocaleName(), "de-DE");
    EXPECT_EQ(captions.keyText(KeyRightOfT, {}), "z");
}

} // namespace
} // namespace clavora::platform
