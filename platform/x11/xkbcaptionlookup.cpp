// Key captions from a compiled XKB keymap.
#include "platform/x11/xkbcaptionlookup.h"

#include "platform/x11/evdevkeys.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>

namespace clavora::platform {

namespace {

struct KeymapUnref {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateUnref {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
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

xkb_mod_mask_t maskOfKeysym(xkb_keymap* map, xkb_keysym_t wanted) {
    // The modifier a key sets, found by pressing it in a scratch state: the only way that also sees the virtual
    // modifier mapping the keymap was compiled with (AltGr may be Mod5 or anything else).
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

} // namespace

struct XkbCaptionLookup::Impl {
    std::unique_ptr<xkb_keymap, KeymapUnref> keymap;
    std::unique_ptr<xkb_state, StateUnref> lookup;
    xkb_mod_mask_t shiftMask = 0;
    xkb_mod_mask_t lockMask = 0;
    xkb_mod_mask_t levelThreeMask = 0;
    xkb_mod_mask_t numLockMask = 0;
};

XkbCaptionLookup::XkbCaptionLookup() : m_impl(std::make_unique<Impl>()) {}

XkbCaptionLookup::~XkbCaptionLookup() = default;

xkb_keymap* XkbCaptionLookup::keymap() const {
    return m_impl->keymap.get();
}

void XkbCaptionLookup::setKeymap(xkb_keymap* keymap) {
    Impl& d = *m_impl;
    d.lookup.reset();
    d.keymap.reset(keymap ? xkb_keymap_ref(keymap) : nullptr);
    if (!keymap) {
        return;
    }
    d.lookup.reset(xkb_state_new(keymap));
    const auto maskOf = [&](const char* name) -> xkb_mod_mask_t {
        const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
        return index == XKB_MOD_INVALID ? 0 : xkb_mod_mask_t(1) << index;
    };
    d.shiftMask = maskOf(XKB_MOD_NAME_SHIFT);
    d.lockMask = maskOf(XKB_MOD_NAME_CAPS);
    d.levelThreeMask = maskOfKeysym(keymap, XKB_KEY_ISO_Level3_Shift);
    if (d.levelThreeMask == 0) {
        d.levelThreeMask = maskOf("Mod5");
    }
    d.numLockMask = maskOfKeysym(keymap, XKB_KEY_Num_Lock);
    if (d.numLockMask == 0) {
        d.numLockMask = maskOf(XKB_MOD_NAME_NUM);
    }
}

QString XkbCaptionLookup::keyText(PhysicalKey key, KeyLevel level, unsigned group) {
    Impl& d = *m_impl;
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
    xkb_state_update_mask(d.lookup.get(), depressed, 0, locked, 0, 0, group);

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

QString xkbLayoutName(xkb_keymap* keymap, unsigned group) {
    if (!keymap || group >= xkb_keymap_num_layouts(keymap)) {
        return QString();
    }
    return QString::fromUtf8(xkb_keymap_layout_get_name(keymap, group));
}

} // namespace clavora::platform
