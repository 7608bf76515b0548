// Keeps a drop-down menu from opening again at once when the click that closed it landed on its own button.
#pragma once

#include <QtGlobal>

namespace clavora::about {

class PopupReopenGuard {
public:
    // A click on the opener this soon after its menu closed is the click that closed it.
    static constexpr quint32 GuardMs = 100;

    // Whether a click on Opener should open Menu at NowMs (a millisecond tick count that may wrap). A refusal also
    // forgets the closed menu, so the next click opens it.
    bool mayOpen(const void* opener, const void* menu, quint32 nowMs);
    // Menu, opened from Opener, closed at NowMs.
    void closed(const void* opener, const void* menu, quint32 nowMs);

private:
    const void* m_opener = nullptr;
    const void* m_menu = nullptr;
    quint32 m_closedAt = 0;
};

} // namespace clavora::about
