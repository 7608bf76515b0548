// Playing the bindings of one key name: the step every key path ends in.
#pragma once

#include "keymap/keymap.h"

#include <QString>

#include <functional>

namespace clavora::input {

// Plays one binding's sound; its path exactly as stored.
using PlaySound = std::function<void(const Binding& binding)>;

// Plays every binding of KeyMap whose key name is exactly Name (letter case included), in file order. The paths are
// looked up before the first sound starts, so a map changed by a sound's side effects cannot upset the walk.
void playBindingsFor(QStringView name, const KeyMap& keyMap, const PlaySound& play);

} // namespace clavora::input
