// Playing the bindings of one key name.
#include "input/bindingplayer.h"

namespace clavora::input {

void playBindingsFor(QStringView name, const KeyMap& keyMap, const PlaySound& play) {
    if (!play) {
        return;
    }
    for (const Binding& binding : keyMap.bindingsFor(name)) {
        play(binding);
    }
}

} // namespace clavora::input
