// Thread priority on Linux.
#include "platform/posix/linuxthreadpriority.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QStringList>

#include <dbus/dbus.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <type_traits>

Q_LOGGING_CATEGORY(lcPriority, "clavora.platform.priority")

namespace clavora::platform {

namespace {

// The nice value asked for when real time is refused: what sound servers use for their own threads.
constexpr int RaisedNice = -11;
// rtkit refuses real time to processes without a CPU-time limit for real-time threads; a thread that runs this long
// without sleeping is stuck, and the limit stops it from freezing the machine.
constexpr rlim_t RealTimeCpuLimitUs = 200000;
constexpr int DBusTimeoutMs = 100;

struct ConnectionUnref {
    void operator()(DBusConnection* connection) const { dbus_connection_unref(connection); }
};
struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};

class DBusErrorHolder {
public:
    DBusErrorHolder() { dbus_error_init(&m_error); }
    ~DBusErrorHolder() { dbus_error_free(&m_error); }
    DBusErrorHolder(const DBusErrorHolder&) = delete;
    DBusErrorHolder& operator=(const DBusErrorHolder&) = delete;
    DBusError* get() { return &m_error; }
    QString text() const {
        return dbus_error_is_set(&m_error) ? QString::fromUtf8(m_error.message) : QStringLiteral("no answer");
    }

private:
    DBusError m_error;
};

pid_t threadId() {
    return pid_t(syscall(SYS_gettid));
}

// Calls one rtkit method for ThreadId with an argument of type ArgType (int or unsigned); empty on success, the
// reason otherwise.
template <class Argument> QString callRtkit(const char* method, pid_t thread, Argument value) {
    DBusErrorHolder error;
    // A private connection: the shared one may belong to other code with its own idea of threading.
    std::unique_ptr<DBusConnection, ConnectionUnref> bus(dbus_bus_get_private(DBUS_BUS_SYSTEM, error.get()));
    if (!bus) {
        return QStringLiteral("no system bus: ") + error.text();
    }
    dbus_connection_set_exit_on_disconnect(bus.get(), false);
    std::unique_ptr<DBusMessage, MessageUnref> call(dbus_message_new_method_call(
        "org.freedesktop.RealtimeKit1", "/org/freedesktop/RealtimeKit1", "org.freedesktop.RealtimeKit1", method));
    QString reason;
    if (call) {
        const dbus_uint64_t id = dbus_uint64_t(thread);
        const int type = std::is_signed_v<Argument> ? DBUS_TYPE_INT32 : DBUS_TYPE_UINT32;
        dbus_message_append_args(call.get(), DBUS_TYPE_UINT64, &id, type, &value, DBUS_TYPE_INVALID);
        std::unique_ptr<DBusMessage, MessageUnref> reply(
            dbus_connection_send_with_reply_and_block(bus.get(), call.get(), DBusTimeoutMs, error.get()));
        if (!reply) {
            reason = error.text();
        }
    } else {
        reason = QStringLiteral("out of memory");
    }
    dbus_connection_close(bus.get());
    return reason;
}

bool limitRealTimeCpu() {
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0) {
        return false;
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= RealTimeCpuLimitUs) {
        return true;
    }
    limit.rlim_cur = std::min<rlim_t>(RealTimeCpuLimitUs, limit.rlim_max);
    return setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

} // namespace

PriorityResult LinuxThreadPriority::raiseCurrentThread(const char* threadName, int realTimePriority) {
    return raiseThread(threadId(), threadName, realTimePriority);
}

qint64 LinuxThreadPriority::findThread(const QByteArray& name) {
    QDir tasks(QStringLiteral("/proc/self/task"));
    const QStringList ids = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& id : ids) {
        QFile comm(tasks.filePath(id + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name) {
            return id.toLongLong();
        }
    }
    return 0;
}

PriorityResult LinuxThreadPriority::raiseThread(qint64 threadId, const char* threadName, int realTimePriority) {
    PriorityResult result;
    const pid_t thread = pid_t(threadId);
    QStringList refusals;
    if (realTimePriority > 0) {
        rlimit limit{};
        getrlimit(RLIMIT_RTPRIO, &limit);
        sched_param parameter{};
        parameter.sched_priority = realTimePriority;
        // On Linux the scheduling class, like the nice value, belongs to the thread named by its id.
        const int error = sched_setscheduler(thread, SCHED_FIFO, &parameter) == 0 ? 0 : errno;
        if (error == 0) {
            const bool byLimit = limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= rlim_t(realTimePriority);
            result = {PriorityOutcome::RealTime,
                      QStringLiteral("SCHED_FIFO %1 (%2)")
                          .arg(realTimePriority)
                          .arg(byLimit ? QStringLiteral("RLIMIT_RTPRIO") : QStringLiteral("privileged process"))};
        } else {
            refusals << QStringLiteral("SCHED_FIFO: ") + QString::fromLocal8Bit(std::strerror(error));
            if (!limitRealTimeCpu()) {
                refusals << QStringLiteral("rtkit: RLIMIT_RTTIME cannot be set");
            } else {
                const QString reason = callRtkit("MakeThreadRealtime", thread, dbus_uint32_t(realTimePriority));
                if (reason.isEmpty()) {
                    result = {PriorityOutcome::RealTime, QStringLiteral("SCHED_RR %1 by rtkit").arg(realTimePriority)};
                } else {
                    refusals << QStringLiteral("rtkit real time: ") + reason;
                }
            }
        }
    }
    if (result.outcome == PriorityOutcome::Unchanged) {
        // On Linux the nice value belongs to the thread named by its id.
        if (setpriority(PRIO_PROCESS, id_t(thread), RaisedNice) == 0) {
            result = {PriorityOutcome::Raised, QStringLiteral("nice %1").arg(RaisedNice)};
        } else {
            refusals << QStringLiteral("nice: ") + QString::fromLocal8Bit(std::strerror(errno));
            const QString reason = callRtkit("MakeThreadHighPriority", thread, dbus_int32_t(RaisedNice));
            if (reason.isEmpty()) {
                result = {PriorityOutcome::Raised, QStringLiteral("nice %1 by rtkit").arg(RaisedNice)};
            } else {
                refusals << QStringLiteral("rtkit nice: ") + reason;
            }
        }
    }
    if (result.outcome == PriorityOutcome::Unchanged) {
        result.detail = refusals.join(QStringLiteral("; "));
        qCInfo(lcPriority).noquote() << threadName << "runs at normal priority:" << result.detail;
    } else {
        qCInfo(lcPriority).noquote() << threadName << "runs at" << result.detail;
    }
    return result;
}

} // namespace clavora::platform
