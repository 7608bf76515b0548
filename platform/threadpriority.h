// Raised scheduling priority for the threads that keep sound flowing (the audio device's callback, the decoder),
// so a busy machine does not starve them into dropouts. Whatever the system refuses, the thread runs on as it was.
#pragma once

#include <QByteArray>
#include <QString>

namespace clavora::platform {

enum class PriorityOutcome {
    RealTime, // a real-time scheduling class (SCHED_FIFO or SCHED_RR)
    Raised,   // a higher share of the ordinary scheduler (a lower nice value)
    Unchanged,
};

struct PriorityResult {
    PriorityOutcome outcome = PriorityOutcome::Unchanged;
    // What was granted or why nothing was ("SCHED_FIFO 10 by RLIMIT_RTPRIO", "rtkit: access denied"...), for the log.
    QString detail;
};

class IThreadPriority {
public:
    virtual ~IThreadPriority() = default;

    // Asks for real-time priority RealTimePriority (1 to 99, low numbers suffice) for the calling thread, and for a
    // raised one if that is refused or RealTimePriority is 0. ThreadName names the thread in the log. Callable from
    // any thread, once when the thread starts (it may wait up to a few tens of milliseconds for the system's answer);
    // thread-safe.
    virtual PriorityResult raiseCurrentThread(const char* threadName, int realTimePriority) = 0;

    // As raiseCurrentThread(), for the thread of this process whose id is ThreadId (see findThread()), asked from
    // another thread: a thread that must never wait (an audio callback) is raised by one that may. Thread-safe.
    virtual PriorityResult raiseThread(qint64 threadId, const char* threadName, int realTimePriority) = 0;

    // The id of a thread of this process named Name (as the system keeps thread names: at most 15 bytes), or 0 when
    // none is. Reads no more than the process's own thread list; thread-safe.
    virtual qint64 findThread(const QByteArray& name) = 0;
};

} // namespace clavora::platform
