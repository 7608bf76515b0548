// Looking for a usable X display.
#include "platform/x11/x11session.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace clavora::platform {

bool x11DisplayReachable(const QByteArray& displayName) {
    Display* display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (display == nullptr) {
        return false;
    }
    int opcode = 0;
    int event = 0;
    int error = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    const bool xkb = XkbQueryExtension(display, &opcode, &event, &error, &major, &minor);
    XCloseDisplay(display);
    return xkb;
}

} // namespace clavora::platform
