// The helpers of platform/ that are the same on every system: opening web addresses, the maker's web host and the
// key-state snapshot.
#include "platform/fake/fakeshell.h"
#include "platform/keyboard.h"
#include "platform/shell.h"
#include "platform/webhost.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

namespace clavora::platform {
namespace {

TEST(OpenWebAddressTest, OnlyHttpAndHttpsAddressesReachTheShell) {
    FakeShell shell;
    const struct {
        const char* url;
        bool opened;
    } cases[] = {
        {"https://www.example.com/help.html", true},
        {"HTTP://www.example.com/", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"/usr/bin/xterm", false},
        {"https://", false},
        {"", false},
        {"http://exa mple.com/", false},
    };
    for (const auto& c : cases) {
        shell.opened.clear();
        EXPECT_EQ(shell.openWebAddress(QString::fromLatin1(c.url)), c.opened) << c.url;
        EXPECT_EQ(shell.opened, c.opened ? QStringList{QString::fromLatin1(c.url)} : QStringList()) << c.url;
    }
}

TEST(MakerWebHostTest, TheEnvironmentOverridesTheBuiltInHost) {
    const QByteArray saved = qgetenv("CLAVORA_WEB_HOST");
    const bool wasSet = qEnvironmentVariableIsSet("CLAVORA_WEB_HOST");
    qunsetenv("CLAVORA_WEB_HOST");
    EnvironmentWebHost host;
    const QString builtIn = host.makerWebHost();
    qputenv("CLAVORA_WEB_HOST", " 127.0.0.1:8080 ");
    const QString overridden = host.makerWebHost();
    qputenv("CLAVORA_WEB_HOST", "  ");
    const QString blank = host.makerWebHost();
    if (wasSet) {
        qputenv("CLAVORA_WEB_HOST", saved);
    } else {
        qunsetenv("CLAVORA_WEB_HOST");
    }
    EXPECT_FALSE(builtIn.isEmpty());
    EXPECT_EQ(overridden, "127.0.0.1:8080");
    EXPECT_EQ(blank, builtIn);
}

TEST(KeyStateSnapshotTest, CodesOutsideTheTableAreNeverDown) {
    KeyStateSnapshot keys;
    for (int code : {-1, 256, 1000}) {
        keys.setDown(code);
        EXPECT_FALSE(keys.isDown(code)) << code;
    }
    EXPECT_EQ(keys, KeyStateSnapshot());
    for (int code : {0, 63, 64, 127, 128, 255}) {
        keys.setDown(code);
        EXPECT_TRUE(keys.isDown(code)) << code;
        EXPECT_FALSE(keys.isDown(code ^ 1)) << code;
        keys.setDown(code, false);
    }
    EXPECT_EQ(keys, KeyStateSnapshot());
}

} // namespace
} // namespace clavora::platform
