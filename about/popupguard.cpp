// The reopen guard of the About dialog's drop-down menu.
#include "about/popupguard.h"

namespace clavora::about {

bool PopupReopenGuard::mayOpen(const void* opener, const void* menu, quint32 nowMs) {
    if (opener && opener == m_opener && menu == m_menu && quint32(nowMs - m_closedAt) < GuardMs) {
        m_opener = nullptr;
        m_menu = nullptr;
        return false;
    }
    return true;
}

void PopupReopenGuard::closed(const void* opener, const void* menu, quint32 nowMs) {
    m_opener = opener;
    m_menu = menu;
    m_closedAt = nowMs;
}

} // namespace clavora::about
