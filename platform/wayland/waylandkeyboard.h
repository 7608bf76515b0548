// The keyboard on a Wayland compositor: its keymap, the layout's locale and the key captions, through a connection
// of our own (libwayland-client) and libxkbcommon. A Wayland client sees no keys outside its own windows, so nothing
// here reads which keys are down or watches them; those stay with platform/dummy.
#pragma once

#include "platform/keyboard.h"
#include "platform/keycaptions.h"

#include <QByteArray>

#include <functional>
#include <memory>

struct xkb_keymap;

namespace clavora::platform {

// True when a Wayland compositor answers at the socket DisplayName (empty: $WAYLAND_DISPLAY). Connects and hangs up.
bool waylandDisplayReachable(const QByteArray& displayName);

// The keymap the compositor hands its clients for the seat's keyboard, kept current as it sends new ones (a layout
// switched in the desktop's settings). The connection's socket is watched by the GUI thread's event loop, so nothing
// polls. A seat without a keyboard yet gets the keymap the XKB defaults give ($XKB_DEFAULT_LAYOUT and the rest), which
// is what the compositor gives a keyboard when nothing is configured. Keymaps that name no layout (those of virtual
// keyboards of typing tools, made for the few keys they type) are not taken: they are no layout of the user's.
class WaylandKeymap {
public:
    // Display name as for wl_display_connect; empty means $WAYLAND_DISPLAY.
    explicit WaylandKeymap(const QByteArray& displayName = QByteArray());
    ~WaylandKeymap();
    WaylandKeymap(const WaylandKeymap&) = delete;
    WaylandKeymap& operator=(const WaylandKeymap&) = delete;

    // Whether the compositor was reached.
    bool connected() const;
    // The keymap in use; null only when not even the defaults compile.
    xkb_keymap* keymap() const;
    // Whether it is the compositor's own (not the defaults').
    bool fromCompositor() const;
    // The active layout group, as far as the compositor tells us.
    unsigned group() const;
    // Handler runs on the GUI thread, from the event loop, after another keymap or group was taken; a new one
    // replaces the previous one, an empty one stops the calls.
    void setChangeHandler(std::function<void()> handler);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// IKeyboard on Wayland: every key reads as up; the locale is that of the keymap's active layout.
class WaylandKeyboard : public IKeyboard {
public:
    explicit WaylandKeyboard(WaylandKeymap& keymap) : m_keymap(keymap) {}

    KeyStateSnapshot snapshot() override { return KeyStateSnapshot(); }
    QString keyboardLocaleName() override;

private:
    WaylandKeymap& m_keymap;
};

// IKeyCaptions on Wayland, from the compositor's keymap.
class WaylandKeyCaptions : public IKeyCaptions {
public:
    explicit WaylandKeyCaptions(WaylandKeymap& keymap);
    ~WaylandKeyCaptions() override;
    WaylandKeyCaptions(const WaylandKeyCaptions&) = delete;
    WaylandKeyCaptions& operator=(const WaylandKeyCaptions&) = delete;

    QString keyText(PhysicalKey key, KeyLevel level) override;
    void setChangeHandler(std::function<void()> handler) override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace clavora::platform
