// Whether the keyboard services of X11 can work in this session.
#pragma once

#include <QByteArray>

namespace clavora::platform {

// True when the X display DisplayName (empty: $DISPLAY) opens and offers the keyboard extension the keyboard
// services build on. Opens a connection of its own and closes it again.
bool x11DisplayReachable(const QByteArray& displayName);

} // namespace clavora::platform
