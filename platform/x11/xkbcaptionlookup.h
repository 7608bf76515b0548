// Key captions from a compiled XKB keymap: what a key types at a level of one layout group. The keymap may come from
// the X server or from a Wayland compositor; the look-up is the same.
#pragma once

#include "platform/keycaptions.h"

#include <QString>

#include <memory>

struct xkb_keymap;
struct xkb_state;

namespace clavora::platform {

class XkbCaptionLookup {
public:
    XkbCaptionLookup();
    ~XkbCaptionLookup();
    XkbCaptionLookup(const XkbCaptionLookup&) = delete;
    XkbCaptionLookup& operator=(const XkbCaptionLookup&) = delete;

    // Looks keys up in Keymap from now on (a reference is taken; null forgets the keymap).
    void setKeymap(xkb_keymap* keymap);
    xkb_keymap* keymap() const;

    // The text of `key` in layout group Group with Level, as IKeyCaptions::keyText answers it; empty without a keymap.
    QString keyText(PhysicalKey key, KeyLevel level, unsigned group);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The human-readable name of layout group Group of Keymap ("German"), empty when the keymap names none.
QString xkbLayoutName(xkb_keymap* keymap, unsigned group);

} // namespace clavora::platform
