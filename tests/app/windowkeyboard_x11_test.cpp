// The on-screen keyboard of the main window on a real X display: a real pointer click on a key injects it into the
// X server, the focused main window's key handling names it and plays its binding, and View > Keyboard Layout
// switches the keyboard while the window is up.
#include "app/mainwindow.h"
#include "app/startup.h"
#include "app/widgetnames.h"
#include "display/onscreenkeyboard.h"
#include "tests/support/platformtest.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QTest>
#include <gtest/gtest.h>

using namespace clavora;
using clavora::test::namedAction;
using clavora::test::namedChild;
using clavora::test::runCommand;
using clavora::test::waitFor;

namespace {

class WindowKeyboardOnX11 : public test::PlatformTest {
protected:
    void SetUp() override {
#ifndef CLAVORA_PLATFORM_LINUX
        GTEST_SKIP() << "needs the X11 keyboard services";
#endif
        if (QGuiApplication::platformName() != "xcb") {
            GTEST_SKIP() << "needs the X display of the test rig";
        }
        ASSERT_TRUE(QDir().mkpath(m_root.file("program")));
        ASSERT_TRUE(QFile::copy(test::programDir() + "/clavora", m_root.file("program/clavora")));
        m_files.programFile = m_root.file("program/clavora");
        // Not audio: the sound player refuses them by name, which the log records in the order they played.
        test::writeBytes(m_root.file("program/a.txt"), "not a sound");
        test::writeBytes(m_root.file("program/5.txt"), "not a sound");
        test::writeBytes(m_root.file("program/keys.db"),
                         ("a|" + m_root.file("program/a.txt") + "\n5|" + m_root.file("program/5.txt") + "\n").toUtf8());
        // Hotkey mode off: only the window's own key handling plays.
        test::writeBytes(m_root.file("program/settings.ini"), "[Settings]\nHotkeyMode=OFF\n");

        m_startup = std::make_unique<Startup>(m_realKeys.services(), QStringList());
        m_startup->run();
        MainWindow& form = m_startup->window();
        form.show();
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        m_keyboard = qobject_cast<OnScreenKeyboard*>(namedChild<QWidget>(form, widgetnames::OnScreenKeyboard));
        ASSERT_NE(m_keyboard, nullptr);
    }

    // The pointer goes back to a corner, off where the next test's window opens.
    void TearDown() override {
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("0"), QStringLiteral("0")});
    }

    // A click of the X server's own pointer on the middle of the key.
    void clickKey(platform::PhysicalKey key) {
        const int index = m_keyboard->indexOfKey(key);
        ASSERT_GE(index, 0) << "no key with scan code " << key.scanCode;
        const QPoint at = m_keyboard->mapToGlobal(m_keyboard->keyInfo(index).rect.center());
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(at.x()),
                                               QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")});
    }

    // The window's key services are the X server's, not the fakes of the fixture.
    test::RealKeyServices m_realKeys{m_services};
    std::unique_ptr<Startup> m_startup;
    OnScreenKeyboard* m_keyboard = nullptr;
    test::AudioLog m_log;
};

// Counts the key releases that reach a widget.
class ReleaseCounter : public QObject {
public:
    int releases = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyRelease) {
            ++releases;
        }
        return QObject::eventFilter(watched, event);
    }
};

TEST_F(WindowKeyboardOnX11, AClickOnABoundLetterPlaysItAndTheWindowKeepsTheFocus) {
    MainWindow& form = m_startup->window();
    ReleaseCounter released;
    form.installEventFilter(&released);
    clickKey(platform::PhysicalKey{30, false});
    EXPECT_TRUE(waitFor([this] { return !m_log.refusedSounds().isEmpty(); }, 5000)) << "nothing played";
    // The stroke is over once its release has reached the window; a second play would have come by then.
    EXPECT_TRUE(waitFor([&] { return released.releases > 0; }, 5000)) << "the key was not released";
    QCoreApplication::processEvents();
    form.removeEventFilter(&released);
    EXPECT_EQ(m_log.refusedSounds(), QStringList{m_root.file("program/a.txt")});
    EXPECT_TRUE(form.isActiveWindow());
    EXPECT_EQ(QApplication::focusWidget(), &form);
}

TEST_F(WindowKeyboardOnX11, TheLayoutMenuSwitchesTheKeyboardAndTheNumPadsMiddleKeyPlaysFive) {
    ASSERT_EQ(m_keyboard->layoutType(), KeyboardLayoutType::Standard);
    namedAction(m_startup->window(), widgetnames::NumPadLayoutAction)->trigger();
    EXPECT_EQ(m_keyboard->layoutType(), KeyboardLayoutType::NumPad);
    EXPECT_EQ(m_keyboard->layout().name, "NumPad");
    // Laid out again at once, to the window's size.
    QCoreApplication::processEvents();
    const int middle = m_keyboard->indexOfKey(platform::PhysicalKey{0x4C, false});
    ASSERT_GE(middle, 0);
    EXPECT_EQ(m_keyboard->keyInfo(middle).caption, "5");
    EXPECT_TRUE(m_keyboard->rect().contains(m_keyboard->keyInfo(middle).rect));

    clickKey(platform::PhysicalKey{0x4C, false});
    EXPECT_TRUE(waitFor([this] { return !m_log.refusedSounds().isEmpty(); }, 5000)) << "nothing played";
    EXPECT_EQ(m_log.refusedSounds(), QStringList{m_root.file("program/5.txt")});

    namedAction(m_startup->window(), widgetnames::StandardLayoutAction)->trigger();
    EXPECT_EQ(m_keyboard->layout().name, "Standard101");
}

} // namespace
