// The object names of the widgets, menu items and timers, for the code that makes them and the tests that
// look them up. No name is stored anywhere: they may change with the code.
#pragma once

namespace clavora::widgetnames::about {

inline constexpr char Dialog[] = "aboutDialog";
inline constexpr char EggPanel[] = "eggPanel";
inline constexpr char EggPicture[] = "eggPicture";
inline constexpr char Panel[] = "panel";
inline constexpr char Logo[] = "logo";
inline constexpr char Bevel[] = "bevel";
inline constexpr char ProgramIcon[] = "programIcon";
inline constexpr char NameLabel[] = "nameLabel";
inline constexpr char OkButton[] = "okButton";
inline constexpr char InfoButton[] = "infoButton";
inline constexpr char InfoMenu[] = "infoMenu";
inline constexpr char CreditsAction[] = "creditsAction";
inline constexpr char UninstallAction[] = "uninstallAction";
inline constexpr char LicenseAction[] = "licenseAction";
inline constexpr char LinkLabel[] = "linkLabel";
inline constexpr char RainTimer[] = "rainTimer";
inline constexpr char SlideTimer[] = "slideTimer";
inline constexpr char FileNotFoundBox[] = "fileNotFoundBox";

} // namespace clavora::widgetnames::about
