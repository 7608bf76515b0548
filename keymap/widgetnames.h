// The object names of the widgets, menu items and timers, for the code that makes them and the tests that
// look them up. No name is stored anywhere: they may change with the code.
#pragma once

namespace clavora::widgetnames::keyedit {

inline constexpr char Dialog[] = "keyEditDialog";
inline constexpr char KeyField[] = "keyField";
inline constexpr char FileField[] = "fileField";
inline constexpr char VolumeField[] = "volumeField";
inline constexpr char BrowseButton[] = "browseButton";
inline constexpr char OkButton[] = "okButton";
inline constexpr char CancelButton[] = "cancelButton";
inline constexpr char CloseAction[] = "closeAction";

} // namespace clavora::widgetnames::keyedit

namespace clavora::widgetnames::redefinekeys {

inline constexpr char Dialog[] = "redefineKeysDialog";
inline constexpr char BindingList[] = "bindingList";
inline constexpr char AddButton[] = "addButton";
inline constexpr char EditButton[] = "editButton";
inline constexpr char DeleteButton[] = "deleteButton";
inline constexpr char CloseAction[] = "closeAction";

} // namespace clavora::widgetnames::redefinekeys
