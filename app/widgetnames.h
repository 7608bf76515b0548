// The object names of the widgets, menu items and timers, for the code that makes them and the tests that
// look them up. No name is stored anywhere: they may change with the code.
#pragma once

namespace clavora::widgetnames {

inline constexpr char MainWindow[] = "mainWindow";
inline constexpr char AutoSwitchTimer[] = "autoSwitchTimer";
inline constexpr char HotkeyTimer[] = "hotkeyTimer";
inline constexpr char HotkeyNotice[] = "hotkeyNotice";
inline constexpr char HotkeyNoticeText[] = "hotkeyNoticeText";
inline constexpr char HotkeyNoticeClose[] = "hotkeyNoticeClose";
inline constexpr char ShortcutRepeatTimer[] = "shortcutRepeatTimer";
inline constexpr char TrayIcon[] = "trayIcon";
inline constexpr char ClientArea[] = "clientArea";
inline constexpr char DisplayPanel[] = "displayPanel";
inline constexpr char VolumeSlider[] = "volumeSlider";
inline constexpr char KeyboardArea[] = "keyboardArea";
inline constexpr char OnScreenKeyboard[] = "onScreenKeyboard";
inline constexpr char MenuBar[] = "menuBar";
inline constexpr char SoundboardMenu[] = "soundboardMenu";
inline constexpr char ViewMenu[] = "viewMenu";
inline constexpr char KeyboardLayoutMenu[] = "keyboardLayoutMenu";
inline constexpr char KeyboardLayoutGroup[] = "keyboardLayoutGroup";
inline constexpr char SettingsMenu[] = "settingsMenu";
inline constexpr char HelpMenu[] = "helpMenu";
inline constexpr char RedefineKeysAction[] = "redefineKeysAction";
inline constexpr char ExitSeparator[] = "exitSeparator";
inline constexpr char ExitAction[] = "exitAction";
inline constexpr char AutostartAction[] = "autostartAction";
inline constexpr char OverlapSeparator[] = "overlapSeparator";
inline constexpr char ResetSeparator[] = "resetSeparator";
inline constexpr char ResetToDefaultsAction[] = "resetToDefaultsAction";
inline constexpr char OnlineHelpAction[] = "onlineHelpAction";
inline constexpr char UpdateNotificationsSeparator[] = "updateNotificationsSeparator";
inline constexpr char UpdateNotificationsAction[] = "updateNotificationsAction";
inline constexpr char LanguageSeparator[] = "languageSeparator";
inline constexpr char LanguageAction[] = "languageAction";
inline constexpr char SendFeedbackAction[] = "sendFeedbackAction";
inline constexpr char AboutAction[] = "aboutAction";
inline constexpr char StopAllSoundsAction[] = "stopAllSoundsAction";
inline constexpr char MinimizeToTrayAction[] = "minimizeToTrayAction";
inline constexpr char StartMinimizedAction[] = "startMinimizedAction";
inline constexpr char HotkeyModeAction[] = "hotkeyModeAction";
inline constexpr char AllowOverlappingAction[] = "allowOverlappingAction";
inline constexpr char StandardLayoutAction[] = "standardLayoutAction";
inline constexpr char NumPadLayoutAction[] = "numPadLayoutAction";
inline constexpr char MatrixDisplayAction[] = "matrixDisplayAction";
inline constexpr char PlayIntoMicrophoneAction[] = "playIntoMicrophoneAction";
inline constexpr char PressAgainToStopAction[] = "pressAgainToStopAction";
inline constexpr char EvenLoudnessAction[] = "evenLoudnessAction";
inline constexpr char OutputDeviceMenu[] = "outputDeviceMenu";
inline constexpr char VolumeTimer[] = "volumeTimer";
// The notification-area icon's menu.
inline constexpr char TrayMenu[] = "trayMenu";
inline constexpr char TrayShowAction[] = "trayShowAction";
inline constexpr char TrayStopAllAction[] = "trayStopAllAction";
inline constexpr char TrayHotkeyModeAction[] = "trayHotkeyModeAction";
inline constexpr char TrayExitAction[] = "trayExitAction";

} // namespace clavora::widgetnames
