// The object names of the widgets, menu items and timers, for the code that makes them and the tests that
// look them up. No name is stored anywhere: they may change with the code.
#pragma once

namespace clavora::widgetnames::language {

inline constexpr char Dialog[] = "languageDialog";
inline constexpr char LanguageLabel[] = "languageLabel";
inline constexpr char CreditsLabel[] = "creditsLabel";
inline constexpr char LanguageBox[] = "languageBox";
inline constexpr char CreditsText[] = "creditsText";
inline constexpr char CreditsMenu[] = "creditsMenu";
inline constexpr char CopyAction[] = "copyAction";
inline constexpr char SelectAllAction[] = "selectAllAction";
inline constexpr char ButtonBarLine[] = "buttonBarLine";
inline constexpr char ButtonBar[] = "buttonBar";
inline constexpr char TranslationLink[] = "translationLink";
inline constexpr char OkButton[] = "okButton";
inline constexpr char RestartQuestion[] = "restartQuestion";

} // namespace clavora::widgetnames::language
