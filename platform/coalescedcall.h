// A change told once, however often it happens before the event loop gets to it.
#pragma once

#include <QMetaObject>
#include <QObject>

#include <functional>

namespace clavora::platform {

// The first queue() posts one call of the handler to Context's thread; later ones add nothing until it has run. The
// call is dropped with Context, so an owner that destroys Context first may go away with a call still posted.
class CoalescedCall {
public:
    void setHandler(std::function<void()> handler) { m_handler = std::move(handler); }

    // Nothing without a context (the source of changes is closed).
    void queue(QObject* context) {
        if (m_queued || context == nullptr) {
            return;
        }
        m_queued = true;
        QMetaObject::invokeMethod(
            context,
            [this] {
                m_queued = false;
                if (m_handler) {
                    m_handler();
                }
            },
            Qt::QueuedConnection);
    }

private:
    std::function<void()> m_handler;
    bool m_queued = false;
};

} // namespace clavora::platform
