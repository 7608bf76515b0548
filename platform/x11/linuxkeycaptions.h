// Key captions on X11: the keyboard map of the X server's core keyboard through libxkbcommon.
#pragma once

#include "platform/keycaptions.h"

#include <QByteArray>

#include <memory>

namespace clavora::platform {

// Reads the keymap over a connection of its own and watches it through XKB notifications, which arrive through the
// GUI thread's event loop. Without a display every caption is empty and the handler is never called.
class LinuxKeyCaptions : public IKeyCaptions {
public:
    // Display name as for xcb_connect; empty means $DISPLAY.
    explicit LinuxKeyCaptions(const QByteArray& displayName = QByteArray());
    ~LinuxKeyCaptions() override;
    LinuxKeyCaptions(const LinuxKeyCaptions&) = delete;
    LinuxKeyCaptions& operator=(const LinuxKeyCaptions&) = delete;

    QString keyText(PhysicalKey key, KeyLevel level) override;
    void setChangeHandler(std::function<void()> handler) override;

    // Whether an X display with XKB was reached.
    bool connected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace clavora::platform
