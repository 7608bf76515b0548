// Key injection on X11.
#include "platform/x11/linuxkeyinjector.h"

#include "platform/x11/linuxkeyboard.h"

#include "platform/x11/evdevkeys.h"

#include <QLoggingCategory>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <linux/input-event-codes.h>

Q_LOGGING_CATEGORY(lcKeyInjector, "clavora.platform.keyinjector")

namespace clavora::platform {

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

bool isKeypadKey(int evdevCode) {
    return (evdevCode >= KEY_KP7 && evdevCode <= KEY_KPDOT) || evdevCode == KEY_KPASTERISK ||
           evdevCode == KEY_KPSLASH || evdevCode == KEY_KPENTER;
}

} // namespace

struct LinuxKeyInjector::Impl {
    std::unique_ptr<Display, DisplayCloser> display;
};

LinuxKeyInjector::LinuxKeyInjector(const QByteArray& displayName) : m_impl(std::make_unique<Impl>()) {
    int eventBase = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion, reason = 0;
    m_impl->display.reset(XkbOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData(), &eventBase,
                                         &errorBase, &major, &minor, &reason));
    if (!m_impl->display) {
        qCInfo(lcKeyInjector) << "No X display with the keyboard extension (reason" << reason
                              << "); the on-screen keyboard cannot inject keys";
        return;
    }
    if (!XTestQueryExtension(m_impl->display.get(), &eventBase, &errorBase, &major, &minor)) {
        qCWarning(lcKeyInjector) << "The X server has no XTest extension; the on-screen keyboard cannot inject keys";
        m_impl->display.reset();
    }
}

LinuxKeyInjector::~LinuxKeyInjector() = default;

bool LinuxKeyInjector::available() const {
    return m_impl->display != nullptr;
}

bool LinuxKeyInjector::sendKey(PhysicalKey key, bool down, InjectOptions options) {
    Display* display = m_impl->display.get();
    const int evdevCode = evdevCodeOf(key);
    if (!display || evdevCode == 0) {
        return false;
    }
    const unsigned keycode = unsigned(evdevCode + 8);

    // The lock goes on and off around the one event in the same request stream, so the server applies it to exactly
    // that event, and no Num Lock key press appears for key-state readers to see.
    unsigned numLock = 0;
    if (options.keypadAsDigits && isKeypadKey(evdevCode)) {
        const unsigned mask = XkbKeysymToModifiers(display, XK_Num_Lock);
        XkbStateRec state{};
        if (mask != 0 && XkbGetState(display, XkbUseCoreKbd, &state) == Success && (state.locked_mods & mask) == 0) {
            numLock = mask;
            XkbLockModifiers(display, XkbUseCoreKbd, numLock, numLock);
        }
    }
    // Readers of the key state name the key as the digit it types here (see setInjectedAsKeypadDigit).
    if (numLock != 0 || !down) {
        setInjectedAsKeypadDigit(int(keycode), down);
    }
    XTestFakeKeyEvent(display, keycode, down ? True : False, CurrentTime);
    if (numLock != 0) {
        XkbLockModifiers(display, XkbUseCoreKbd, numLock, 0);
    }

    XFlush(display);
    return true;
}

} // namespace clavora::platform
