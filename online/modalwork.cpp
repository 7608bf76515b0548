// The record of modal work.
#include "online/modalwork.h"

#include <QCoreApplication>
#include <QEvent>

namespace clavora::online {

ModalWork& ModalWork::instance() {
    static ModalWork* work = new ModalWork; // lives as long as the process: the event filter may outlast main()
    return *work;
}

void ModalWork::whenIdle(QObject* context, std::function<void()> action) {
    if (!inProgress() && m_deferred.empty()) {
        action();
        return;
    }
    m_deferred.emplace_back(context, std::move(action));
}

void ModalWork::holdEndRequests(QCoreApplication& app) {
    if (!m_holdingEnd) {
        m_holdingEnd = true;
        app.installEventFilter(this);
    }
}

bool ModalWork::eventFilter(QObject* watched, QEvent* event) {
    // Every way of ending the application comes to it as Quit; the windows would be asked to close, and the one
    // that is busy would refuse, so the end would be lost.
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance() && m_endHolds > 0) {
        m_endRequested = true;
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

ModalWork::Scope::Scope(Holds holds) : m_holds(holds) {
    instance().begin(holds);
}

ModalWork::Scope::~Scope() {
    instance().end(m_holds);
}

void ModalWork::begin(Holds holds) {
    ++m_count;
    if (holds == Holds::BoxesAndEnd) {
        ++m_endHolds;
    }
}

void ModalWork::end(Holds holds) {
    --m_count;
    if (holds == Holds::BoxesAndEnd) {
        --m_endHolds;
    }
    const bool endDue = m_endRequested && m_endHolds == 0;
    const bool boxesDue = m_count == 0 && !m_deferred.empty();
    if ((endDue || boxesDue) && !m_runQueued) {
        // From the event loop: the work's own reaction to its end comes first.
        m_runQueued = true;
        QMetaObject::invokeMethod(this, &ModalWork::runDeferred, Qt::QueuedConnection);
    }
}

void ModalWork::runDeferred() {
    m_runQueued = false;
    if (m_endRequested && m_endHolds == 0) {
        // The program ends: what waited for the work would open only to be closed.
        m_deferred.clear();
        m_endRequested = false;
        QCoreApplication::quit();
        return;
    }
    while (!inProgress() && !m_deferred.empty()) {
        auto [context, action] = std::move(m_deferred.front());
        m_deferred.erase(m_deferred.begin());
        if (context) {
            action();
        }
    }
}

} // namespace clavora::online
