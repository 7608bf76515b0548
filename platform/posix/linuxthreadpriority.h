// Thread priority on Linux.
#pragma once

#include "platform/threadpriority.h"

namespace clavora::platform {

// In order: SCHED_FIFO directly (allowed by RLIMIT_RTPRIO or the process's capabilities), SCHED_FIFO through rtkit
// on the system bus (the desktop's usual route for unprivileged users), a lower nice value directly (RLIMIT_NICE),
// a lower nice value through rtkit. The first that is granted wins; the outcome is logged.
class LinuxThreadPriority : public IThreadPriority {
public:
    PriorityResult raiseCurrentThread(const char* threadName, int realTimePriority) override;
    PriorityResult raiseThread(qint64 threadId, const char* threadName, int realTimePriority) override;
    // Looks through /proc/self/task.
    qint64 findThread(const QByteArray& name) override;
};

} // namespace clavora::platform
