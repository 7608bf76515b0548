// Playing the bindings of one key name.
#include "input/bindingplayer.h"

namespace clavora::input {

void playBindingsFor(QStringView name, const KeyMap& keyMap, const PlaySound& play) {
    if (!play) {
        return;
    }
    for (const QString& path : keyMap.pathsFor(name)) {
        play(path);
    }
}

} // namespace clavora::input
