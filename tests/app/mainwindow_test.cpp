// Start-up step by step, the main window it makes, its options and their commands, the help page, reset to
// defaults, minimizing without a notification area, the font and the display's reloads.
#include "app/application.h"
#include "app/identity.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/options.h"
#include "app/soundboard.h"
#include "app/startup.h"
#include "app/textdisplay.h"
#include "app/voiceoutput.h"
#include "app/widgetnames.h"
#include "audio/soundplayer.h"
#include "display/ledmatrixdisplay.h"
#include "keymap/keydialoghooks.h"
#include "keymap/keyeditdialog.h"
#include "keymap/redefinekeysdialog.h"
#include "keymap/widgetnames.h"
#include "platform/fake/fakeautostart.h"
#include "platform/fake/fakefallbackplayer.h"
#include "platform/fake/fakefilesystem.h"
#include "platform/fake/fakelocale.h"
#include "platform/fake/fakeshell.h"
#include "platform/posix/linuxautostart.h"
#include "tests/support/platformtest.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace clavora;
using clavora::test::namedAction;
using clavora::test::namedChild;

namespace {

bool anyCellLit(const LedMatrixDisplay& display) {
    for (int row = 0; row < display.rows(); ++row) {
        for (int col = 0; col < display.cols(); ++col) {
            if (display.cell(row, col)) {
                return true;
            }
        }
    }
    return false;
}

class MainWindowTest : public test::PlatformTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(m_root.file("program")));
        // The real program file, so the window reads the real version information.
        ASSERT_TRUE(QFile::copy(test::programDir() + "/clavora", m_root.file("program/clavora")));
        m_files.programFile = m_root.file("program/clavora");
        setApplicationErrorHandler([this](const QString& message) { m_errors << message; });
        // A message box would wait for a person: record it instead.
        setMessageBoxAnswer([this](QMessageBox& box) {
            m_messages << box.text();
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        setApplicationErrorHandler({});
        setMessageBoxAnswer({});
    }

    QString settingsPath() const { return m_root.file("program/settings.ini"); }
    void writeSettings(const QByteArray& text) { test::writeBytes(settingsPath(), text); }
    // Runs every start-up step, as the program does before it shows the window.
    std::unique_ptr<Startup> start(const QStringList& arguments = {}) {
        auto startup = std::make_unique<Startup>(*m_startServices, arguments);
        startup->run();
        return startup;
    }

    // What start() hands the program: the fakes, unless a test puts a real service among them.
    platform::Services* m_startServices = &m_services;

    QStringList m_messages;
    QStringList m_errors;
    test::AudioLog m_log;
};

// Keys typed into the focused window. The bound files are not audio, so the sound player refuses each one by
// name, which the log records.
class MainWindowKeysTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        test::writeBytes(m_root.file("program/one.txt"), "not a sound");
        test::writeBytes(m_root.file("program/two.txt"), "not a sound");
        const QString one = m_root.file("program/one.txt");
        const QString two = m_root.file("program/two.txt");
        test::writeBytes(m_root.file("program/keys.db"),
                         ("F1|" + one + "\nF7|" + two + "\na|" + one + "\nA|" + two + "\na|" + two + "\n").toUtf8());
        // Hotkey mode off: only the window's own key handling plays.
        writeSettings("[Settings]\nHotkeyMode=OFF\n");
    }
};

TEST_F(MainWindowKeysTest, TypedKeysPlayTheirBindingsAndF1OpensHelpInstead) {
    auto startup = start();
    MainWindow& form = startup->window();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const QString one = m_root.file("program/one.txt");
    const QString two = m_root.file("program/two.txt");

    QTest::keyClick(&form, Qt::Key_F1);
    EXPECT_TRUE(m_log.refusedSounds().isEmpty());
    EXPECT_EQ(m_shell.opened.size(), 1);

    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        QString text;
        QStringList played;
    } cases[] = {
        {Qt::Key_F1, Qt::ShiftModifier, "", {one}}, {Qt::Key_F7, Qt::ShiftModifier, "", {two}},
        {Qt::Key_F7, Qt::NoModifier, "", {two}},    {Qt::Key_A, Qt::NoModifier, "a", {one, two}},
        {Qt::Key_A, Qt::ShiftModifier, "A", {two}}, {Qt::Key_B, Qt::NoModifier, "b", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QKeySequence(c.key | c.modifiers).toString().toStdString());
        m_log.clear();
        QTest::sendKeyEvent(QTest::Click, &form, c.key, c.text, c.modifiers);
        // The engine finds out off the GUI thread that a text file is no sound, and hands it over to the fallback
        // player through the event loop, in the order the keys played.
        test::waitFor([&] { return m_log.refusedSounds().size() >= c.played.size(); }, 5000);
        EXPECT_EQ(m_log.refusedSounds(), c.played);
    }
    EXPECT_EQ(m_shell.opened.size(), 1);
}

// Soundboard > Redefine Keys... edits the very key map the window plays from and the data folder's keys.db.
TEST_F(MainWindowKeysTest, RedefineKeysChangesWhatTheNextKeyPlays) {
    auto startup = start();
    MainWindow& form = startup->window();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const QString two = m_root.file("program/two.txt");
    bool opened = false;
    // Runs inside the dialog's own event loop; tied to the window, so it cannot outlive the test.
    QTimer::singleShot(0, &form, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<RedefineKeysDialog*>(modal);
        if (dialog == nullptr) {
            if (modal != nullptr) {
                modal->close();
            }
            return;
        }
        opened = true;
        EXPECT_EQ(dialog->windowTitle(), "Redefine Keys");
        EXPECT_EQ(dialog->keysDbPath(), m_root.file("program/keys.db"));
        EXPECT_EQ(&dialog->keyMap(), &startup->keyMap());
        KeyEditDialog* add = dialog->openAddKey(two);
        QTest::keyClicks(namedChild<QLineEdit>(*add, widgetnames::keyedit::KeyField), "z");
        QTest::mouseClick(namedChild<QPushButton>(*add, widgetnames::keyedit::OkButton), Qt::LeftButton);
        dialog->reject();
    });
    namedAction(form, widgetnames::RedefineKeysAction)->trigger();
    ASSERT_TRUE(opened);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(test::readBytes(m_root.file("program/keys.db")).endsWith(("\r\nz|" + two + "\r\n").toUtf8()));

    QTest::sendKeyEvent(QTest::Click, &form, Qt::Key_Z, "z", Qt::NoModifier);
    test::waitFor([&] { return !m_log.refusedSounds().isEmpty(); }, 5000);
    EXPECT_EQ(m_log.refusedSounds(), QStringList{two});
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_TRUE(m_errors.isEmpty());
}

TEST_F(MainWindowTest, StartsWithIdentityDataFolderAndDefaultOptions) {
    auto startup = start();
    MainWindow& form = startup->window();
    EXPECT_EQ(form.windowTitle(), "Zemtrak - Clavora");
    const AppContext& context = startup->context();
    EXPECT_EQ(context.identity.title, "Zemtrak - Clavora");
    EXPECT_EQ(context.dataFolder, m_root.file("program") + "/");
    EXPECT_FALSE(context.identity.version.isEmpty());
    EXPECT_NE(context.identity.version, "65535.65535");

    EXPECT_TRUE(namedAction(form, widgetnames::HotkeyModeAction)->isChecked());
    EXPECT_TRUE(namedChild<QTimer>(form, widgetnames::HotkeyTimer)->isActive());
    EXPECT_EQ(namedChild<QTimer>(form, widgetnames::HotkeyTimer)->interval(), 50);
    EXPECT_TRUE(namedAction(form, widgetnames::AllowOverlappingAction)->isChecked());
    EXPECT_TRUE(namedAction(form, widgetnames::MatrixDisplayAction)->isChecked());
    EXPECT_TRUE(namedChild<QWidget>(form, widgetnames::DisplayPanel)->isVisibleTo(&form));
    EXPECT_FALSE(namedAction(form, widgetnames::MinimizeToTrayAction)->isChecked());
    EXPECT_FALSE(namedAction(form, widgetnames::StartMinimizedAction)->isChecked());
    EXPECT_FALSE(namedAction(form, widgetnames::StartMinimizedAction)->isEnabled());
    EXPECT_FALSE(namedAction(form, widgetnames::AutostartAction)->isChecked());
    EXPECT_TRUE(namedAction(form, widgetnames::StandardLayoutAction)->isChecked());
    EXPECT_EQ(namedChild<QSlider>(form, widgetnames::VolumeSlider)->maximum(), 8);

    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join(' ').toStdString();
    EXPECT_EQ(startup->soundBoard().channel(), 0u); // nothing played during start-up
    // Start-up reads settings.ini but never writes it, and the key map holds the defaults.
    EXPECT_FALSE(QFile::exists(settingsPath()));
    EXPECT_EQ(startup->keyMap().pathsFor(u"F12"), QStringList{"Sounds\\22.mp3"});
    ASSERT_NE(form.display(), nullptr);
    EXPECT_EQ(form.display()->control()->parentWidget(), namedChild<QWidget>(form, widgetnames::DisplayPanel));
    EXPECT_EQ(form.display()->text(), "Press any key");
}

TEST_F(MainWindowTest, ClientAreaMenusAndInitialStates) {
    auto startup = start();
    MainWindow& form = startup->window();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.centralWidget()->size(), QSize(646, 341));
    EXPECT_EQ(namedChild<QWidget>(form, widgetnames::DisplayPanel)->height(), 65);
    EXPECT_FALSE(namedChild<QWidget>(form, widgetnames::DisplayPanel)->isEnabled());
    EXPECT_EQ(namedChild<QSlider>(form, widgetnames::VolumeSlider)->height(), 25);
    EXPECT_EQ(namedChild<QWidget>(form, widgetnames::OnScreenKeyboard)->geometry().topLeft(), QPoint(3, 3));

    QStringList captions;
    for (QAction* action : namedChild<QMenu>(form, widgetnames::HelpMenu)->actions()) {
        captions << (action->isSeparator() ? "-" : action->text()) + (action->isVisible() ? "" : " (hidden)");
    }
    EXPECT_EQ(captions, QStringList({"Online Help", "-", "Update Notifications", "-", "&Language...",
                                     "Send &Feedback...", "&About..."}));
    EXPECT_TRUE(namedAction(form, widgetnames::UpdateNotificationsAction)->isChecked());
    EXPECT_FALSE(namedAction(form, widgetnames::UpdateNotificationsAction)->isEnabled());
    EXPECT_EQ(namedAction(form, widgetnames::OnlineHelpAction)->shortcut(), QKeySequence(Qt::Key_F1));
    for (QAction* action :
         {namedAction(form, widgetnames::ExitAction), namedAction(form, widgetnames::OnlineHelpAction),
          namedAction(form, widgetnames::LanguageAction), namedAction(form, widgetnames::SendFeedbackAction),
          namedAction(form, widgetnames::AboutAction)}) {
        EXPECT_FALSE(action->icon().isNull()) << action->objectName().toStdString();
    }
    EXPECT_EQ(namedAction(form, widgetnames::ResetToDefaultsAction)->text(), "Reset to Defaults...");
}

TEST_F(MainWindowTest, StoredOptionsReachTheMenusAndControls) {
    writeSettings("[Settings]\nMinimizeToSystemTray=ON\nMinimizeStartup=ON\nHotkeyMode=OFF\n"
                  "AllowOverlappingSounds=OFF\nKeyboardLayout=NumPad\nMatrixDisplay=OFF\n");
    auto startup = start();
    MainWindow& form = startup->window();
    EXPECT_TRUE(namedAction(form, widgetnames::MinimizeToTrayAction)->isChecked());
    // Without an autostart entry Auto Minimize shows its stored mark but cannot be used.
    EXPECT_TRUE(namedAction(form, widgetnames::StartMinimizedAction)->isChecked());
    EXPECT_FALSE(namedAction(form, widgetnames::StartMinimizedAction)->isEnabled());
    EXPECT_FALSE(namedAction(form, widgetnames::HotkeyModeAction)->isChecked());
    EXPECT_FALSE(namedChild<QTimer>(form, widgetnames::HotkeyTimer)->isActive());
    EXPECT_FALSE(namedAction(form, widgetnames::AllowOverlappingAction)->isChecked());
    EXPECT_TRUE(namedAction(form, widgetnames::NumPadLayoutAction)->isChecked());
    EXPECT_FALSE(namedAction(form, widgetnames::StandardLayoutAction)->isChecked());
    EXPECT_EQ(startup->options().keyboardLayout(), "NumPad");
    EXPECT_FALSE(namedChild<QWidget>(form, widgetnames::DisplayPanel)->isVisibleTo(&form));
}

TEST_F(MainWindowTest, EachCommandFlipsItsOptionAndWritesTheWholeFile) {
    writeSettings("[Settings]\nHotkeyMode=ON\n[Other]\nkept=yes\n");
    auto startup = start();
    MainWindow& form = startup->window();

    namedAction(form, widgetnames::HotkeyModeAction)->trigger();
    EXPECT_FALSE(namedAction(form, widgetnames::HotkeyModeAction)->isChecked());
    EXPECT_FALSE(namedChild<QTimer>(form, widgetnames::HotkeyTimer)->isActive());
    EXPECT_EQ(test::readBytes(settingsPath()), "[Settings]\nHotkeyMode=OFF\n\n[Other]\nkept=yes\n\n");

    namedAction(form, widgetnames::MinimizeToTrayAction)->trigger();
    namedAction(form, widgetnames::AllowOverlappingAction)->trigger();
    namedAction(form, widgetnames::MatrixDisplayAction)->trigger();
    namedAction(form, widgetnames::NumPadLayoutAction)->trigger();
    EXPECT_FALSE(namedChild<QWidget>(form, widgetnames::DisplayPanel)->isVisibleTo(&form));
    EXPECT_EQ(test::readBytes(settingsPath()),
              "[Settings]\nHotkeyMode=OFF\nMinimizeToSystemTray=ON\nAllowOverlappingSounds=OFF\nMatrixDisplay=OFF\n"
              "KeyboardLayout=NumPad\n\n[Other]\nkept=yes\n\n");

    namedAction(form, widgetnames::HotkeyModeAction)->trigger();
    EXPECT_TRUE(namedChild<QTimer>(form, widgetnames::HotkeyTimer)->isActive());
    namedAction(form, widgetnames::MatrixDisplayAction)->trigger();
    EXPECT_TRUE(namedChild<QWidget>(form, widgetnames::DisplayPanel)->isVisibleTo(&form));
    EXPECT_EQ(form.display()->text(), "Press any key");
    // Choosing the layout that is already checked writes it again.
    namedAction(form, widgetnames::StandardLayoutAction)->trigger();
    namedAction(form, widgetnames::StandardLayoutAction)->trigger();
    EXPECT_TRUE(namedAction(form, widgetnames::StandardLayoutAction)->isChecked());
    EXPECT_EQ(test::readBytes(settingsPath()),
              "[Settings]\nHotkeyMode=ON\nMinimizeToSystemTray=ON\nAllowOverlappingSounds=OFF\nMatrixDisplay=ON\n"
              "KeyboardLayout=Standard\n\n[Other]\nkept=yes\n\n");
}

TEST_F(MainWindowTest, AWriteFailureIsShownAfterTheMarkChangedAndTheProgramGoesOn) {
    auto startup = start();
    MainWindow& form = startup->window();
    m_files.failingWrites.insert(settingsPath());
    namedAction(form, widgetnames::AllowOverlappingAction)->trigger();
    EXPECT_FALSE(namedAction(form, widgetnames::AllowOverlappingAction)->isChecked());
    EXPECT_FALSE(QFile::exists(settingsPath()));
    ASSERT_EQ(m_errors.size(), 1);
    EXPECT_TRUE(m_errors.first().contains(settingsPath())) << m_errors.first().toStdString();

    // The next command runs as usual.
    m_files.failingWrites.clear();
    namedAction(form, widgetnames::MinimizeToTrayAction)->trigger();
    EXPECT_EQ(m_errors.size(), 1);
    EXPECT_EQ(test::readBytes(settingsPath()), "[Settings]\nAllowOverlappingSounds=OFF\nMinimizeToSystemTray=ON\n\n");
}

TEST(ApplicationErrorTest, AnErrorEscapingAHandlerIsShownInsteadOfEndingTheProgram) {
    QStringList shown;
    setApplicationErrorHandler([&](const QString& message) { shown << message; });
    EXPECT_FALSE(deliverGuarded([]() -> bool { throw std::runtime_error("Cannot create file \"x\". Disk full"); }));
    EXPECT_FALSE(deliverGuarded([]() -> bool { throw std::runtime_error("other"); }));
    EXPECT_TRUE(deliverGuarded([] { return true; }));
    setApplicationErrorHandler({});
    EXPECT_EQ(shown, QStringList({"Cannot create file \"x\". Disk full", "other"}));
}

// A folder may be called "<h1>Sounds</h1>": every box that shows a path or the user's text shows it as typed.
TEST(MessageBoxTest, PathsAndTheUsersTextShowAsPlainText) {
    const QString message = QStringLiteral("Cannot open file \"/home/me/<h1>Sounds</h1>/<b>a</b>.mp3\".");
    const struct {
        const char* name;
        std::function<void()> show;
    } boxes[] = {
        {"error", [&] { showApplicationError(message); }},
        {"message", [&] { showMessage(message); }},
        {"question",
         [&] {
             messageBoxWithCaptions(message, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, "Clavora",
                                    {"Yes", "No"});
         }},
        {"key dialog",
         [&] { KeyDialogHooks::desktop().showMessage(nullptr, QMessageBox::Warning, "Warning", message); }},
    };
    for (const auto& box : boxes) {
        Qt::TextFormat format = Qt::AutoText;
        QString shown;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* modal = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!modal || !modal->isVisible()) {
                return;
            }
            auto* label = modal->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            format = label ? label->textFormat() : Qt::AutoText;
            shown = label ? label->text() : QString();
            modal->done(QMessageBox::Ok);
        });
        poll.start(10);
        box.show();
        EXPECT_EQ(format, Qt::PlainText) << box.name;
        EXPECT_EQ(shown, message) << box.name;
    }
}

// The desktop's own autostart file: an entry its session settings disabled shows the option off (Auto Minimize
// unusable), and turning it on writes an entry that runs again, naming the program for TryExec.
TEST_F(MainWindowTest, AnAutostartEntryTheDesktopDisabledShowsTheOptionOff) {
    platform::LinuxAutostart desktop(m_files);
    const std::unique_ptr<platform::Services> withDesktop =
        m_services.withParts([&desktop](platform::Services::Parts& parts) { parts.autostart = &desktop; });
    m_startServices = withDesktop.get();
    const QString file = m_files.configFolder + "/autostart/Zemtrak - Clavora.desktop";
    for (const char* disabled : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\n"}) {
        SCOPED_TRACE(disabled);
        QDir().mkpath(QFileInfo(file).absolutePath());
        test::writeBytes(file, QByteArray("[Desktop Entry]\nType=Application\nExec=\"/x/clavora\" /auto\n") + disabled);
        auto startup = start();
        MainWindow& form = startup->window();
        EXPECT_FALSE(namedAction(form, widgetnames::AutostartAction)->isChecked());
        EXPECT_FALSE(namedAction(form, widgetnames::StartMinimizedAction)->isEnabled());

        namedAction(form, widgetnames::AutostartAction)->trigger();
        EXPECT_TRUE(namedAction(form, widgetnames::AutostartAction)->isChecked());
        const QByteArray written = test::readBytes(file);
        EXPECT_FALSE(written.contains("Hidden")) << written.toStdString();
        EXPECT_TRUE(written.contains("X-GNOME-Autostart-enabled=true\n")) << written.toStdString();
        EXPECT_TRUE(written.contains("TryExec=" + m_root.file("program/clavora").toUtf8() + "\n"))
            << written.toStdString();
        EXPECT_FALSE(desktop.readEntry("Zemtrak - Clavora").isEmpty());
    }
}

TEST_F(MainWindowTest, AutostartEntryFollowsItsCommandAndTakesAutoMinimizeAlong) {
    auto startup = start();
    MainWindow& form = startup->window();
    namedAction(form, widgetnames::AutostartAction)->trigger();
    EXPECT_TRUE(namedAction(form, widgetnames::AutostartAction)->isChecked());
    EXPECT_EQ(m_autostart.entries.value("Zemtrak - Clavora"), "\"" + m_root.file("program/clavora") + "\" /auto");
    EXPECT_TRUE(namedAction(form, widgetnames::StartMinimizedAction)->isEnabled());
    EXPECT_FALSE(QFile::exists(settingsPath())); // the autostart command itself writes no settings

    namedAction(form, widgetnames::StartMinimizedAction)->trigger();
    EXPECT_EQ(test::readBytes(settingsPath()), "[Settings]\nMinimizeStartup=ON\n\n");

    namedAction(form, widgetnames::AutostartAction)->trigger();
    EXPECT_TRUE(m_autostart.entries.isEmpty());
    EXPECT_FALSE(namedAction(form, widgetnames::StartMinimizedAction)->isChecked());
    EXPECT_FALSE(namedAction(form, widgetnames::StartMinimizedAction)->isEnabled());
    EXPECT_EQ(test::readBytes(settingsPath()), "[Settings]\nMinimizeStartup=OFF\n\n");

    // An entry that cannot be written ends the command: the mark has changed, Auto Minimize stays unusable.
    m_autostart.failWrites = true;
    namedAction(form, widgetnames::AutostartAction)->trigger();
    EXPECT_EQ(m_errors.size(), 1);
    EXPECT_TRUE(namedAction(form, widgetnames::AutostartAction)->isChecked());
    EXPECT_FALSE(namedAction(form, widgetnames::StartMinimizedAction)->isEnabled());
    m_autostart.failWrites = false;

    // A later start finds the entry and enables Auto Minimize again.
    startup.reset();
    m_autostart.entries["Zemtrak - Clavora"] = "\"x\" /auto";
    auto again = start();
    MainWindow& second = again->window();
    EXPECT_TRUE(namedAction(second, widgetnames::AutostartAction)->isChecked());
    EXPECT_TRUE(namedAction(second, widgetnames::StartMinimizedAction)->isEnabled());
}

TEST_F(MainWindowTest, ResetToDefaultsAsksAndOnlyYesRemovesTheSettings) {
    writeSettings("[Settings]\nHotkeyMode=OFF\n");
    auto startup = start();
    MainWindow& form = startup->window();
    const QByteArray keys = test::readBytes(m_root.file("program/keys.db"));

    QStringList seen;
    setMessageBoxAnswer([&](QMessageBox& box) {
        seen << box.windowTitle() << box.text();
        for (QAbstractButton* button : box.buttons()) {
            seen << button->text();
        }
        seen << box.defaultButton()->text() << box.escapeButton()->text();
        return QMessageBox::No;
    });
    namedAction(form, widgetnames::ResetToDefaultsAction)->trigger();
    EXPECT_EQ(seen, QStringList({"Confirmation", "Restart Application?", "Yes", "No", "Yes", "No"}));
    EXPECT_TRUE(QFile::exists(settingsPath()));
    EXPECT_TRUE(m_shell.started.isEmpty());

    // The successor finds the session's place given up, so it runs instead of handing itself over to this one.
    QStringList startedWhenGivenUp{"not given up"};
    form.setBeforeRestart([&] { startedWhenGivenUp = m_shell.started; });
    setMessageBoxAnswer([](QMessageBox&) { return QMessageBox::Yes; });
    namedAction(form, widgetnames::ResetToDefaultsAction)->trigger();
    EXPECT_FALSE(QFile::exists(settingsPath()));
    EXPECT_EQ(m_shell.started, QStringList({m_root.file("program/clavora")}));
    EXPECT_TRUE(startedWhenGivenUp.isEmpty()) << "given up after the successor started, or never";
    EXPECT_EQ(test::readBytes(m_root.file("program/keys.db")), keys);
}

TEST_F(MainWindowTest, F1OpensTheHelpPage) {
    auto startup = start();
    MainWindow& form = startup->window();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_F1);
    EXPECT_EQ(m_shell.opened, QStringList({"http://127.0.0.1:9/help/clavora/"}));
    EXPECT_EQ(helpPageUrl("example.org", "Big Sound Board"), "http://example.org/help/big-sound-board/");
}

TEST_F(MainWindowTest, ResizingAndADensityChangeOfTheFirstScreenPutThePromptBack) {
    auto startup = start();
    MainWindow& form = startup->window();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TextDisplay& display = *form.display();

    display.showText("Silent");
    display.control()->clearDisplay(true, false);
    form.resize(form.width() + 40, form.height());
    EXPECT_TRUE(test::waitFor([&] { return display.text() == "Press any key"; }, 2000));
    EXPECT_TRUE(anyCellLit(*display.control()));

    // The screen the window started on, before it ever moved.
    display.showText("Silent");
    QScreen* screen = form.windowHandle()->screen();
    ASSERT_NE(screen, nullptr);
    emit screen->logicalDotsPerInchChanged(144);
    EXPECT_EQ(display.text(), "Press any key");
}

TEST_F(MainWindowTest, WindowFontIsDejaVuSansElevenPixelsHigh) {
    auto startup = start();
    MainWindow& form = startup->window();
    EXPECT_EQ(form.font().family(), "DejaVu Sans");
    EXPECT_EQ(form.font().pixelSize(), 11);
    EXPECT_EQ(namedChild<QWidget>(form, widgetnames::VolumeSlider)->font().pixelSize(), 11);
}

TEST_F(MainWindowTest, StartupStepsSettleTheContextOneAtATime) {
    Startup startup(m_services, {"/auto"});
    startup.readIdentity();
    EXPECT_EQ(startup.context().programFile, m_root.file("program/clavora"));
    EXPECT_EQ(startup.context().programFolder, m_root.file("program") + "/");
    EXPECT_EQ(startup.context().identity.companyName, "Zemtrak");
    EXPECT_EQ(startup.context().identity.productName, "Clavora");
    EXPECT_TRUE(startup.context().dataFolder.isEmpty());

    startup.chooseDataFolder();
    EXPECT_EQ(startup.context().dataFolder, m_root.file("program") + "/");

    writeSettings("[Settings]\nHotkeyMode=OFF\n");
    startup.openSettings();
    EXPECT_FALSE(startup.options().isOn(Option::HotkeyMode));
    EXPECT_EQ(startup.settings().fileName(), settingsPath());

    m_locale.separator = QLatin1Char(',');
    startup.captureLocale();
    EXPECT_EQ(startup.context().locale.decimalSeparator, QLatin1Char(','));

    startup.createWindow();
    EXPECT_EQ(startup.window().windowTitle(), "Zemtrak - Clavora");
    EXPECT_FALSE(namedAction(startup.window(), widgetnames::HotkeyModeAction)->isChecked());
    EXPECT_EQ(startup.window().display(), nullptr);
    startup.createDisplay();
    ASSERT_NE(startup.window().display(), nullptr);
    EXPECT_EQ(startup.window().display()->text(), "Press any key");
    EXPECT_EQ(startup.context().arguments, QStringList({"/auto"}));
}

// Without version information the per-user folder would be the configuration folder itself, with keys.db loose in
// it; the built-in names keep the company and product levels.
TEST_F(MainWindowTest, UnreadableVersionInformationKeepsTheDataFolderLevels) {
    test::writeBytes(m_root.file("program/clavora"), "no version information in here");
    m_files.readOnlyFolders.insert(m_root.file("program"));
    auto startup = start();
    const AppContext& context = startup->context();
    EXPECT_EQ(context.identity.companyName, "Zemtrak");
    EXPECT_EQ(context.identity.productName, "Clavora");
    EXPECT_EQ(context.identity.title, "Zemtrak - Clavora");
    EXPECT_EQ(context.identity.version, "65535.65535");
    EXPECT_EQ(context.dataFolder, m_root.file("config/Zemtrak/Clavora/"));
    EXPECT_TRUE(QFile::exists(m_root.file("config/Zemtrak/Clavora/keys.db")));
    EXPECT_FALSE(QFile::exists(m_root.file("config/keys.db")));
}

TEST(IdentityTest, EmptyNamesFallBackOneByOne) {
    const Identity both = makeIdentity("", "", false, 0, 0);
    EXPECT_EQ(both.title, "Zemtrak - Clavora");
    EXPECT_EQ(makeIdentity("Acme", "", true, 2, 7).title, "Acme - Clavora");
    EXPECT_EQ(makeIdentity("", "Boom Box", true, 2, 7).title, "Zemtrak - Boom Box");
    EXPECT_EQ(makeIdentity("Acme", "Boom Box", true, 2, 7).version, "2.7");
}

// The names become levels of ~/.config/<company>/<product>: anything but one plain level falls back.
TEST(IdentityTest, NamesThatAreNoSingleFolderLevelFallBack) {
    const struct {
        QString name;
        bool plain;
    } cases[] = {
        {"Acme Sound Ltd.", true},
        {"Zvukovoy Дом", true},
        {"..", false},
        {".", false},
        {"../../.", false},
        {"Acme/Sound", false},
        {"Acme\\Sound", false},
        {QString("Acme\nSound"), false},
        {QString(QChar(0)) + "x", false},
        {QString(256, 'a'), false},
        {QString(255, 'a'), true},
        {"...", true},
    };
    for (const auto& c : cases) {
        const Identity identity = makeIdentity(c.name, c.name, true, 1, 0);
        EXPECT_EQ(identity.companyName, c.plain ? c.name : "Zemtrak") << c.name.toStdString();
        EXPECT_EQ(identity.productName, c.plain ? c.name : "Clavora") << c.name.toStdString();
    }
}

// A desktop without a notification area could never give the window back from the tray.
TEST_F(MainWindowTest, WithoutANotificationAreaMinimizingStaysOnTheTaskBar) {
    writeSettings("[Settings]\nMinimizeToSystemTray=ON\nMinimizeStartup=ON\n");
    m_autostart.entries["Zemtrak - Clavora"] = "\"x\" /auto";
    for (const QStringList& arguments : {QStringList(), QStringList({"/auto"})}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        auto startup = start(arguments);
        MainWindow& form = startup->window();
        form.setTrayAvailability([] { return false; });
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        if (arguments.isEmpty()) {
            form.showMinimized();
        }
        QTimer* autoSwitch = namedChild<QTimer>(form, widgetnames::AutoSwitchTimer);
        ASSERT_TRUE(test::waitFor([&] { return !autoSwitch->isActive() && form.isMinimized(); }, 3000));
        QCoreApplication::processEvents(); // the deferred reaction to the minimize
        EXPECT_TRUE(form.isVisible());
        EXPECT_FALSE(namedChild<QSystemTrayIcon>(form, widgetnames::TrayIcon)->isVisible());

        form.hideToTray();
        EXPECT_TRUE(form.isVisible());
        EXPECT_TRUE(form.isMinimized());
        EXPECT_FALSE(namedChild<QSystemTrayIcon>(form, widgetnames::TrayIcon)->isVisible());
    }
}

// Keys the slider does not use come on to the window; they must not play while the slider has the focus.
TEST_F(MainWindowKeysTest, KeysTypedIntoTheFocusedSliderPlayNothing) {
    auto startup = start();
    MainWindow& form = startup->window();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QSlider* slider = namedChild<QSlider>(form, widgetnames::VolumeSlider);
    slider->setFocus();
    ASSERT_TRUE(slider->hasFocus());
    QTest::keyClick(slider, Qt::Key_A);
    QTest::keyClick(slider, Qt::Key_F7);
    EXPECT_TRUE(m_log.refusedSounds().isEmpty()) << m_log.refusedSounds().join(' ').toStdString();

    form.setFocus();
    QTest::keyClick(&form, Qt::Key_F7);
    // Had the slider's keys played, their files would have reached the fallback player first.
    test::waitFor([&] { return !m_log.refusedSounds().isEmpty(); }, 5000);
    EXPECT_EQ(m_log.refusedSounds(), QStringList({m_root.file("program/two.txt")}));
}

} // namespace

namespace {

TEST_F(MainWindowTest, PlayIntoMicrophoneShowsWithAServerAndMakesAndRemovesTheMicrophone) {
    {
        m_voice.reachable = false;
        auto startup = start();
        EXPECT_FALSE(namedAction(startup->window(), widgetnames::PlayIntoMicrophoneAction)->isVisible());
        EXPECT_FALSE(startup->voiceOutput().isAvailable());
    }
    m_voice.reachable = true;
    auto startup = start();
    MainWindow& form = startup->window();
    QAction* item = namedAction(form, widgetnames::PlayIntoMicrophoneAction);
    EXPECT_TRUE(item->isVisible());
    EXPECT_EQ(item->text(), "Play into Microphone");
    EXPECT_FALSE(item->isChecked());
    EXPECT_GE(m_voice.leftoverSweeps, 1) << "what a crashed run left is swept up at every start";
    EXPECT_FALSE(m_voice.created);

    // SDL's dummy driver opens one device only, so the sounds' second output is left to the player's own tests.
    item->trigger();
    EXPECT_TRUE(m_voice.created);
    EXPECT_EQ(test::readBytes(settingsPath()), "[Settings]\nVoiceOutput=ON\n\n");
    item->trigger();
    EXPECT_FALSE(m_voice.created);
    EXPECT_FALSE(startup->player().isVoiceOutputRunning());
    EXPECT_EQ(test::readBytes(settingsPath()), "[Settings]\nVoiceOutput=OFF\n\n");
    EXPECT_TRUE(m_errors.isEmpty()) << m_errors.join("; ").toStdString();
}

TEST_F(MainWindowTest, StoredVoiceOutputMakesTheMicrophoneAtStartAndTheEndRemovesIt) {
    writeSettings("[Settings]\nVoiceOutput=ON\n");
    {
        auto startup = start();
        EXPECT_TRUE(namedAction(startup->window(), widgetnames::PlayIntoMicrophoneAction)->isChecked());
        EXPECT_TRUE(m_voice.created);
    }
    EXPECT_FALSE(m_voice.created);

    // A microphone that cannot be made is reported; the option keeps its mark and the program goes on.
    m_voice.failCreate = true;
    auto startup = start();
    EXPECT_FALSE(m_voice.created);
    ASSERT_EQ(m_errors.size(), 1);
    EXPECT_TRUE(m_errors[0].contains("Clavora Microphone")) << m_errors[0].toStdString();
    EXPECT_FALSE(startup->player().isVoiceOutputRunning());
}

TEST_F(MainWindowTest, StopAllSoundsComesAfterRedefineKeysAndAKeyBindingDoesTheSame) {
    test::writeBytes(m_root.file("program/keys.db"), "s|<stop all>/\nx|<stop all>\\\ny|<Stop All>/\n");
    writeSettings("[Settings]\nHotkeyMode=OFF\n");
    auto startup = start();
    MainWindow& form = startup->window();
    QStringList captions;
    for (QAction* action : namedChild<QMenu>(form, widgetnames::SoundboardMenu)->actions()) {
        captions << (action->isSeparator() ? "-" : action->text());
    }
    ASSERT_GE(captions.size(), 2);
    EXPECT_EQ(captions.mid(0, 2), QStringList({"Redefine Keys...", "Stop All Sounds"}));
    QAction* stopAll = namedAction(form, widgetnames::StopAllSoundsAction);
    EXPECT_TRUE(stopAll->shortcut().isEmpty()) << "a key of its own would be taken from the bindings";

    stopAll->trigger();
    EXPECT_EQ(m_player.stops, 1);

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    // Either folder separator; the token's letters are exact, and nothing of it is handed to a player.
    QTest::keyClick(&form, 's');
    QTest::keyClick(&form, 'x');
    EXPECT_EQ(m_player.stops, 3);
    QTest::keyClick(&form, 'y');
    EXPECT_EQ(m_player.stops, 3);
    EXPECT_TRUE(m_log.refusedSounds().isEmpty()) << m_log.refusedSounds().join("; ").toStdString();
}

// Typing into a field of ours, or anywhere in the Add Key window, plays nothing in hotkey mode; the same key held
// while a plain window of ours has the focus plays from the poll.
TEST_F(MainWindowTest, NothingPlaysWhileAFieldOfOursOrTheAddKeyWindowHasTheFocus) {
    test::writeBytes(m_root.file("program/a.txt"), "not a sound");
    test::writeBytes(m_root.file("program/keys.db"), ("a|" + m_root.file("program/a.txt") + "\n").toUtf8());
    auto startup = start();
    MainWindow& form = startup->window();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    // Some ticks of the hotkey poll, which reads the keyboard once a tick.
    auto letPollsPass = [this] {
        const int reads = m_keyboard.snapshots;
        return test::waitFor([&] { return m_keyboard.snapshots >= reads + 3; }, 5000);
    };

    QLineEdit field;
    field.show();
    field.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&field));
    field.setFocus();
    m_keyboard.press('A');
    ASSERT_TRUE(letPollsPass());
    EXPECT_TRUE(m_log.refusedSounds().isEmpty()) << "played while typing into a field";
    m_keyboard.releaseAll();

    bool checked = false;
    QTimer::singleShot(0, &form, [&] {
        auto* dialog = qobject_cast<RedefineKeysDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        KeyEditDialog* add = dialog->openAddKey();
        add->activateWindow();
        if (QTest::qWaitForWindowActive(add)) {
            namedChild<QPushButton>(*add, widgetnames::keyedit::BrowseButton)
                ->setFocus(); // a button of the window, not its fields
            m_keyboard.press('A');
            checked = letPollsPass();
            EXPECT_TRUE(m_log.refusedSounds().isEmpty()) << "played while the Add Key window has the focus";
            m_keyboard.releaseAll();
        }
        dialog->reject();
    });
    namedAction(form, widgetnames::RedefineKeysAction)->trigger();
    EXPECT_TRUE(checked);

    QWidget plain;
    plain.show();
    plain.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&plain));
    m_keyboard.press('A');
    EXPECT_TRUE(test::waitFor([this] { return !m_log.refusedSounds().isEmpty(); }, 5000));
    m_keyboard.releaseAll();
}

// Pause is a key like any other in the focused window: its binding plays, and nothing stops it again.
TEST_F(MainWindowTest, APauseBindingPlaysInTheFocusedWindow) {
    test::writeBytes(m_root.file("program/pause.txt"), "not a sound");
    test::writeBytes(m_root.file("program/keys.db"), ("PAUSE|" + m_root.file("program/pause.txt") + "\n").toUtf8());
    auto startup = start();
    MainWindow& form = startup->window();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    m_keyboard.press(platform::vk::Pause);
    QTest::keyPress(&form, Qt::Key_Pause);
    EXPECT_TRUE(test::waitFor([this] { return !m_log.refusedSounds().isEmpty(); }, 5000)) << "nothing played";
    QTest::keyRelease(&form, Qt::Key_Pause);
    m_keyboard.releaseAll();
    EXPECT_EQ(m_log.refusedSounds().value(0), m_root.file("program/pause.txt"));
    EXPECT_EQ(m_player.stops, 0);
}

} // namespace

// The icon's menu gives a hidden window its commands without bringing it back: show, stop, hotkeys and exit, in the
// language of the dialogs.
TEST_F(MainWindowTest, TheTrayMenuShowsStopsAndSwitchesHotkeysInTheLoadedLanguage) {
    ASSERT_TRUE(QDir().mkpath(m_root.file("program/Languages")));
    ASSERT_TRUE(QFile::copy(test::sourceDir() + "/data/Languages/German.lang.txt",
                            m_root.file("program/Languages/German.lang.txt")));
    writeSettings("[Settings]\nLanguage=German\nMinimizeToSystemTray=ON\n");
    auto startup = start();
    MainWindow& form = startup->window();
    form.setTrayAvailability([] { return true; });
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.hideToTray();
    auto* icon = namedChild<QSystemTrayIcon>(form, widgetnames::TrayIcon);
    ASSERT_TRUE(icon->isVisible());
    ASSERT_EQ(icon->contextMenu(), form.trayMenu());

    QStringList captions;
    for (QAction* action : form.trayMenu()->actions()) {
        captions << (action->isSeparator() ? "-" : action->text());
    }
    EXPECT_EQ(captions, QStringList({"Clavora anzeigen", "Alle Sounds stoppen", "Hotkey-Modus", "-", "Beenden"}));

    namedAction(form, widgetnames::TrayStopAllAction)->trigger();
    EXPECT_EQ(m_player.stops, 1);

    // One option behind two items: each shows what the other set, and the file keeps it.
    QAction* trayHotkeys = namedAction(form, widgetnames::TrayHotkeyModeAction);
    QAction* menuHotkeys = namedAction(form, widgetnames::HotkeyModeAction);
    ASSERT_TRUE(trayHotkeys->isCheckable());
    EXPECT_TRUE(trayHotkeys->isChecked());
    trayHotkeys->trigger();
    EXPECT_FALSE(startup->options().isOn(Option::HotkeyMode));
    EXPECT_FALSE(menuHotkeys->isChecked());
    EXPECT_FALSE(namedChild<QTimer>(form, widgetnames::HotkeyTimer)->isActive());
    EXPECT_TRUE(test::readBytes(settingsPath()).contains("HotkeyMode=OFF"));
    menuHotkeys->trigger();
    EXPECT_TRUE(trayHotkeys->isChecked());
    // Still hidden: none of these brings the window back.
    EXPECT_FALSE(form.isVisible());

    namedAction(form, widgetnames::TrayShowAction)->trigger();
    EXPECT_TRUE(test::waitFor([&] { return form.isVisible() && !form.isMinimized(); }, 5000));
    EXPECT_FALSE(icon->isVisible());
}

namespace {

// Settings > Output Device: the outputs the sound server lists as the menu opens, the choice kept in settings.ini,
// and the program's stream kept on it, at once and from the next start on.
TEST_F(MainWindowTest, OutputDeviceListsTheServersOutputsAndKeepsTheStreamOnTheChosenOne) {
    m_fakes.soundServer.listed = {{"speakers", "Built-in Speakers"}, {"headset", "USB Headset"}};
    auto startup = start();
    MainWindow& form = startup->window();
    QMenu* menu = namedChild<QMenu>(form, widgetnames::OutputDeviceMenu);
    ASSERT_TRUE(menu->menuAction()->isVisible());
    EXPECT_EQ(menu->title(), "Output Device");
    // The items as the menu opens: a star for the checked one, brackets for one that cannot be chosen.
    const auto opened = [&] {
        emit menu->aboutToShow();
        QStringList items;
        for (QAction* action : menu->actions()) {
            const QString text = (action->isChecked() ? "*" : "") + action->text();
            items << (action->isEnabled() ? text : "(" + text + ")");
        }
        return items;
    };
    EXPECT_EQ(opened(), QStringList({"*Default", "Built-in Speakers", "USB Headset"}));
    EXPECT_EQ(opened(), QStringList({"*Default", "Built-in Speakers", "USB Headset"})) << "made afresh, not added to";

    menu->actions().at(2)->trigger();
    EXPECT_EQ(m_programVolume.keptOn.value(m_programVolume.keptOn.size() - 1), "headset");
    EXPECT_TRUE(m_programVolume.followed.contains("Sound playback"));
    EXPECT_TRUE(test::readBytes(settingsPath()).contains("OutputDevice=headset\n"));
    EXPECT_EQ(opened(), QStringList({"Default", "Built-in Speakers", "*USB Headset"}));
    // Unplugged: still the choice, which the stream goes back to when it returns.
    m_fakes.soundServer.listed.removeLast();
    EXPECT_EQ(opened(), QStringList({"Default", "Built-in Speakers", "(*headset)"}));

    startup.reset();
    m_programVolume.keptOn.clear();
    startup = start();
    EXPECT_EQ(m_programVolume.keptOn, QStringList{"headset"});
    QMenu* again = namedChild<QMenu>(startup->window(), widgetnames::OutputDeviceMenu);
    emit again->aboutToShow();
    again->actions().at(0)->trigger();
    EXPECT_EQ(m_programVolume.keptOn, QStringList({"headset", ""}));
    EXPECT_TRUE(test::readBytes(settingsPath()).contains("OutputDevice=\n"));
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join(' ').toStdString();
}

} // namespace
