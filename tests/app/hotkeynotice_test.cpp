// Hotkey mode where the session lets no program read or watch keys: the window says so, once, in a notice of its
// own that names the command to bind instead, and leaves the rest of the window usable.
#include "app/hotkeynotice.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "app/widgetnames.h"
#include "platform/fake/fakeshell.h"
#include "tests/support/platformtest.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace clavora;
using clavora::test::namedAction;
using clavora::test::namedChild;

namespace {

class HotkeyNoticeTest : public test::PlatformTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(m_root.file("program")));
        ASSERT_TRUE(QFile::copy(test::programDir() + "/clavora", m_root.file("program/clavora")));
        m_files.programFile = m_root.file("program/clavora");
    }
    std::unique_ptr<Startup> start(platform::Services& services) {
        auto startup = std::make_unique<Startup>(services, QStringList());
        startup->run();
        return startup;
    }
    // The fakes, but with a keyboard that can be neither read nor watched (a Wayland compositor's).
    std::unique_ptr<platform::Services> unheardKeys() {
        return std::make_unique<platform::Services>(
            m_services.parts(),
            std::vector<platform::Capability>{platform::Capability::KeyCaptions, platform::Capability::ProgramVolume,
                                              platform::Capability::VoiceMicrophone});
    }
    static std::vector<HotkeyNotice*> noticesOf(MainWindow& form) {
        std::vector<HotkeyNotice*> visible;
        for (HotkeyNotice* notice : form.findChildren<HotkeyNotice*>()) {
            if (notice->isVisibleTo(&form)) {
                visible.push_back(notice);
            }
        }
        return visible;
    }
};

TEST_F(HotkeyNoticeTest, HotkeyModeThatHearsNothingIsToldOnceWithTheCommandToBind) {
    const struct {
        const char* what;
        QByteArray settings;
        bool keysHeard;
        bool noticeAtStart;
    } cases[] = {
        {"hotkey mode on at start", "", false, true},
        {"hotkey mode switched on later", "[Settings]\nHotkeyMode=OFF\n", false, false},
        {"keys watched as on X11", "", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::writeBytes(m_root.file("program/settings.ini"), c.settings);
        m_shell.opened.clear();
        const std::unique_ptr<platform::Services> unheard = unheardKeys();
        auto startup = start(c.keysHeard ? m_services : *unheard);
        MainWindow& form = startup->window();
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        EXPECT_EQ(noticesOf(form).size(), c.noticeAtStart ? 1u : 0u);

        QAction* hotkeyMode = namedAction(form, widgetnames::HotkeyModeAction);
        if (!hotkeyMode->isChecked()) {
            hotkeyMode->trigger();
        }
        // Off and on again: still the one notice, said once.
        hotkeyMode->trigger();
        hotkeyMode->trigger();
        ASSERT_TRUE(hotkeyMode->isChecked());
        const std::vector<HotkeyNotice*> notices = noticesOf(form);
        if (c.keysHeard) {
            EXPECT_TRUE(notices.empty());
            continue;
        }
        ASSERT_EQ(notices.size(), 1u);
        HotkeyNotice& notice = *notices.front();
        EXPECT_TRUE(notice.text().contains("This desktop does not let programs watch keys")) << notice.text().toStdString();
        EXPECT_TRUE(notice.text().contains("clavora --play KEY")) << notice.text().toStdString();
        // Not a window of its own: the main window stays the active one and takes the keys.
        EXPECT_FALSE(notice.isWindow());

        QLabel* text = namedChild<QLabel>(notice, widgetnames::HotkeyNoticeText);
        ASSERT_NE(text, nullptr);
        emit text->linkActivated(notice.helpUrl());
        EXPECT_EQ(m_shell.opened, QStringList({"http://127.0.0.1:9/help/clavora/#wayland"}));

        namedChild<QToolButton>(notice, widgetnames::HotkeyNoticeClose)->click();
        EXPECT_TRUE(noticesOf(form).empty());
        hotkeyMode->trigger();
        hotkeyMode->trigger();
        EXPECT_TRUE(noticesOf(form).empty());
    }
}

} // namespace
