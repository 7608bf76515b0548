// The parts start-up puts into the main window after its menus: the on-screen keyboard (its place, the window's
// minimum size, the layout option, its error, clicks that keep the focus), the volume slider on the engine's gain,
// and the update check behind Help > Update Notifications.
#include "app/application.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/startup.h"
#include "app/textdisplay.h"
#include "app/widgetnames.h"
#include "audio/soundplayer.h"
#include "display/onscreenkeyboard.h"
#include "online/updatechecker.h"
#include "tests/support/platformtest.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace clavora;
using clavora::test::namedAction;
using clavora::test::namedChild;
using clavora::test::waitFor;

namespace {

constexpr platform::PhysicalKey KeyA{30, false};

class MainWindowPartsTest : public test::PlatformTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(m_root.file("program")));
        ASSERT_TRUE(QFile::copy(test::programDir() + "/clavora", m_root.file("program/clavora")));
        m_files.programFile = m_root.file("program/clavora");
        setApplicationErrorHandler([this](const QString& message) { m_errors << message; });
        setMessageBoxAnswer([this](QMessageBox& box) {
            m_messages << box.text();
            return QMessageBox::Ok;
        });
        // The bound files are not audio: the sound player refuses them by name, which the log records.
        test::writeBytes(m_root.file("program/one.txt"), "not a sound");
        test::writeBytes(m_root.file("program/keys.db"), ("a|" + m_root.file("program/one.txt") + "\n").toUtf8());
    }
    void TearDown() override {
        setApplicationErrorHandler({});
        setMessageBoxAnswer({});
    }

    std::unique_ptr<Startup> start(const QByteArray& settings = "[Settings]\nHotkeyMode=OFF\n") {
        test::writeBytes(m_root.file("program/settings.ini"), settings);
        auto startup = std::make_unique<Startup>(m_services, QStringList());
        startup->run();
        return startup;
    }

    static OnScreenKeyboard* keyboardOf(MainWindow& form) {
        return qobject_cast<OnScreenKeyboard*>(namedChild<QWidget>(form, widgetnames::OnScreenKeyboard));
    }

    QStringList m_errors;
    QStringList m_messages;
    test::AudioLog m_log;
};

TEST_F(MainWindowPartsTest, TheKeyboardFillsTheAreaBelowTheSliderAndSetsTheWindowsSmallestSize) {
    auto startup = start();
    MainWindow& form = startup->window();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    OnScreenKeyboard* keyboard = keyboardOf(form);
    ASSERT_NE(keyboard, nullptr);
    const QWidget* area = keyboard->parentWidget();
    EXPECT_EQ(keyboard->geometry(), area->rect().adjusted(3, 3, -3, -3));
    const QSlider* slider = namedChild<QSlider>(form, widgetnames::VolumeSlider);
    EXPECT_EQ(area->y(), slider->geometry().bottom() + 1);
    EXPECT_EQ(area->geometry().bottom(), form.centralWidget()->height() - 1);

    // Shrunk as far as it goes, the window still holds the whole keyboard, and no more than it needs.
    form.resize(1, 1);
    QCoreApplication::processEvents();
    const QSize least = keyboard->minimumSizeHint();
    EXPECT_EQ(least, QSize(550, 180));
    EXPECT_EQ(keyboard->height(), least.height());
    EXPECT_GE(keyboard->width(), least.width());
    EXPECT_EQ(form.height(), form.menuBar()->height() + 65 + 25 + least.height() + 6);
    EXPECT_LE(form.width(), std::max(least.width() + 6, form.menuBar()->sizeHint().width()));

    // The numeric pad needs less room, and the window may then be made smaller.
    namedAction(form, widgetnames::NumPadLayoutAction)->trigger();
    // The window takes its new minimum from its layouts, one level after the other.
    EXPECT_TRUE(waitFor([&] { return form.minimumSize().width() < least.width(); }, 2000))
        << form.minimumSize().width();
    form.resize(1, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(keyboard->minimumSizeHint(), QSize(180, 150));
    EXPECT_EQ(keyboard->height(), 150);
    EXPECT_LT(form.width(), least.width());
}

TEST_F(MainWindowPartsTest, TheLayoutOptionChoosesTheKeyboardAtStartAndLive) {
    auto startup = start("[Settings]\nHotkeyMode=OFF\nKeyboardLayout=NumPad\n");
    MainWindow& form = startup->window();
    OnScreenKeyboard* keyboard = keyboardOf(form);
    EXPECT_EQ(keyboard->layoutType(), KeyboardLayoutType::NumPad);
    EXPECT_EQ(keyboard->layout().name, "NumPad");

    namedAction(form, widgetnames::StandardLayoutAction)->trigger();
    EXPECT_EQ(keyboard->layoutType(), KeyboardLayoutType::Standard);
    EXPECT_EQ(keyboard->layout().name, "Standard101"); // the fake keyboard's layout is en-US
    EXPECT_TRUE(test::readBytes(m_root.file("program/settings.ini")).contains("KeyboardLayout=Standard"));

    namedAction(form, widgetnames::NumPadLayoutAction)->trigger();
    EXPECT_EQ(keyboard->layoutType(), KeyboardLayoutType::NumPad);
    EXPECT_TRUE(namedAction(form, widgetnames::NumPadLayoutAction)->isChecked());
    EXPECT_TRUE(m_errors.isEmpty()) << m_errors.join(' ').toStdString();
}

TEST_F(MainWindowPartsTest, AnUnreadableLayoutLocaleIsShownInTheErrorBox) {
    m_keyboard.localeName = QStringLiteral("xx");
    auto startup = start();
    EXPECT_TRUE(waitFor([this] { return !m_errors.isEmpty(); }, 2000));
    EXPECT_EQ(m_errors, QStringList{"Error retrieving locale information"});
    // The program goes on with the keyboard every locale falls back on.
    EXPECT_EQ(keyboardOf(startup->window())->layout().name, "Standard101");
}

TEST_F(MainWindowPartsTest, ClickedKeysKeepTheFocusInTheWindowAndPlayThroughItsKeyHandling) {
    auto startup = start();
    MainWindow& form = startup->window();
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QWidget* focused = QApplication::focusWidget();
    OnScreenKeyboard* keyboard = keyboardOf(form);
    const QPoint keyA = keyboard->keyInfo(keyboard->indexOfKey(KeyA)).rect.center();

    // With injection the key goes into the system's input, which the fake only records.
    QTest::mouseClick(keyboard, Qt::LeftButton, Qt::NoModifier, keyA);
    const std::vector<platform::FakeKeyInjector::Event> sent{{KeyA, true, {}}, {KeyA, false, {}}};
    EXPECT_EQ(m_keyInjector.events(), sent);
    EXPECT_EQ(QApplication::focusWidget(), focused);
    EXPECT_TRUE(m_log.refusedSounds().isEmpty());

    // Without it the key reaches the focused window directly and plays its binding there.
    m_keyInjector.setAvailable(false);
    QTest::mouseClick(keyboard, Qt::LeftButton, Qt::NoModifier, keyA);
    EXPECT_TRUE(waitFor([this] { return !m_log.refusedSounds().isEmpty(); }, 2000));
    EXPECT_EQ(m_log.refusedSounds(), QStringList{m_root.file("program/one.txt")});
    EXPECT_EQ(QApplication::focusWidget(), focused);
    EXPECT_TRUE(form.isActiveWindow());
}

// Under the tests' SDL dummy driver there is no sound server: the slider is the engine's own gain.
TEST_F(MainWindowPartsTest, TheSliderSetsTheEngineGainAndSilentShowsAtZero) {
    auto startup = start();
    MainWindow& form = startup->window();
    ASSERT_TRUE(startup->player().isRunning());
    QSlider* slider = namedChild<QSlider>(form, widgetnames::VolumeSlider);
    EXPECT_EQ(slider->maximum(), 8);
    EXPECT_TRUE(namedChild<QTimer>(form, widgetnames::VolumeTimer)->isActive());
    ASSERT_TRUE(waitFor([&] { return slider->value() == 8; }, 3000)) << "the full gain is the top position";
    EXPECT_EQ(startup->player().masterGain().left, 65528);

    slider->setValue(0);
    EXPECT_EQ(startup->player().masterGain().right, 0);
    EXPECT_TRUE(waitFor([&] { return form.display()->text() == "Silent"; }, 3000));
    slider->setValue(3);
    EXPECT_EQ(startup->player().masterGain().left, 3 * 8191);
    EXPECT_TRUE(waitFor([&] { return form.display()->text() == "Press any key"; }, 3000));
}

TEST_F(MainWindowPartsTest, UpdateNotificationsBecomesUsableOnceTheCheckIsDone) {
    // The test main points the web host at a closed local port: both attempts fail at once.
    auto startup = start();
    MainWindow& form = startup->window();
    QAction* notifications = namedAction(form, widgetnames::UpdateNotificationsAction);
    EXPECT_TRUE(notifications->isCheckable());
    EXPECT_TRUE(notifications->isChecked());
    EXPECT_FALSE(notifications->isEnabled());
    ASSERT_NE(form.updateChecker(), nullptr);

    EXPECT_TRUE(waitFor([&] { return notifications->isEnabled(); }, 30000));
    EXPECT_TRUE(form.updateChecker()->isFinished());
    EXPECT_TRUE(notifications->isChecked()) << "notifications stay on until the user turns them off";
    EXPECT_TRUE(form.updateChecker()->result().log.failed()) << "the closed port was never answered";
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join(' ').toStdString();
}

} // namespace
