// Keys going down and up on X11.
#include "platform/x11/linuxkeywatch.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

Q_LOGGING_CATEGORY(lcKeyWatch, "clavora.platform.keywatch")

namespace clavora::platform {

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

void selectRawKeys(Display* display, bool on) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) {
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
    }
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof(bits);
    mask.mask = bits;
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XFlush(display);
}

} // namespace

struct LinuxKeyWatch::Impl {
    QByteArray m_displayName;
    bool m_opened = false;
    std::unique_ptr<Display, DisplayCloser> m_display;
    int m_inputOpcode = -1;
    std::unique_ptr<LinuxKeyboard> m_keyboard;
    std::unique_ptr<QSocketNotifier> m_notifier;
    KeyHandler m_handler;

    bool open();
    void readEvents();
};

bool LinuxKeyWatch::Impl::open() {
    if (m_opened) {
        return m_display != nullptr;
    }
    m_opened = true;
    m_display.reset(XOpenDisplay(m_displayName.isEmpty() ? nullptr : m_displayName.constData()));
    if (!m_display) {
        qCInfo(lcKeyWatch) << "No X display; hotkeys are heard by their poll alone";
        return false;
    }
    int event = 0, error = 0;
    int major = 2, minor = 2;
    if (!XQueryExtension(m_display.get(), "XInputExtension", &m_inputOpcode, &event, &error) ||
        XIQueryVersion(m_display.get(), &major, &minor) != Success || major < 2) {
        qCInfo(lcKeyWatch) << "The X server has no XInput2; hotkeys are heard by their poll alone";
        m_display.reset();
        return false;
    }
    m_keyboard = std::make_unique<LinuxKeyboard>(m_displayName);
    m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(m_display.get()), QSocketNotifier::Read);
    m_notifier->setEnabled(false);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readEvents(); });
    qCInfo(lcKeyWatch) << "Raw key events from XInput" << major << "." << minor;
    return true;
}

void LinuxKeyWatch::Impl::readEvents() {
    Display* display = m_display.get();
    // Events already read into Xlib's queue raise no new notification, so take everything there is.
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != m_inputOpcode || !XGetEventData(display, cookie)) {
            continue;
        }
        if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            const int virtualKey = m_keyboard->virtualKeyOf(raw->detail);
            const bool down = cookie->evtype == XI_RawKeyPress;
            if (!down) {
                injectedKeyReleaseSeen(raw->detail);
            }
            XFreeEventData(display, cookie);
            if (m_handler && virtualKey != 0) {
                // The handler may stop the watch; keep it alive for this call.
                const KeyHandler handler = m_handler;
                handler(virtualKey, down);
            }
            if (!m_display) {
                return;
            }
            continue;
        }
        XFreeEventData(display, cookie);
    }
}

LinuxKeyWatch::LinuxKeyWatch(const QByteArray& displayName) : m_impl(std::make_unique<Impl>()) {
    m_impl->m_displayName = displayName;
}

LinuxKeyWatch::~LinuxKeyWatch() {
    stop();
}

bool LinuxKeyWatch::start(KeyHandler handler) {
    if (!m_impl->open()) {
        return false;
    }
    const bool wasRunning = bool(m_impl->m_handler);
    m_impl->m_handler = std::move(handler);
    if (!wasRunning) {
        selectRawKeys(m_impl->m_display.get(), true);
        m_impl->m_notifier->setEnabled(true);
    }
    return true;
}

void LinuxKeyWatch::stop() {
    if (!m_impl->m_display || !m_impl->m_handler) {
        return;
    }
    m_impl->m_handler = nullptr;
    m_impl->m_notifier->setEnabled(false);
    selectRawKeys(m_impl->m_display.get(), false);
    // Whatever arrived before the server saw the change is of no interest any more.
    XSync(m_impl->m_display.get(), True);
}

} // namespace clavora::platform
