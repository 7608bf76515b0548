// The options table: how stored values are read with their own senses, and the one change path.
#include "app/options.h"
#include "app/settingsstore.h"
#include "app/widgetnames.h"
#include "platform/fake/fakefilesystem.h"
#include "tests/support/platformtest.h"
#include "tests/support/testsupport.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace clavora;

namespace {

class OptionsTest : public test::PlatformTest {
protected:
    QString iniPath() const { return m_root.file("settings.ini"); }
};

TEST_F(OptionsTest, StoredValuesAreReadWithTheirOwnSenses) {
    const struct {
        const char* text;
        bool tray, startMinimized, hotkey, overlap, display;
        const char* layout;
        bool voice, pressAgain;
    } cases[] = {
        {"", false, false, true, true, true, "Standard", false, false},
        {"[settings]\nminimizetosystemtray=on\nMINIMIZESTARTUP=on\nHotkeyMode=on\nAllowOverlappingSounds=on\n"
         "MatrixDisplay=on\nKeyboardLayout=numpad\nVoiceOutput=on\npressagaintostop=on\n",
         true, false, true, true, true, "Standard", false, false},
        {"[Settings]\nMinimizeToSystemTray=OFF\nMinimizeStartup=ON\nHotkeyMode=OFF\nAllowOverlappingSounds=OFF\n"
         "MatrixDisplay=OFF\nKeyboardLayout=NumPad\nVoiceOutput=ON\nPressAgainToStop=ON\n",
         false, true, false, false, false, "NumPad", true, true},
        {"[Settings]\nMinimizeToSystemTray=off\nHotkeyMode=yes\nMatrixDisplay=Off\nPressAgainToStop=on\n", true, false,
         true, true, true, "Standard", false, false},
        {"[Settings]\nMinimizeToSystemTray=\nMinimizeStartup= ON \nKeyboardLayout=NUMPAD\nVoiceOutput= ON\n", true,
         true, true, true, true, "Standard", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SettingsStore settings(m_files, iniPath());
        test::writeBytes(iniPath(), c.text);
        ASSERT_TRUE(settings.load().ok());
        const Options options(settings);
        EXPECT_EQ(options.isOn(Option::MinimizeToSystemTray), c.tray);
        EXPECT_EQ(options.isOn(Option::MinimizeStartup), c.startMinimized);
        EXPECT_EQ(options.isOn(Option::HotkeyMode), c.hotkey);
        EXPECT_EQ(options.isOn(Option::AllowOverlappingSounds), c.overlap);
        EXPECT_EQ(options.isOn(Option::MatrixDisplay), c.display);
        EXPECT_EQ(options.keyboardLayout(), c.layout);
        EXPECT_EQ(options.isOn(Option::VoiceOutput), c.voice);
        EXPECT_EQ(options.isOn(Option::PressAgainToStop), c.pressAgain);
    }
}

TEST_F(OptionsTest, TheTableKeepsTheStartupOrderAndTheMenuItems) {
    QStringList keys;
    QStringList items;
    for (const OptionRow& row : optionTable()) {
        keys << row.key;
        if (row.actionName) {
            items << row.actionName;
        }
        for (const OptionChoice& choice : row.choices) {
            items << choice.actionName;
        }
    }
    EXPECT_EQ(keys,
              QStringList({"MinimizeToSystemTray", "MinimizeStartup", "HotkeyMode", "AllowOverlappingSounds",
                           "KeyboardLayout", "MatrixDisplay", "VoiceOutput", "PressAgainToStop", "EvenLoudness"}));
    EXPECT_EQ(items, QStringList({widgetnames::MinimizeToTrayAction, widgetnames::StartMinimizedAction,
                                  widgetnames::HotkeyModeAction, widgetnames::AllowOverlappingAction,
                                  widgetnames::StandardLayoutAction, widgetnames::NumPadLayoutAction,
                                  widgetnames::MatrixDisplayAction, widgetnames::PlayIntoMicrophoneAction,
                                  widgetnames::PressAgainToStopAction, widgetnames::EvenLoudnessAction}));
}

TEST_F(OptionsTest, AChangeIsSignalledThenTheWholeFileIsWritten) {
    test::writeBytes(iniPath(), "[Other]\nkept=yes\n[Settings]\nHotkeyMode=on\n");
    SettingsStore settings(m_files, iniPath());
    ASSERT_TRUE(settings.load().ok());
    Options options(settings);

    // Listeners see the new value before the file holds it, so side effects never wait on the disk.
    QByteArray onDiskWhenSignalled;
    QObject::connect(&options, &Options::changed, [&](Option option) {
        EXPECT_EQ(option, Option::HotkeyMode);
        EXPECT_FALSE(options.isOn(Option::HotkeyMode));
        onDiskWhenSignalled = test::readBytes(iniPath());
    });
    ASSERT_TRUE(options.setOn(Option::HotkeyMode, false).ok());
    EXPECT_EQ(onDiskWhenSignalled, "[Other]\nkept=yes\n[Settings]\nHotkeyMode=on\n");
    EXPECT_EQ(test::readBytes(iniPath()), "[Other]\nkept=yes\n\n[Settings]\nHotkeyMode=OFF\n\n");
}

TEST_F(OptionsTest, ChoicesOutsideTheTableAreStoredAsTheDefault) {
    SettingsStore settings(m_files, iniPath());
    Options options(settings);
    ASSERT_TRUE(options.set(Option::KeyboardLayout, "NumPad").ok());
    EXPECT_EQ(options.keyboardLayout(), "NumPad");
    ASSERT_TRUE(options.set(Option::KeyboardLayout, "numpad").ok());
    EXPECT_EQ(options.keyboardLayout(), "Standard");
    EXPECT_EQ(test::readBytes(iniPath()), "[Settings]\nKeyboardLayout=Standard\n\n");
}

TEST_F(OptionsTest, AFailedWriteKeepsTheNewValueAndNamesTheFile) {
    SettingsStore settings(m_files, iniPath());
    Options options(settings);
    QSignalSpy changed(&options, &Options::changed);
    m_files.failingWrites.insert(iniPath());
    const Status written = options.setOn(Option::MatrixDisplay, false);
    EXPECT_FALSE(written.ok());
    EXPECT_TRUE(written.message().contains(iniPath())) << written.message().toStdString();
    EXPECT_FALSE(options.isOn(Option::MatrixDisplay));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_FALSE(QFile::exists(iniPath()));
}

} // namespace
