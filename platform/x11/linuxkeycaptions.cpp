// Key captions on X11.
//
// The keymap is compiled once per change of the server's keyboard and kept; a caption is then a local look-up in a
// state built from the wanted modifiers and the active group. XKB tells us about changes on our own connection, whose
// socket the event loop watches, so nothing polls.
#include "platform/x11/linuxkeycaptions.h"

#include "platform/x11/evdevkeys.h"

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

// The spacing character a dead key is labelled with.
char32_t spacingFormOfDeadKey(xkb_keysym_t symbol) {
    switch (symbol) {
    case XKB_KEY_dead_grave:
        return U'`';
    case XKB_KEY_dead_acute:
        return U'\u00B4';
    case XKB_KEY_dead_circumflex:
        return U'^';
    case XKB_KEY_dead_tilde:
        return U'~';
    case XKB_KEY_dead_macron:
        return U'\u00AF';
    case XKB_KEY_dead_breve:
        return U'\u02D8';
    case XKB_KEY_dead_abovedot:
        return U'\u02D9';
    case XKB_KEY_dead_diaeresis:
        return U'\u00A8';
    case XKB_KEY_dead_abovering:
        return U'\u02DA';
    case XKB_KEY_dead_doubleacute:
        return U'\u02DD';
    case XKB_KEY_dead_caron:
        return U'\u02C7';
    case XKB_KEY_dead_cedilla:
        return U'\u00B8';
    case XKB_KEY_dead_ogonek:
        return U'\u02DB';
    case XKB_KEY_dead_iota:
        return U'\u037A';
    case XKB_KEY_dead_belowdot:
        return U'.';
    case XKB_KEY_dead_hook:
        return U'\u02C0';
    case XKB_KEY_dead_horn:
        return U'\u031B';
    case XKB_KEY_dead_stroke:
        return U'/';
    case XKB_KEY_dead_greek:
        return U'\u00B5';
    default:
        return 0;
    }
}

bool isVisible(const QString& text) {
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control) {
            return false;
        }
    }
    return !text.isEmpty();
}

} // namespace

struct LinuxKeyCaptions::Impl {
    std::unique_ptr<xcb_connection_t, ConnectionCloser> connection;
    std::unique_ptr<xkb_context, ContextUnref> context;
    std::unique_ptr<xkb_keymap, KeymapUnref> keymap;
    std::unique_ptr<xkb_state, StateUnref> lookup;
    std::unique_ptr<QSocketNotifier> notifier;
    std::function<void()> handler;
    std::int32_t deviceId = -1;
    std::uint8_t xkbEventBase = 0;
    xcb_atom_t rulesAtom = XCB_ATOM_NONE;
    xcb_window_t root = XCB_WINDOW_NONE;

    bool keymapStale = true;
    bool notifyQueued = false;
    xkb_layout_index_t group = 0;
    xkb_mod_mask_t shiftMask = 0;
    xkb_mod_mask_t lockMask = 0;
    xkb_mod_mask_t levelThreeMask = 0;
    xkb_mod_mask_t numLockMask = 0;

    explicit Impl(const QByteArray& displayName);
    bool connected() const { return connection != nullptr; }
    void reloadKeymap();
    xkb_mod_mask_t maskOfKeysym(xkb_keysym_t wanted) const;
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

xkb_mod_mask_t LinuxKeyCaptions::Impl::maskOfKeysym(xkb_keysym_t wanted) const {
    // The modifier a key sets, found by pressing it in a scratch state: the only way that also sees the virtual
    // modifier mapping the server compiled in (AltGr may be Mod5 or anything else).
    xkb_keymap* map = keymap.get();
    const xkb_keycode_t last = xkb_keymap_max_keycode(map);
    for (xkb_keycode_t keycode = xkb_keymap_min_keycode(map); keycode <= last; ++keycode) {
        const xkb_keysym_t* symbols = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(map, keycode, 0, 0, &symbols);
        if (count < 1 || symbols[0] != wanted) {
            continue;
        }
        std::unique_ptr<xkb_state, StateUnref> scratch(xkb_state_new(map));
        if (!scratch) {
            return 0;
        }
        xkb_state_update_key(scratch.get(), keycode, XKB_KEY_DOWN);
        const xkb_mod_mask_t mask = xkb_state_serialize_mods(scratch.get(), XKB_STATE_MODS_EFFECTIVE);
        if (mask != 0) {
            return mask;
        }
    }
    return 0;
}

void LinuxKeyCaptions::Impl::reloadKeymap() {
    keymapStale = false;
    xcb_connection_t* c = connection.get();
    keymap.reset(xkb_x11_keymap_new_from_device(context.get(), c, deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS));
    lookup.reset();
    if (!keymap) {
        qCWarning(lcKeyCaptions) << "The keyboard map could not be read; the on-screen keyboard has no captions";
        return;
    }
    std::unique_ptr<xkb_state, StateUnref> current(xkb_x11_state_new_from_device(keymap.get(), c, deviceId));
    group = current ? xkb_state_serialize_layout(current.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
    lookup.reset(xkb_state_new(keymap.get()));

    const auto maskOf = [&](const char* name) -> xkb_mod_mask_t {
        const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap.get(), name);
        return index == XKB_MOD_INVALID ? 0 : xkb_mod_mask_t(1) << index;
    };
    shiftMask = maskOf(XKB_MOD_NAME_SHIFT);
    lockMask = maskOf(XKB_MOD_NAME_CAPS);
    levelThreeMask = maskOfKeysym(XKB_KEY_ISO_Level3_Shift);
    if (levelThreeMask == 0) {
        levelThreeMask = maskOf("Mod5");
    }
    numLockMask = maskOfKeysym(XKB_KEY_Num_Lock);
    if (numLockMask == 0) {
        numLockMask = maskOf(XKB_MOD_NAME_NUM);
    }
}

void LinuxKeyCaptions::Impl::queueNotification() {
    if (notifyQueued || !notifier) {
        return;
    }
    notifyQueued = true;
    QMetaObject::invokeMethod(
        notifier.get(),
        [this] {
            notifyQueued = false;
            if (handler) {
                handler();
            }
        },
        Qt::QueuedConnection);
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
        keymap.reset();
        lookup.reset();
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
    m_impl->handler = std::move(handler);
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
    const int keycode = xKeycodeOf(key);
    if (!d.lookup || keycode == 0) {
        return QString();
    }
    xkb_mod_mask_t depressed = 0;
    if (level.shift) {
        depressed |= d.shiftMask;
    }
    if (level.altGr) {
        depressed |= d.levelThreeMask;
    }
    xkb_mod_mask_t locked = d.numLockMask;
    if (level.capsLock) {
        locked |= d.lockMask;
    }
    xkb_state_update_mask(d.lookup.get(), depressed, 0, locked, 0, 0, d.group);

    char buffer[64] = {};
    const int length = xkb_state_key_get_utf8(d.lookup.get(), xkb_keycode_t(keycode), buffer, sizeof buffer);
    QString text = length > 0 ? QString::fromUtf8(buffer, std::min<int>(length, int(sizeof buffer) - 1)) : QString();
    if (text.isEmpty()) {
        const char32_t spacing = spacingFormOfDeadKey(xkb_state_key_get_one_sym(d.lookup.get(), keycode));
        if (spacing != 0) {
            text = QString::fromUcs4(&spacing, 1);
        }
    }
    return isVisible(text) ? text : QString();
}

} // namespace clavora::platform
