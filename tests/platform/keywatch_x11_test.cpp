// The X11 key watch against a real X server: keys pressed with xdotool reach the handler on the GUI thread as
// virtual-key codes, down and up, and nothing after stop().
#include "platform/x11/linuxkeywatch.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace clavora::platform {
namespace {

using Event = std::pair<int, bool>;

void xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    ASSERT_TRUE(process.waitForFinished(10000));
}

class LinuxKeyWatchX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            GTEST_SKIP() << "needs an X display";
        }
    }
    void TearDown() override {
        if (m_held) {
            xdotool({QStringLiteral("keyup"), QStringLiteral("shift")});
        }
    }

    bool start() {
        return m_watch.start([this](int virtualKey, bool down) { m_events.emplace_back(virtualKey, down); });
    }

    LinuxKeyWatch m_watch;
    std::vector<Event> m_events;
    bool m_held = false;
};

TEST_F(LinuxKeyWatchX11, KeysComeDownAndUpAsVirtualKeysInOrder) {
    ASSERT_TRUE(start()) << "the X server offers no raw key events";
    xdotool({QStringLiteral("key"), QStringLiteral("q"), QStringLiteral("Return")});
    m_held = true;
    xdotool({QStringLiteral("keydown"), QStringLiteral("shift")});
    xdotool({QStringLiteral("keyup"), QStringLiteral("shift")});
    m_held = false;
    const std::vector<Event> expected{{'Q', true},         {'Q', false},       {vk::Return, true},
                                      {vk::Return, false}, {vk::LShift, true}, {vk::LShift, false}};
    test::waitFor([&] { return m_events.size() >= expected.size(); }, 10000);
    // Raw events are the device's, unfiltered: xdotool releases a modifier under each keycode that carries its
    // symbol, so a second "up" of Shift may follow.
    ASSERT_GE(m_events.size(), expected.size());
    EXPECT_EQ(std::vector<Event>(m_events.begin(), m_events.begin() + expected.size()), expected);
}

TEST_F(LinuxKeyWatchX11, AStoppedWatchTellsNothingAndStartsAgain) {
    ASSERT_TRUE(start());
    m_watch.stop();
    xdotool({QStringLiteral("key"), QStringLiteral("q")});
    // The handler only ever runs from the event loop: give the server's events time to arrive if they were coming.
    test::waitFor([] { return false; }, 300);
    EXPECT_TRUE(m_events.empty());

    ASSERT_TRUE(start());
    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    test::waitFor([&] { return m_events.size() >= 2; }, 10000);
    EXPECT_EQ(m_events, (std::vector<Event>{{vk::Escape, true}, {vk::Escape, false}}));
}

} // namespace
} // namespace clavora::platform
