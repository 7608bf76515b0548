// Hotkey mode where the session lets no program read or watch keys: through the shortcuts the desktop binds for the
// program where it does, and otherwise a notice in the window, said once, that names the command to bind instead.
#include "app/hotkeynotice.h"
#include "app/mainwindow.h"
#include "app/shortcuthotkeys.h"
#include "app/soundboard.h"
#include "app/startup.h"
#include "app/widgetnames.h"
#include "keymap/keymap.h"
#include "platform/fake/fakeshell.h"
#include "tests/support/platformtest.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>
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
    // The fakes, but with a keyboard that can be neither read nor watched (a Wayland compositor's), and with the
    // desktop's shortcuts or without.
    std::unique_ptr<platform::Services> unheardKeys(bool shortcuts = false) {
        std::vector<platform::Capability> capabilities{platform::Capability::KeyCaptions,
                                                       platform::Capability::ProgramVolume,
                                                       platform::Capability::VoiceMicrophone};
        if (shortcuts) {
            capabilities.push_back(platform::Capability::GlobalShortcuts);
        }
        m_keyWatch.available = false;
        return std::make_unique<platform::Services>(m_services.parts(), capabilities);
    }
    test::AudioLog m_log;

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
        m_keyWatch.available = c.keysHeard;
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
        EXPECT_TRUE(notice.text().contains("This desktop does not let programs watch keys"))
            << notice.text().toStdString();
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

TEST_F(HotkeyNoticeTest, TheDesktopsShortcutsPlayTheirNamesAndRepeatWhileHeld) {
    const QString one = m_root.file("program/one.txt");
    const QString two = m_root.file("program/two.txt");
    test::writeBytes(one, "not a sound");
    test::writeBytes(two, "not a sound");
    test::writeBytes(m_root.file("program/keys.db"), ("a|" + one + "\nF2|" + two + "\na|" + two + "\n").toUtf8());
    platform::FakeGlobalShortcuts& shortcuts = m_fakes.shortcuts;
    const std::unique_ptr<platform::Services> services = unheardKeys(true);
    auto startup = start(*services);
    MainWindow& form = startup->window();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_TRUE(test::waitFor([&] { return shortcuts.binds > 0; }, 5000));

    // One shortcut per distinct name, the twelve defaults appended at start among them; no notice is needed.
    ASSERT_GE(shortcuts.bound.size(), 2);
    EXPECT_EQ(shortcuts.bound.mid(0, 2), QStringList({"a", "F2"}));
    EXPECT_EQ(shortcuts.bound.count("a"), 1);
    EXPECT_EQ(shortcuts.bound, ShortcutHotkeys::namesOf(startup->keyMap()));
    EXPECT_TRUE(noticesOf(form).empty());

    // Pressed: every binding of the name plays, in file order, and again at every tick while it is held.
    QTimer* repeat = namedChild<QTimer>(form, widgetnames::ShortcutRepeatTimer);
    ASSERT_NE(repeat, nullptr);
    m_log.clear();
    shortcuts.send("a", true);
    ASSERT_TRUE(test::waitFor([&] { return m_log.refusedSounds().size() >= 6; }, 10000));
    EXPECT_EQ(m_log.refusedSounds().mid(0, 6), QStringList({one, two, one, two, one, two}));
    EXPECT_TRUE(repeat->isActive());
    shortcuts.send("a", false);
    EXPECT_FALSE(repeat->isActive());

    // A changed key map is bound anew; an unchanged one is not asked for again.
    const int binds = shortcuts.binds;
    startup->keyMap().appendRow(Binding{"z", one});
    ShortcutHotkeys* hotkeys = form.findChild<ShortcutHotkeys*>();
    ASSERT_NE(hotkeys, nullptr);
    hotkeys->keyMapChanged();
    EXPECT_EQ(shortcuts.binds, binds + 1);
    EXPECT_TRUE(shortcuts.bound.contains("z"));
    hotkeys->keyMapChanged();
    EXPECT_EQ(shortcuts.binds, binds + 1);

    // Hotkey mode off gives the shortcuts back; on asks for them again.
    QAction* hotkeyMode = namedAction(form, widgetnames::HotkeyModeAction);
    hotkeyMode->trigger();
    EXPECT_TRUE(shortcuts.bound.isEmpty());
    m_log.clear();
    shortcuts.send("F2", true);
    QCoreApplication::processEvents();
    EXPECT_FALSE(repeat->isActive());
    hotkeyMode->trigger();
    EXPECT_TRUE(test::waitFor([&] { return shortcuts.bound.contains("F2"); }, 5000));
    EXPECT_TRUE(noticesOf(form).empty());
}

} // namespace
