// The main window: its start-up, its options and their commands, the help page, reset to defaults.
#include "app/application.h"
#include "app/identity.h"
#include "app/main.h"
#include "app/messagedlg.h"
#include "app/options.h"
#include "display/ledmatrixdisplay.h"
#include "platform/fake/fakeautostart.h"
#include "platform/fake/fakefallbackplayer.h"
#include "platform/fake/fakefilesystem.h"
#include "platform/fake/fakelocale.h"
#include "platform/fake/fakeshell.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace clavora;
using clavora::test::namedAction;
using clavora::test::namedChild;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(FRoot.file("program")));
        // The real program file, so the window reads the real version information.
        ASSERT_TRUE(QFile::copy(test::programDir() + "/clavora", FRoot.file("program/clavora")));
        FFs.programFile = FRoot.file("program/clavora");
        FFs.configFolder = FRoot.file("config");
        qputenv("CLAVORA_WEB_HOST", "127.0.0.1:9");
        SetApplicationErrorHandler([this](const QString& message) { FErrors << message; });
        // A message box would wait for a person: record it instead.
        SetMessageDlgAnswer([this](QMessageBox& box) {
            FMessages << box.text();
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        SetApplicationErrorHandler({});
        SetMessageDlgAnswer({});
        qunsetenv("CLAVORA_WEB_HOST");
    }

    QString settingsPath() const { return FRoot.file("program/settings.ini"); }
    void writeSettings(const QByteArray& text) { test::writeBytes(settingsPath(), text); }
    std::unique_ptr<TAppForm> makeForm(const QStringList& arguments = {}) {
        return std::make_unique<TAppForm>(arguments);
    }

    test::TempFolder FRoot;
    QStringList FMessages;
    QStringList FErrors;
    platform::FakeFileSystem FFs;
    platform::FakeAutostart FAutostart;
    platform::FakeShell FShell;
    platform::FakeLocale FLocale;
    platform::ScopedService<platform::IFileSystem> FUseFs{FFs};
    platform::ScopedService<platform::IAutostart> FUseAutostart{FAutostart};
    platform::ScopedService<platform::IShell> FUseShell{FShell};
    platform::ScopedService<platform::ILocale> FUseLocale{FLocale};
};

// Keys typed into the focused window. The bound files are not audio, so the engine hands each one to the
// fallback player, which records it.
class MainWindowKeysTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        test::writeBytes(FRoot.file("program/one.txt"), "not a sound");
        test::writeBytes(FRoot.file("program/two.txt"), "not a sound");
        const QString one = FRoot.file("program/one.txt");
        const QString two = FRoot.file("program/two.txt");
        test::writeBytes(FRoot.file("program/keys.db"),
                         ("F1|" + one + "\nF7|" + two + "\na|" + one + "\nA|" + two + "\na|" + two + "\n").toUtf8());
        // Hotkey mode off: only the window's own key handling plays.
        writeSettings("[Settings]\nHotkeyMode=OFF\n");
    }

    platform::FakeFallbackPlayer FPlayer;
    platform::ScopedService<platform::IFallbackPlayer> FUsePlayer{FPlayer};
};

TEST_F(MainWindowKeysTest, TypedKeysPlayTheirBindingsAndF1OpensHelpInstead) {
    auto form = makeForm();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const QString one = FRoot.file("program/one.txt");
    const QString two = FRoot.file("program/two.txt");

    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_TRUE(FPlayer.played.isEmpty());
    EXPECT_EQ(FShell.opened.size(), 1);

    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        QString text;
        QStringList played;
    } cases[] = {
        {Qt::Key_F1, Qt::ShiftModifier, "", {one}},
        {Qt::Key_F7, Qt::ShiftModifier, "", {two}},
        {Qt::Key_F7, Qt::NoModifier, "", {two}},
        {Qt::Key_A, Qt::NoModifier, "a", {one, two}},
        {Qt::Key_A, Qt::ShiftModifier, "A", {two}},
        {Qt::Key_B, Qt::NoModifier, "b", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QKeySequence(c.key | c.modifiers).toString().toStdString());
        FPlayer.played.clear();
        QTest::sendKeyEvent(QTest::Click, form.get(), c.key, c.text, c.modifiers);
        EXPECT_EQ(FPlayer.played, c.played);
    }
    EXPECT_EQ(FShell.opened.size(), 1);
}

TEST_F(MainWindowTest, StartsWithIdentityDataFolderAndDefaultOptions) {
    auto form = makeForm();
    EXPECT_EQ(form->windowTitle(), "Zemtrak - Clavora");
    EXPECT_EQ(AppTitle, "Zemtrak - Clavora");
    EXPECT_EQ(DataFolder, FRoot.file("program") + "/");
    EXPECT_FALSE(AppVersion.isEmpty());
    EXPECT_NE(AppVersion, "65535.65535");

    EXPECT_TRUE(namedAction(*form, "HotkeyMode1")->isChecked());
    EXPECT_TRUE(namedChild<QTimer>(*form, "TimerHotkey")->isActive());
    EXPECT_EQ(namedChild<QTimer>(*form, "TimerHotkey")->interval(), 50);
    EXPECT_TRUE(namedAction(*form, "AllowOverlappingSounds1")->isChecked());
    EXPECT_TRUE(namedAction(*form, "MatrixDisplay1")->isChecked());
    EXPECT_TRUE(namedChild<QWidget>(*form, "Panel1")->isVisibleTo(form.get()));
    EXPECT_FALSE(namedAction(*form, "MinimizetoSystemTray1")->isChecked());
    EXPECT_FALSE(namedAction(*form, "StartMinimized1")->isChecked());
    EXPECT_FALSE(namedAction(*form, "StartMinimized1")->isEnabled());
    EXPECT_FALSE(namedAction(*form, "Autostartatstartup1")->isChecked());
    EXPECT_TRUE(namedAction(*form, "Standard1")->isChecked());
    EXPECT_EQ(namedChild<QSlider>(*form, "TrackBar2")->maximum(), 8);

    EXPECT_TRUE(FMessages.isEmpty()) << FMessages.join(' ').toStdString();
    EXPECT_EQ(form->Channel(), 0u); // nothing played during start-up
    // Start-up reads settings.ini but never writes it, and the key map holds the defaults.
    EXPECT_FALSE(QFile::exists(settingsPath()));
    EXPECT_EQ(form->keyMap().pathsFor(u"F12"), QStringList{"Sounds\\22.mp3"});
    ASSERT_NE(MatrixDisplay, nullptr);
    EXPECT_EQ(MatrixDisplay->parentWidget(), namedChild<QWidget>(*form, "Panel1"));
    EXPECT_EQ(DisplayText, "Press any key");
}

TEST_F(MainWindowTest, ClientAreaMenusAndInitialStates) {
    auto form = makeForm();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(form->centralWidget()->size(), QSize(646, 341));
    EXPECT_EQ(namedChild<QWidget>(*form, "Panel1")->height(), 65);
    EXPECT_FALSE(namedChild<QWidget>(*form, "Panel1")->isEnabled());
    EXPECT_EQ(namedChild<QSlider>(*form, "TrackBar2")->height(), 25);
    EXPECT_EQ(namedChild<QWidget>(*form, "TouchKeyboard1")->geometry().topLeft(), QPoint(3, 3));

    QStringList captions;
    for (QAction* action : namedChild<QMenu>(*form, "Help1")->actions()) {
        captions << (action->isSeparator() ? "-" : action->text()) + (action->isVisible() ? "" : " (hidden)");
    }
    EXPECT_EQ(captions, QStringList({"Online Help", "-", "Update Notifications", "-", "Language... (hidden)",
                                     "Send &Feedback...", "&About..."}));
    EXPECT_TRUE(namedAction(*form, "UpdateNotifications1")->isChecked());
    EXPECT_FALSE(namedAction(*form, "UpdateNotifications1")->isEnabled());
    EXPECT_EQ(namedAction(*form, "Help2")->shortcut(), QKeySequence(Qt::Key_F1));
    for (QAction* action : {namedAction(*form, "Exit1"), namedAction(*form, "Help2"), namedAction(*form, "Language1"),
                            namedAction(*form, "SendFeedback1"), namedAction(*form, "About1")}) {
        EXPECT_FALSE(action->icon().isNull()) << action->objectName().toStdString();
    }
    EXPECT_EQ(namedAction(*form, "ResettoDefaults1")->text(), "Reset to Defaults...");
}

TEST_F(MainWindowTest, OptionValuesAreReadWithTheirOwnSenses) {
    const struct {
        const char* text;
        bool tray, startMinimized, hotkey, overlap, display;
        const char* layout;
    } cases[] = {
        {"", false, false, true, true, true, "Standard"},
        {"[settings]\nminimizetosystemtray=on\nMINIMIZESTARTUP=on\nHotkeyMode=on\nAllowOverlappingSounds=on\n"
         "MatrixDisplay=on\nKeyboardLayout=numpad\n",
         true, false, true, true, true, "Standard"},
        {"[Settings]\nMinimizeToSystemTray=OFF\nMinimizeStartup=ON\nHotkeyMode=OFF\nAllowOverlappingSounds=OFF\n"
         "MatrixDisplay=OFF\nKeyboardLayout=NumPad\n",
         false, true, false, false, false, "NumPad"},
        {"[Settings]\nMinimizeToSystemTray=off\nHotkeyMode=yes\nMatrixDisplay=Off\n", true, false, true, true, true,
         "Standard"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TSettingsIni settings(FRoot.file("case.ini"));
        test::writeBytes(settings.fileName(), c.text);
        ASSERT_TRUE(settings.load().ok());
        const TOptions options = ReadOptions(settings);
        EXPECT_EQ(options.MinimizeToSystemTray, c.tray);
        EXPECT_EQ(options.MinimizeStartup, c.startMinimized);
        EXPECT_EQ(options.HotkeyMode, c.hotkey);
        EXPECT_EQ(options.AllowOverlappingSounds, c.overlap);
        EXPECT_EQ(options.MatrixDisplay, c.display);
        EXPECT_EQ(options.KeyboardLayout, c.layout);
    }
}

TEST_F(MainWindowTest, StoredOptionsReachTheMenusAndControls) {
    writeSettings("[Settings]\nMinimizeToSystemTray=ON\nMinimizeStartup=ON\nHotkeyMode=OFF\n"
                  "AllowOverlappingSounds=OFF\nKeyboardLayout=NumPad\nMatrixDisplay=OFF\n");
    auto form = makeForm();
    EXPECT_TRUE(namedAction(*form, "MinimizetoSystemTray1")->isChecked());
    // Without an autostart entry Auto Minimize shows its stored mark but cannot be used.
    EXPECT_TRUE(namedAction(*form, "StartMinimized1")->isChecked());
    EXPECT_FALSE(namedAction(*form, "StartMinimized1")->isEnabled());
    EXPECT_FALSE(namedAction(*form, "HotkeyMode1")->isChecked());
    EXPECT_FALSE(namedChild<QTimer>(*form, "TimerHotkey")->isActive());
    EXPECT_FALSE(namedAction(*form, "AllowOverlappingSounds1")->isChecked());
    EXPECT_TRUE(namedAction(*form, "NumPad1")->isChecked());
    EXPECT_FALSE(namedAction(*form, "Standard1")->isChecked());
    EXPECT_EQ(form->KeyboardLayout(), "NumPad");
    EXPECT_FALSE(namedChild<QWidget>(*form, "Panel1")->isVisibleTo(form.get()));
}

TEST_F(MainWindowTest, EachCommandFlipsItsOptionAndWritesTheWholeFile) {
    writeSettings("[Settings]\nHotkeyMode=ON\n[Other]\nkept=yes\n");
    auto form = makeForm();

    namedAction(*form, "HotkeyMode1")->trigger();
    EXPECT_FALSE(namedAction(*form, "HotkeyMode1")->isChecked());
    EXPECT_FALSE(namedChild<QTimer>(*form, "TimerHotkey")->isActive());
    EXPECT_EQ(test::readBytes(settingsPath()), "[Settings]\nHotkeyMode=OFF\n\n[Other]\nkept=yes\n\n");

    namedAction(*form, "MinimizetoSystemTray1")->trigger();
    namedAction(*form, "AllowOverlappingSounds1")->trigger();
    namedAction(*form, "MatrixDisplay1")->trigger();
    namedAction(*form, "NumPad1")->trigger();
    EXPECT_FALSE(namedChild<QWidget>(*form, "Panel1")->isVisibleTo(form.get()));
    EXPECT_EQ(test::readBytes(settingsPath()),
              "[Settings]\nHotkeyMode=OFF\nMinimizeToSystemTray=ON\nAllowOverlappingSounds=OFF\nMatrixDisplay=OFF\n"
              "KeyboardLayout=NumPad\n\n[Other]\nkept=yes\n\n");

    namedAction(*form, "HotkeyMode1")->trigger();
    EXPECT_TRUE(namedChild<QTimer>(*form, "TimerHotkey")->isActive());
    namedAction(*form, "MatrixDisplay1")->trigger();
    EXPECT_TRUE(namedChild<QWidget>(*form, "Panel1")->isVisibleTo(form.get()));
    EXPECT_EQ(DisplayText, "Press any key");
    // Choosing the layout that is already checked writes it again.
    namedAction(*form, "Standard1")->trigger();
    namedAction(*form, "Standard1")->trigger();
    EXPECT_TRUE(namedAction(*form, "Standard1")->isChecked());
    EXPECT_EQ(test::readBytes(settingsPath()),
              "[Settings]\nHotkeyMode=ON\nMinimizeToSystemTray=ON\nAllowOverlappingSounds=OFF\nMatrixDisplay=ON\n"
              "KeyboardLayout=Standard\n\n[Other]\nkept=yes\n\n");
}

TEST_F(MainWindowTest, AWriteFailureIsShownAfterTheMarkChangedAndTheProgramGoesOn) {
    auto form = makeForm();
    FFs.failingWrites.insert(settingsPath());
    namedAction(*form, "AllowOverlappingSounds1")->trigger();
    EXPECT_FALSE(namedAction(*form, "AllowOverlappingSounds1")->isChecked());
    EXPECT_FALSE(QFile::exists(settingsPath()));
    ASSERT_EQ(FErrors.size(), 1);
    EXPECT_TRUE(FErrors.first().contains(settingsPath())) << FErrors.first().toStdString();

    // The next command runs as usual.
    FFs.failingWrites.clear();
    namedAction(*form, "MinimizetoSystemTray1")->trigger();
    EXPECT_EQ(FErrors.size(), 1);
    EXPECT_EQ(test::readBytes(settingsPath()), "[Settings]\nAllowOverlappingSounds=OFF\nMinimizeToSystemTray=ON\n\n");
}

TEST(ApplicationErrorTest, AnErrorEscapingAHandlerIsShownInsteadOfEndingTheProgram) {
    QStringList shown;
    SetApplicationErrorHandler([&](const QString& message) { shown << message; });
    EXPECT_FALSE(DeliverGuarded([]() -> bool { throw EAppError("Cannot create file \"x\". Disk full"); }));
    EXPECT_FALSE(DeliverGuarded([]() -> bool { throw std::runtime_error("other"); }));
    EXPECT_TRUE(DeliverGuarded([] { return true; }));
    SetApplicationErrorHandler({});
    EXPECT_EQ(shown, QStringList({"Cannot create file \"x\". Disk full", "other"}));
}

TEST_F(MainWindowTest, AutostartEntryFollowsItsCommandAndTakesAutoMinimizeAlong) {
    auto form = makeForm();
    namedAction(*form, "Autostartatstartup1")->trigger();
    EXPECT_TRUE(namedAction(*form, "Autostartatstartup1")->isChecked());
    EXPECT_EQ(FAutostart.entries.value("Zemtrak - Clavora"), "\"" + FRoot.file("program/clavora") + "\" /auto");
    EXPECT_TRUE(namedAction(*form, "StartMinimized1")->isEnabled());
    EXPECT_FALSE(QFile::exists(settingsPath())); // the autostart command itself writes no settings

    namedAction(*form, "StartMinimized1")->trigger();
    EXPECT_EQ(test::readBytes(settingsPath()), "[Settings]\nMinimizeStartup=ON\n\n");

    namedAction(*form, "Autostartatstartup1")->trigger();
    EXPECT_TRUE(FAutostart.entries.isEmpty());
    EXPECT_FALSE(namedAction(*form, "StartMinimized1")->isChecked());
    EXPECT_FALSE(namedAction(*form, "StartMinimized1")->isEnabled());
    EXPECT_EQ(test::readBytes(settingsPath()), "[Settings]\nMinimizeStartup=OFF\n\n");

    // An entry that cannot be written ends the command: the mark has changed, Auto Minimize stays unusable.
    FAutostart.failWrites = true;
    namedAction(*form, "Autostartatstartup1")->trigger();
    EXPECT_EQ(FErrors.size(), 1);
    EXPECT_TRUE(namedAction(*form, "Autostartatstartup1")->isChecked());
    EXPECT_FALSE(namedAction(*form, "StartMinimized1")->isEnabled());
    FAutostart.failWrites = false;

    // A later start finds the entry and enables Auto Minimize again.
    form.reset();
    FAutostart.entries["Zemtrak - Clavora"] = "\"x\" /auto";
    auto second = makeForm();
    EXPECT_TRUE(namedAction(*second, "Autostartatstartup1")->isChecked());
    EXPECT_TRUE(namedAction(*second, "StartMinimized1")->isEnabled());
}

TEST_F(MainWindowTest, ResetToDefaultsAsksAndOnlyYesRemovesTheSettings) {
    writeSettings("[Settings]\nHotkeyMode=OFF\n");
    auto form = makeForm();
    const QByteArray keys = test::readBytes(FRoot.file("program/keys.db"));

    QStringList seen;
    SetMessageDlgAnswer([&](QMessageBox& box) {
        seen << box.windowTitle() << box.text();
        for (QAbstractButton* button : box.buttons()) {
            seen << button->text();
        }
        seen << box.defaultButton()->text() << box.escapeButton()->text();
        return QMessageBox::No;
    });
    namedAction(*form, "ResettoDefaults1")->trigger();
    EXPECT_EQ(seen, QStringList({"Confirmation", "Restart Application?", "Yes", "No", "Yes", "No"}));
    EXPECT_TRUE(QFile::exists(settingsPath()));
    EXPECT_TRUE(FShell.started.isEmpty());

    SetMessageDlgAnswer([](QMessageBox&) { return QMessageBox::Yes; });
    namedAction(*form, "ResettoDefaults1")->trigger();
    EXPECT_FALSE(QFile::exists(settingsPath()));
    EXPECT_EQ(FShell.started, QStringList({FRoot.file("program/clavora")}));
    EXPECT_EQ(test::readBytes(FRoot.file("program/keys.db")), keys);
}

TEST_F(MainWindowTest, F1OpensTheHelpPage) {
    auto form = makeForm();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_EQ(FShell.opened, QStringList({"http://127.0.0.1:9/help/clavora/"}));
    EXPECT_EQ(HelpPageUrl("example.org", "Big Sound Board"), "http://example.org/help/big-sound-board/");
}

TEST_F(MainWindowTest, ResizingPutsThePromptBack) {
    auto form = makeForm();
    form->show();
    MatrixDisplay->clearDisplay(true, false);
    DisplayText = "Silent";
    form->resize(form->width() + 40, form->height());
    QTest::qWait(20);
    EXPECT_EQ(DisplayText, "Press any key");
    bool lit = false;
    for (int row = 0; row < MatrixDisplay->rows() && !lit; ++row) {
        for (int col = 0; col < MatrixDisplay->cols() && !lit; ++col) {
            lit = MatrixDisplay->cell(row, col);
        }
    }
    EXPECT_TRUE(lit);
}

} // namespace
