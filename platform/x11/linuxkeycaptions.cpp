// Key captions on X11.
//
// The keymap is compiled once per change of the server's keyboard and kept; a caption is then a local look-up in a
// state built from the wanted modifiers and the active group. XKB tells us about changes on our own connection, whose
// socket the event loop watches, so nothing polls.
#include "platform/x11/linuxkeycaptions.h"

#include "platform/coalescedcall.h"
#include "platform/x11/xkbcaptionlookup.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QSocketNotifier>

#include <xcb/xcb.h>
// The XKB protocol header names a field "explicit", which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>

Q_LOGGING_CATEGORY(lcKeyCaptions, "clavora.platform.keycaptions")

namespace clavora::platform {

namespace {

struct ConnectionCloser {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
struct ContextUnref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapUnref {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateUnref {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
struct FreeDeleter {
    void operator()(void* data) const { std::free(data); }
};

} // namespace

struct LinuxKeyCaptions::Impl {
    std::unique_ptr<xcb_connection_t, ConnectionCloser> connection;
    std::unique_ptr<xkb_context, ContextUnref> context;
    XkbCaptionLookup lookup;
    std::unique_ptr<QSocketNotifier> notifier;
    CoalescedCall changeNotice;
    std::int32_t deviceId = -1;
    std::uint8_t xkbEventBase = 0;
    xcb_atom_t rulesAtom = XCB_ATOM_NONE;
    xcb_window_t root = XCB_WINDOW_NONE;

    bool keymapStale = true;
    xkb_layout_index_t group = 0;

    explicit Impl(const QByteArray& displayName);
    bool connected() const { return connection != nullptr; }
    void reloadKeymap();
    // Reads every event that has arrived or was queued while waiting for a reply; tells the handler about changes.
    void drainEvents();
    void queueNotification();
};

LinuxKeyCaptions::Impl::Impl(const QByteArray& displayName) {
    int screenNumber = 0;
    connection.reset(xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber));
    if (xcb_connection_has_error(connection.get())) {
        qCInfo(lcKeyCaptions) << "No X display; the on-screen keyboard has no captions from the layout";
        connection.reset();
        return;
    }
    xcb_connection_t* c = connection.get();
    std::uint8_t eventBase = 0;
    if (!xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &eventBase, nullptr)) {
        qCWarning(lcKeyCaptions) << "The X keyboard extension is missing; the on-screen keyboard has no captions";
        connection.reset();
        return;
    }
    xkbEventBase = eventBase;
    context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    deviceId = xkb_x11_get_core_keyboard_device_id(c);
    if (!context || deviceId < 0) {
        qCWarning(lcKeyCaptions) << "The core keyboard could not be found; the on-screen keyboard has no captions";
        connection.reset();
        return;
    }

    // Ask for notifications before the first read, so no change slips in between. Only the group and the locks
    // matter among the state changes: Shift going down on its own must not wake us on every key press.
    const std::uint16_t events =
        XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    const std::uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                   XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS |
                                   XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                   XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = XCB_XKB_STATE_PART_MODIFIER_LOCK | XCB_XKB_STATE_PART_GROUP_BASE |
                          XCB_XKB_STATE_PART_GROUP_LATCH | XCB_XKB_STATE_PART_GROUP_LOCK;
    details.stateDetails = details.affectState;
    xcb_xkb_select_events_aux(c, xcb_xkb_device_spec_t(deviceId), events, 0, 0, mapParts, mapParts, &details);

    // The layout names live in a root window property; setxkbmap rewrites it after loading the keymap.
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem; ++i) {
        xcb_screen_next(&screens);
    }
    root = screens.data ? screens.data->root : xcb_window_t(XCB_WINDOW_NONE);
    if (root != XCB_WINDOW_NONE) {
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    }
    const char rulesName[] = "_XKB_RULES_NAMES";
    std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof rulesName - 1, rulesName), nullptr));
    rulesAtom = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
    xcb_flush(c);

    notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] { drainEvents(); });
}

void LinuxKeyCaptions::Impl::reloadKeymap() {
    keymapStale = false;
    xcb_connection_t* c = connection.get();
    std::unique_ptr<xkb_keymap, KeymapUnref> keymap(
        xkb_x11_keymap_new_from_device(context.get(), c, deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS));
    lookup.setKeymap(keymap.get());
    if (!keymap) {
        qCWarning(lcKeyCaptions) << "The keyboard map could not be read; the on-screen keyboard has no captions";
        return;
    }
    std::unique_ptr<xkb_state, StateUnref> current(xkb_x11_state_new_from_device(keymap.get(), c, deviceId));
    group = current ? xkb_state_serialize_layout(current.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
}

void LinuxKeyCaptions::Impl::queueNotification() {
    changeNotice.queue(notifier.get());
}

void LinuxKeyCaptions::Impl::drainEvents() {
    xcb_connection_t* c = connection.get();
    if (!c) {
        return;
    }
    bool changed = false;
    while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
        std::unique_ptr<xcb_generic_event_t, FreeDeleter> event(raw);
        const std::uint8_t type = event->response_type & 0x7F;
        if (type == XCB_PROPERTY_NOTIFY) {
            const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
            changed = changed || property->atom == rulesAtom;
            continue;
        }
        if (type != xkbEventBase) {
            continue;
        }
        // Every XKB event carries its kind in the second byte.
        switch (reinterpret_cast<const std::uint8_t*>(event.get())[1]) {
        case XCB_XKB_NEW_KEYBOARD_NOTIFY:
        case XCB_XKB_MAP_NOTIFY:
            keymapStale = true;
            changed = true;
            break;
        case XCB_XKB_STATE_NOTIFY: {
            const auto* state = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event.get());
            group = state->group;
            changed = true;
            break;
        }
        default:
            break;
        }
    }
    if (xcb_connection_has_error(c)) {
        qCWarning(lcKeyCaptions) << "Lost the X display; the on-screen keyboard keeps its captions";
        notifier.reset();
        lookup.setKeymap(nullptr);
        connection.reset();
        return;
    }
    if (changed) {
        queueNotification();
    }
}

LinuxKeyCaptions::LinuxKeyCaptions(const QByteArray& displayName) : m_impl(std::make_unique<Impl>(displayName)) {}

LinuxKeyCaptions::~LinuxKeyCaptions() = default;

bool LinuxKeyCaptions::connected() const {
    return m_impl->connected();
}

void LinuxKeyCaptions::setChangeHandler(std::function<void()> handler) {
    m_impl->changeNotice.setHandler(std::move(handler));
}

QString LinuxKeyCaptions::keyText(PhysicalKey key, KeyLevel level) {
    Impl& d = *m_impl;
    if (!d.connected()) {
        return QString();
    }
    if (d.keymapStale) {
        d.reloadKeymap();
        // Waiting for the keymap's replies may have queued notifications the socket will not announce again.
        d.drainEvents();
    }
    return d.lookup.keyText(key, level, d.group);
}

} // namespace clavora::platform
