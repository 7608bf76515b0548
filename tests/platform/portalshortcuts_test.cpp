// Global shortcuts through the desktop portal: the real xdg-desktop-portal frontend on a private session bus, with a
// GlobalShortcuts backend of the test's own that it finds through a .portal file of the test's portal folder.
#include "platform/wayland/portalshortcuts.h"
#include "tests/support/portalrig.h"
#include "tests/support/testsupport.h"

#include <QDBusConnectionInterface>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace clavora::platform {
namespace {

using test::PortalShortcut;
using test::waitFor;

class PortalShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::PortalRig::available()) {
            GTEST_SKIP() << "needs xdg-desktop-portal and dbus-daemon";
        }
        ASSERT_TRUE(m_portal.start(m_root.path())) << m_portal.error().toStdString();
        m_clientBus = &m_portal.client();
        m_backend = &m_portal.backend();
    }

    test::TempFolder m_root;
    test::PortalRig m_portal;
    QDBusConnection* m_clientBus = nullptr;
    test::ShortcutsBackend* m_backend = nullptr;
};

TEST_F(PortalShortcutsTest, BindsOneShortcutPerNameAndReportsItsPressesAndReleases) {
    EXPECT_TRUE(portalOffersGlobalShortcuts(*m_clientBus, std::chrono::milliseconds(10000)));

    PortalGlobalShortcuts shortcuts(*m_clientBus);
    std::vector<std::pair<QString, bool>> heard;
    ASSERT_TRUE(
        shortcuts.bind({"a", "F1", "SHIFT"}, [&](const QString& name, bool down) { heard.emplace_back(name, down); }));
    ASSERT_TRUE(waitFor([&] { return !m_backend->binds.empty(); }, 20000))
        << m_portal.frontend().readAll().toStdString();
    ASSERT_EQ(m_backend->sessions.size(), 1u);
    const auto [session, bound] = m_backend->binds.front();
    EXPECT_EQ(session, m_backend->sessions.front());
    QStringList ids;
    QStringList descriptions;
    for (const PortalShortcut& shortcut : bound) {
        ids << shortcut.id;
        descriptions << shortcut.properties.value("description").toString();
    }
    EXPECT_EQ(ids, QStringList({"a", "F1", "SHIFT"}));
    EXPECT_EQ(descriptions, QStringList({"Play a", "Play F1", "Play SHIFT"}));
    ASSERT_TRUE(waitFor([&] { return !shortcuts.sessionPath().isEmpty(); }, 10000));

    m_backend->press("F1", true);
    m_backend->press("F1", false);
    ASSERT_TRUE(waitFor([&] { return heard.size() >= 2; }, 10000)) << m_portal.frontend().readAll().toStdString();
    EXPECT_EQ(heard, (std::vector<std::pair<QString, bool>>{{"F1", true}, {"F1", false}}));

    // The key map changed: the same session binds the new names.
    ASSERT_TRUE(shortcuts.bind({"a", "b"}, [&](const QString& name, bool down) { heard.emplace_back(name, down); }));
    ASSERT_TRUE(waitFor([&] { return m_backend->binds.size() == 2; }, 20000));
    EXPECT_EQ(m_backend->binds.back().first, session);
    EXPECT_EQ(m_backend->sessions.size(), 1u);
    heard.clear();
    // A name no longer bound is not reported; a bound one is.
    m_backend->press("F1", true);
    m_backend->press("b", true);
    ASSERT_TRUE(waitFor([&] { return !heard.empty(); }, 10000));
    EXPECT_EQ(heard, (std::vector<std::pair<QString, bool>>{{"b", true}}));

    // Given back: nothing more is heard from that session. Another one, made after, hears its own press, which the
    // bus delivers after the first session's.
    shortcuts.unbind();
    heard.clear();
    PortalGlobalShortcuts other(*m_clientBus);
    bool otherHeard = false;
    ASSERT_TRUE(other.bind({"b"}, [&](const QString&, bool) { otherHeard = true; }));
    ASSERT_TRUE(waitFor([&] { return m_backend->binds.size() == 3 && !other.sessionPath().isEmpty(); }, 20000));
    m_backend->press("b", false, 0);
    m_backend->press("b", true);
    ASSERT_TRUE(waitFor([&] { return otherHeard; }, 10000));
    EXPECT_TRUE(heard.empty());
}

TEST_F(PortalShortcutsTest, ABusWithoutTheFrontendOffersNone) {
    m_portal.frontend().terminate();
    ASSERT_TRUE(m_portal.frontend().waitForFinished(10000));
    ASSERT_TRUE(waitFor(
        [&] {
            return !m_clientBus->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop"));
        },
        10000));
    EXPECT_FALSE(portalOffersGlobalShortcuts(*m_clientBus, std::chrono::milliseconds(10000)));
    PortalGlobalShortcuts shortcuts(*m_clientBus);
    EXPECT_TRUE(shortcuts.sessionPath().isEmpty());
}

} // namespace
} // namespace clavora::platform
