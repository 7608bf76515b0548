// Work the user waits for in a modal window, a feedback being sent say. While any is in progress, a box that would
// open by itself (the update check's message) waits for it, and an end of the program (the system's end request,
// the session ending) is held back until the work has returned or given up. GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <utility>
#include <vector>

class QCoreApplication;

namespace clavora::online {

class ModalWork : public QObject {
    Q_OBJECT
public:
    // The program's one record of modal work.
    static ModalWork& instance();

    bool inProgress() const { return m_count > 0; }

    // Runs Action at once when no work is in progress; otherwise from the event loop once the last work has ended,
    // in the order they came, and only while Context lives.
    void whenIdle(QObject* context, std::function<void()> action);

    // From here on App's end waits for the work in progress, then comes in place of whatever was waiting with it.
    void holdEndRequests(QCoreApplication& app);
    // True from an end request held back until the program ends.
    bool isEndRequested() const { return m_endRequested; }

    // What a piece of work holds back: the boxes only (the work can be ended with the program, like a box that
    // tells its outcome), or the end of the program as well (a request that is under way).
    enum class Holds { Boxes, BoxesAndEnd };

    // Marks work in progress for its lifetime.
    class Scope {
    public:
        explicit Scope(Holds holds = Holds::BoxesAndEnd);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Holds m_holds;
    };

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ModalWork() = default;
    void begin(Holds holds);
    void end(Holds holds);
    void runDeferred();

    int m_count = 0;
    int m_endHolds = 0; // the part of m_count that holds the end back
    bool m_holdingEnd = false;
    bool m_endRequested = false;
    bool m_runQueued = false;
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> m_deferred;
};

} // namespace clavora::online
