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
using clavora::test::Child;
using clavora::test::Item;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(FRoot.file("program")));
        // The real program file, so the window reads the real version information.
        ASSERT_TRUE(QFile::copy(test::ProgramDir() + "/clavora", FRoot.file("program/clavora")));
        FFs.FProgramFile = FRoot.file("program/clavora");
        FFs.FUserConfigFolder = FRoot.file("config");
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
    void writeSettings(const QByteArray& text) { test::WriteBytes(settingsPath(), text); }
    std::unique_ptr<TAppForm> makeForm(const QStringList& arguments = {}) {
        return std::make_unique<TAppForm>(arguments);
    }

    test::TTempFolder FRoot;
    QStringList FMessages;
    QStringList FErrors;
    platform::TFakeFileSystem FFs;
    platform::TFakeAutostart FAutostart;
    platform::TFakeShell FShell;
    platform::TFakeLocale FLocale;
    platform::TScopedService<platform::IFileSystem> FUseFs{FFs};
    platform::TScopedService<platform::IAutostart> FUseAutostart{FAutostart};
    platform::TScopedService<platform::IShell> FUseShell{FShell};
    platform::TScopedService<platform::ILocale> FUseLocale{FLocale};
};

// Keys typed into the focused window. The bound files are not audio, so the engine hands each one to the
// fallback player, which records it.
class MainWindowKeysTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        test::WriteBytes(FRoot.file("program/one.txt"), "not a sound");
        test::WriteBytes(FRoot.file("program/two.txt"), "not a sound");
        const QString one = FRoot.file("program/one.txt");
        const QString two = FRoot.file("program/two.txt");
        test::WriteBytes(FRoot.file("program/keys.db"),
                         ("F1|" + one + "\nF7|" + two + "\na|" + one + "\nA|" + two + "\na|" + two + "\n").toUtf8());
        // Hotkey mode off: only the window's own key handling plays.
        writeSettings("[Settings]\nHotkeyMode=OFF\n");
    }

    platform::TFakeFallbackPlayer FPlayer;
    platform::TScopedService<platform::IFallbackPlayer> FUsePlayer{FPlayer};
};

TEST_F(MainWindowKeysTest, TypedKeysPlayTheirBindingsAndF1OpensHelpInstead) {
    auto form = makeForm();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const QString one = FRoot.file("program/one.txt");
    const QString two = FRoot.file("program/two.txt");

    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_TRUE(FPlayer.FPlayed.isEmpty());
    EXPECT_EQ(FShell.FOpened.size(), 1);

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
        FPlayer.FPlayed.clear();
        QTest::sendKeyEvent(QTest::Click, form.get(), c.key, c.text, c.modifiers);
        EXPECT_EQ(FPlayer.FPlayed, c.played);
    }
    EXPECT_EQ(FShell.FOpened.size(), 1);
}

TEST_F(MainWindowTest, StartsWithIdentityDataFolderAndDefaultOptions) {
    auto form = makeForm();
    EXPECT_EQ(form->windowTitle(), "Zemtrak - Clavora");
    EXPECT_EQ(AppTitle, "Zemtrak - Clavora");
    EXPECT_EQ(DataFolder, FRoot.file("program") + "/");
    EXPECT_FALSE(AppVersion.isEmpty());
    EXPECT_NE(AppVersion, "65535.65535");

    EXPECT_TRUE(Item(*form, "HotkeyMode1")->isChecked());
    EXPECT_TRUE(Child<QTimer>(*form, "TimerHotkey")->isActive());
    EXPECT_EQ(Child<QTimer>(*form, "TimerHotkey")->interval(), 50);
    EXPECT_TRUE(Item(*form, "AllowOverlappingSounds1")->isChecked());
    EXPECT_TRUE(Item(*form, "MatrixDisplay1")->isChecked());
    EXPECT_TRUE(Child<QWidget>(*form, "Panel1")->isVisibleTo(form.get()));
    EXPECT_FALSE(Item(*form, "MinimizetoSystemTray1")->isChecked());
    EXPECT_FALSE(Item(*form, "StartMinimized1")->isChecked());
    EXPECT_FALSE(Item(*form, "StartMinimized1")->isEnabled());
    EXPECT_FALSE(Item(*form, "Autostartatstartup1")->isChecked());
    EXPECT_TRUE(Item(*form, "Standard1")->isChecked());
    EXPECT_EQ(Child<QSlider>(*form, "TrackBar2")->maximum(), 8);

    EXPECT_TRUE(FMessages.isEmpty()) << FMessages.join(' ').toStdString();
    EXPECT_EQ(form->Channel(), 0u); // nothing played during start-up
    // Start-up reads settings.ini but never writes it, and the key map holds the defaults.
    EXPECT_FALSE(QFile::exists(settingsPath()));
    EXPECT_EQ(form->keyMap().pathsFor(u"F12"), QStringList{"Sounds\\22.mp3"});
    ASSERT_NE(MatrixDisplay, nullptr);
    EXPECT_EQ(MatrixDisplay->parentWidget(), Child<QWidget>(*form, "Panel1"));
    EXPECT_EQ(DisplayText, "Press any key");
}

TEST_F(MainWindowTest, ClientAreaMenusAndInitialStates) {
    auto form = makeForm();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(form->centralWidget()->size(), QSize(646, 341));
    EXPECT_EQ(Child<QWidget>(*form, "Panel1")->height(), 65);
    EXPECT_FALSE(Child<QWidget>(*form, "Panel1")->isEnabled());
    EXPECT_EQ(Child<QSlider>(*form, "TrackBar2")->height(), 25);
    EXPECT_EQ(Child<QWidget>(*form, "TouchKeyboard1")->geometry().topLeft(), QPoint(3, 3));

    QStringList captions;
    for (QAction* action : Child<QMenu>(*form, "Help1")->actions()) {
        captions << (action->isSeparator() ? "-" : action->text()) + (action->isVisible() ? "" : " (hidden)");
    }
    EXPECT_EQ(captions, QStringList({"Online Help", "-", "Update Notifications", "-", "Language... (hidden)",
                                     "Send &Feedback...", "&About..."}));
    EXPECT_TRUE(Item(*form, "UpdateNotifications1")->isChecked());
    EXPECT_FALSE(Item(*form, "UpdateNotifications1")->isEnabled());
    EXPECT_EQ(Item(*form, "Help2")->shortcut(), QKeySequence(Qt::Key_F1));
    for (QAction* action : {Item(*form, "Exit1"), Item(*form, "Help2"), Item(*form, "Language1"), Item(*form, "SendFeedback1"), Item(*form, "About1")}) {
        EXPECT_FALSE(action->icon().isNull()) << action->objectName().toStdString();
    }
    EXPECT_EQ(Item(*form, "ResettoDefaults1")->text(), "Reset to Defaults...");
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
        test::WriteBytes(settings.fileName(), c.text);
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
    EXPECT_TRUE(Item(*form, "MinimizetoSystemTray1")->isChecked());
    // Without an autostart entry Auto Minimize shows its stored mark but cannot be used.
    EXPECT_TRUE(Item(*form, "StartMinimized1")->isChecked());
    EXPECT_FALSE(Item(*form, "StartMinimized1")->isEnabled());
    EXPECT_FALSE(Item(*form, "HotkeyMode1")->isChecked());
    EXPECT_FALSE(Child<QTimer>(*form, "TimerHotkey")->isActive());
    EXPECT_FALSE(Item(*form, "AllowOverlappingSounds1")->isChecked());
    EXPECT_TRUE(Item(*form, "NumPad1")->isChecked());
    EXPECT_FALSE(Item(*form, "Standard1")->isChecked());
    EXPECT_EQ(form->KeyboardLayout(), "NumPad");
    EXPECT_FALSE(Child<QWidget>(*form, "Panel1")->isVisibleTo(form.get()));
}

TEST_F(MainWindowTest, EachCommandFlipsItsOptionAndWritesTheWholeFile) {
    writeSettings("[Settings]\nHotkeyMode=ON\n[Other]\nkept=yes\n");
    auto form = makeForm();

    Item(*form, "HotkeyMode1")->trigger();
    EXPECT_FALSE(Item(*form, "HotkeyMode1")->isChecked());
    EXPECT_FALSE(Child<QTimer>(*form, "TimerHotkey")->isActive());
    EXPECT_EQ(test::ReadBytes(settingsPath()), "[Settings]\nHotkeyMode=OFF\n\n[Other]\nkept=yes\n\n");

    Item(*form, "MinimizetoSystemTray1")->trigger();
    Item(*form, "AllowOverlappingSounds1")->trigger();
    Item(*form, "MatrixDisplay1")->trigger();
    Item(*form, "NumPad1")->trigger();
    EXPECT_FALSE(Child<QWidget>(*form, "Panel1")->isVisibleTo(form.get()));
    EXPECT_EQ(test::ReadBytes(settingsPath()),
              "[Settings]\nHotkeyMode=OFF\nMinimizeToSystemTray=ON\nAllowOverlappingSounds=OFF\nMatrixDisplay=OFF\n"
              "KeyboardLayout=NumPad\n\n[Other]\nkept=yes\n\n");

    Item(*form, "HotkeyMode1")->trigger();
    EXPECT_TRUE(Child<QTimer>(*form, "TimerHotkey")->isActive());
    Item(*form, "MatrixDisplay1")->trigger();
    EXPECT_TRUE(Child<QWidget>(*form, "Panel1")->isVisibleTo(form.get()));
    EXPECT_EQ(DisplayText, "Press any key");
    // Choosing the layout that is already checked writes it again.
    Item(*form, "Standard1")->trigger();
    Item(*form, "Standard1")->trigger();
    EXPECT_TRUE(Item(*form, "Standard1")->isChecked());
    EXPECT_EQ(test::ReadBytes(settingsPath()),
              "[Settings]\nHotkeyMode=ON\nMinimizeToSystemTray=ON\nAllowOverlappingSounds=OFF\nMatrixDisplay=ON\n"
              "KeyboardLayout=Standard\n\n[Other]\nkept=yes\n\n");
}

TEST_F(MainWindowTest, AWriteFailureIsShownAfterTheMarkChangedAndTheProgramGoesOn) {
    auto form = makeForm();
    FFs.FFailingWrites.insert(settingsPath());
    Item(*form, "AllowOverlappingSounds1")->trigger();
    EXPECT_FALSE(Item(*form, "AllowOverlappingSounds1")->isChecked());
    EXPECT_FALSE(QFile::exists(settingsPath()));
    ASSERT_EQ(FErrors.size(), 1);
    EXPECT_TRUE(FErrors.first().contains(settingsPath())) << FErrors.first().toStdString();

    // The next command runs as usual.
    FFs.FFailingWrites.clear();
    Item(*form, "MinimizetoSystemTray1")->trigger();
    EXPECT_EQ(FErrors.size(), 1);
    EXPECT_EQ(test::ReadBytes(settingsPath()), "[Settings]\nAllowOverlappingSounds=OFF\nMinimizeToSystemTray=ON\n\n");
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
    Item(*form, "Autostartatstartup1")->trigger();
    EXPECT_TRUE(Item(*form, "Autostartatstartup1")->isChecked());
    EXPECT_EQ(FAutostart.FEntries.value("Zemtrak - Clavora"), "\"" + FRoot.file("program/clavora") + "\" /auto");
    EXPECT_TRUE(Item(*form, "StartMinimized1")->isEnabled());
    EXPECT_FALSE(QFile::exists(settingsPath())); // the autostart command itself writes no settings

    Item(*form, "StartMinimized1")->trigger();
    EXPECT_EQ(test::ReadBytes(settingsPath()), "[Settings]\nMinimizeStartup=ON\n\n");

    Item(*form, "Autostartatstartup1")->trigger();
    EXPECT_TRUE(FAutostart.FEntries.isEmpty());
    EXPECT_FALSE(Item(*form, "StartMinimized1")->isChecked());
    EXPECT_FALSE(Item(*form, "StartMinimized1")->isEnabled());
    EXPECT_EQ(test::ReadBytes(settingsPath()), "[Settings]\nMinimizeStartup=OFF\n\n");

    // An entry that cannot be written ends the command: the mark has changed, Auto Minimize stays unusable.
    FAutostart.FFailWrites = true;
    Item(*form, "Autostartatstartup1")->trigger();
    EXPECT_EQ(FErrors.size(), 1);
    EXPECT_TRUE(Item(*form, "Autostartatstartup1")->isChecked());
    EXPECT_FALSE(Item(*form, "StartMinimized1")->isEnabled());
    FAutostart.FFailWrites = false;

    // A later start finds the entry and enables Auto Minimize again.
    form.reset();
    FAutostart.FEntries["Zemtrak - Clavora"] = "\"x\" /auto";
    auto second = makeForm();
    EXPECT_TRUE(Item(*second, "Autostartatstartup1")->isChecked());
    EXPECT_TRUE(Item(*second, "StartMinimized1")->isEnabled());
}

TEST_F(MainWindowTest, ResetToDefaultsAsksAndOnlyYesRemovesTheSettings) {
    writeSettings("[Settings]\nHotkeyMode=OFF\n");
    auto form = makeForm();
    const QByteArray keys = test::ReadBytes(FRoot.file("program/keys.db"));

    QStringList seen;
    SetMessageDlgAnswer([&](QMessageBox& box) {
        seen << box.windowTitle() << box.text();
        for (QAbstractButton* button : box.buttons()) {
            seen << button->text();
        }
        seen << box.defaultButton()->text() << box.escapeButton()->text();
        return QMessageBox::No;
    });
    Item(*form, "ResettoDefaults1")->trigger();
    EXPECT_EQ(seen, QStringList({"Confirmation", "Restart Application?", "Yes", "No", "Yes", "No"}));
    EXPECT_TRUE(QFile::exists(settingsPath()));
    EXPECT_TRUE(FShell.FStarted.isEmpty());

    SetMessageDlgAnswer([](QMessageBox&) { return QMessageBox::Yes; });
    Item(*form, "ResettoDefaults1")->trigger();
    EXPECT_FALSE(QFile::exists(settingsPath()));
    EXPECT_EQ(FShell.FStarted, QStringList({FRoot.file("program/clavora")}));
    EXPECT_EQ(test::ReadBytes(FRoot.file("program/keys.db")), keys);
}

TEST_F(MainWindowTest, F1OpensTheHelpPage) {
    auto form = makeForm();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_EQ(FShell.FOpened, QStringList({"http://127.0.0.1:9/help/clavora/"}));
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
