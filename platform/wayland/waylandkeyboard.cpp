// The keyboard on a Wayland compositor.
#include "platform/wayland/waylandkeyboard.h"

#include "platform/coalescedcall.h"
#include "platform/x11/linuxkeyboard.h"
#include "platform/x11/xkbcaptionlookup.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QSocketNotifier>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcWaylandKeyboard, "clavora.platform.wayland")

namespace clavora::platform {

namespace {

struct ContextUnref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapUnref {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};

wl_display* connectTo(const QByteArray& displayName) {
    return wl_display_connect(displayName.isEmpty() ? nullptr : displayName.constData());
}

} // namespace

bool waylandDisplayReachable(const QByteArray& displayName) {
    wl_display* display = connectTo(displayName);
    if (!display) {
        return false;
    }
    const bool answers = wl_display_roundtrip(display) >= 0;
    wl_display_disconnect(display);
    return answers;
}

struct WaylandKeymap::Impl {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<xkb_context, ContextUnref> context;
    std::unique_ptr<xkb_keymap, KeymapUnref> keymap;
    bool fromCompositor = false;
    unsigned group = 0;
    CoalescedCall changeNotice;

    explicit Impl(const QByteArray& displayName);
    ~Impl();
    void takeDefaults();
    void takeKeymap(std::uint32_t format, int fd, std::uint32_t size);
    void dispatch();
    void disconnect();
    void queueNotification();

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void globalRemove(void* data, wl_registry* registry, std::uint32_t name);
    static void capabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
    static void seatName(void*, wl_seat*, const char*) {}
    static void keymapEvent(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
        static_cast<Impl*>(data)->takeKeymap(format, fd, size);
    }
    static void enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
    static void leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
    static void key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
    static void modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t group);
    static void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
};

WaylandKeymap::Impl::Impl(const QByteArray& displayName) : context(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    takeDefaults();
    display = connectTo(displayName);
    if (!display) {
        qCInfo(lcWaylandKeyboard) << "No Wayland compositor; the keyboard layout is the XKB defaults'";
        return;
    }
    static const wl_registry_listener registryListener = {&Impl::global, &Impl::globalRemove};
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, this);
    // The globals, then the seat's capabilities, then the keyboard's keymap: a round trip each.
    for (int i = 0; i < 3 && display; ++i) {
        if (wl_display_roundtrip(display) < 0) {
            disconnect();
        }
    }
    if (!display) {
        return;
    }
    if (!fromCompositor) {
        qCInfo(lcWaylandKeyboard) << "The compositor has sent no keymap yet; the layout is the XKB defaults' for now";
    }
    notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(display), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] { dispatch(); });
}

WaylandKeymap::Impl::~Impl() {
    disconnect();
}

void WaylandKeymap::Impl::disconnect() {
    notifier.reset();
    if (keyboard) {
        wl_keyboard_destroy(keyboard);
        keyboard = nullptr;
    }
    if (seat) {
        wl_seat_destroy(seat);
        seat = nullptr;
    }
    if (registry) {
        wl_registry_destroy(registry);
        registry = nullptr;
    }
    if (display) {
        wl_display_disconnect(display);
        display = nullptr;
    }
}

void WaylandKeymap::Impl::takeDefaults() {
    if (!context) {
        return;
    }
    // Null names: the rules, model, layout, variant and options of $XKB_DEFAULT_*, or libxkbcommon's own defaults.
    keymap.reset(xkb_keymap_new_from_names(context.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
    fromCompositor = false;
    group = 0;
}

void WaylandKeymap::Impl::takeKeymap(std::uint32_t format, int fd, std::uint32_t size) {
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || size == 0 || !context) {
        ::close(fd);
        return;
    }
    // Since version 7 of the seat the compositor may hand a shared, read-only file: it must be mapped privately.
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED) {
        qCWarning(lcWaylandKeyboard) << "The compositor's keymap could not be read";
        return;
    }
    const char* text = static_cast<const char*>(mapped);
    std::unique_ptr<xkb_keymap, KeymapUnref> compiled(xkb_keymap_new_from_buffer(
        context.get(), text, ::strnlen(text, size), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    ::munmap(mapped, size);
    if (!compiled) {
        qCWarning(lcWaylandKeyboard) << "The compositor's keymap does not compile";
        return;
    }
    if (xkbLayoutName(compiled.get(), 0).isEmpty()) {
        qCDebug(lcWaylandKeyboard) << "A keymap without a layout name (a virtual keyboard's) is left aside";
        return;
    }
    qCInfo(lcWaylandKeyboard) << "Keymap from the compositor, layout" << xkbLayoutName(compiled.get(), 0);
    keymap = std::move(compiled);
    fromCompositor = true;
    group = 0;
    queueNotification();
}

void WaylandKeymap::Impl::dispatch() {
    if (!display) {
        return;
    }
    if (wl_display_dispatch(display) < 0) {
        qCWarning(lcWaylandKeyboard) << "Lost the Wayland compositor; the keyboard layout stays as it was";
        // The connection goes with us; its socket is not listened to any more.
        notifier->setEnabled(false);
        return;
    }
    wl_display_flush(display);
}

void WaylandKeymap::Impl::queueNotification() {
    changeNotice.queue(notifier.get());
}

void WaylandKeymap::Impl::global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                                 std::uint32_t version) {
    auto* self = static_cast<Impl*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) != 0 || self->seat) {
        return;
    }
    // The first seat is the user's: desktops have one.
    static const wl_seat_listener seatListener = {&Impl::capabilities, &Impl::seatName};
    self->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 5u)));
    wl_seat_add_listener(self->seat, &seatListener, self);
}

void WaylandKeymap::Impl::globalRemove(void*, wl_registry*, std::uint32_t) {}

void WaylandKeymap::Impl::capabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
    auto* self = static_cast<Impl*>(data);
    const bool hasKeyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    if (hasKeyboard && !self->keyboard) {
        static const wl_keyboard_listener keyboardListener = {&Impl::keymapEvent, &Impl::enter,     &Impl::leave,
                                                              &Impl::key,         &Impl::modifiers, &Impl::repeatInfo};
        self->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(self->keyboard, &keyboardListener, self);
    } else if (!hasKeyboard && self->keyboard) {
        // The last keyboard went away; its keymap stays the best guess for the next one.
        if (wl_keyboard_get_version(self->keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
            wl_keyboard_release(self->keyboard);
        } else {
            wl_keyboard_destroy(self->keyboard);
        }
        self->keyboard = nullptr;
    }
}

void WaylandKeymap::Impl::modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                                    std::uint32_t, std::uint32_t group) {
    auto* self = static_cast<Impl*>(data);
    if (self->group != group) {
        self->group = group;
        self->queueNotification();
    }
}

WaylandKeymap::WaylandKeymap(const QByteArray& displayName) : m_impl(std::make_unique<Impl>(displayName)) {}

WaylandKeymap::~WaylandKeymap() = default;

bool WaylandKeymap::connected() const {
    return m_impl->display != nullptr;
}

xkb_keymap* WaylandKeymap::keymap() const {
    return m_impl->keymap.get();
}

bool WaylandKeymap::fromCompositor() const {
    return m_impl->fromCompositor;
}

unsigned WaylandKeymap::group() const {
    return m_impl->group;
}

void WaylandKeymap::setChangeHandler(std::function<void()> handler) {
    m_impl->changeNotice.setHandler(std::move(handler));
}

QString WaylandKeyboard::keyboardLocaleName() {
    const QString layout = xkbLayoutName(m_keymap.keymap(), m_keymap.group());
    return layout.isEmpty() ? QStringLiteral("xx") : localeNameForLayoutDescription(layout);
}

struct WaylandKeyCaptions::Impl {
    explicit Impl(WaylandKeymap& source) : keymap(source) {}
    WaylandKeymap& keymap;
    XkbCaptionLookup lookup;
};

WaylandKeyCaptions::WaylandKeyCaptions(WaylandKeymap& keymap) : m_impl(std::make_unique<Impl>(keymap)) {}

WaylandKeyCaptions::~WaylandKeyCaptions() {
    m_impl->keymap.setChangeHandler({});
}

QString WaylandKeyCaptions::keyText(PhysicalKey key, KeyLevel level) {
    Impl& d = *m_impl;
    if (d.lookup.keymap() != d.keymap.keymap()) {
        d.lookup.setKeymap(d.keymap.keymap());
    }
    return d.lookup.keyText(key, level, d.keymap.group());
}

void WaylandKeyCaptions::setChangeHandler(std::function<void()> handler) {
    m_impl->keymap.setChangeHandler(std::move(handler));
}

} // namespace clavora::platform
