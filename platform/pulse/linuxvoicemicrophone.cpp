// The virtual microphone on Linux.
#include "platform/pulse/linuxvoicemicrophone.h"

#include <QLoggingCategory>
#include <QRegularExpression>

#include <pulse/pulseaudio.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <memory>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcVoice, "clavora.platform.voice")

namespace clavora::platform {

namespace {

// The server answers within milliseconds; a hung one must not hang the window for long.
constexpr std::chrono::milliseconds ServerTimeout{2000};
// Low enough for speech and sounds to line up in a call, high enough not to crackle on a busy machine.
constexpr int LoopbackLatencyMs = 20;

struct MainloopFree {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct ContextFree {
    void operator()(pa_context* context) const {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
struct OperationFree {
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};

// One connection to the server, driven synchronously from the calling thread.
class PulseSession {
public:
    PulseSession() : m_loop(pa_mainloop_new()) {
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Clavora");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "com.zemtrak.clavora");
        m_context.reset(pa_context_new_with_proplist(pa_mainloop_get_api(m_loop.get()), "Clavora", props));
        pa_proplist_free(props);
        if (!m_context || pa_context_connect(m_context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + ServerTimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const pa_context_state_t state = pa_context_get_state(m_context.get());
            if (state == PA_CONTEXT_READY) {
                m_ready = true;
                return;
            }
            if (!PA_CONTEXT_IS_GOOD(state)) {
                return;
            }
            iterate();
        }
    }

    bool ready() const { return m_ready; }
    pa_context* context() const { return m_context.get(); }
    QString lastError() const {
        return QString::fromUtf8(pa_strerror(m_context ? pa_context_errno(m_context.get()) : PA_ERR_CONNECTIONREFUSED));
    }

    // Runs the server's answer to an operation through its callback. False when it did not finish in time.
    bool wait(pa_operation* raw) {
        if (raw == nullptr) {
            return false;
        }
        std::unique_ptr<pa_operation, OperationFree> operation(raw);
        const auto deadline = std::chrono::steady_clock::now() + ServerTimeout;
        while (pa_operation_get_state(operation.get()) == PA_OPERATION_RUNNING) {
            if (std::chrono::steady_clock::now() >= deadline || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context()))) {
                pa_operation_cancel(operation.get());
                return false;
            }
            iterate();
        }
        return pa_operation_get_state(operation.get()) == PA_OPERATION_DONE;
    }

    // Loads a module; its index, or PA_INVALID_INDEX.
    quint32 loadModule(const char* name, const QString& arguments) {
        quint32 index = PA_INVALID_INDEX;
        const QByteArray args = arguments.toUtf8();
        wait(pa_context_load_module(
            context(), name, args.constData(),
            [](pa_context*, uint32_t loaded, void* user) { *static_cast<quint32*>(user) = loaded; }, &index));
        return index;
    }

    bool unloadModule(quint32 index) {
        bool ok = false;
        wait(pa_context_unload_module(
            context(), index, [](pa_context*, int success, void* user) { *static_cast<bool*>(user) = success != 0; },
            &ok));
        return ok;
    }

    struct Module {
        quint32 index;
        QString argument;
    };
    QList<Module> modules() {
        QList<Module> found;
        wait(pa_context_get_module_info_list(
            context(),
            [](pa_context*, const pa_module_info* info, int eol, void* user) {
                if (eol == 0 && info != nullptr) {
                    static_cast<QList<Module>*>(user)->append(
                        Module{info->index, QString::fromUtf8(info->argument ? info->argument : "")});
                }
            },
            &found));
        return found;
    }

    QString defaultSourceName() {
        QString name;
        wait(pa_context_get_server_info(
            context(),
            [](pa_context*, const pa_server_info* info, void* user) {
                if (info != nullptr && info->default_source_name != nullptr) {
                    *static_cast<QString*>(user) = QString::fromUtf8(info->default_source_name);
                }
            },
            &name));
        return name;
    }

    // The index of a sink, or PA_INVALID_INDEX.
    quint32 sinkIndex(const QString& sink) {
        quint32 index = PA_INVALID_INDEX;
        const QByteArray name = sink.toUtf8();
        wait(pa_context_get_sink_info_by_name(
            context(), name.constData(),
            [](pa_context*, const pa_sink_info* info, int eol, void* user) {
                if (eol == 0 && info != nullptr) {
                    *static_cast<quint32*>(user) = info->index;
                }
            },
            &index));
        return index;
    }

    // The process ids of the streams that play into a sink.
    QList<qint64> playbackProcesses(quint32 sink) {
        struct Query {
            quint32 sink;
            QList<qint64> processes;
        } query{sink, {}};
        wait(pa_context_get_sink_input_info_list(
            context(),
            [](pa_context*, const pa_sink_input_info* info, int eol, void* user) {
                auto* asked = static_cast<Query*>(user);
                if (eol == 0 && info != nullptr && info->sink == asked->sink) {
                    const char* process = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
                    asked->processes << (process != nullptr ? QByteArray(process).toLongLong() : 0);
                }
            },
            &query));
        return query.processes;
    }

    bool sinkExists(const QString& sink) {
        bool exists = false;
        const QByteArray name = sink.toUtf8();
        wait(pa_context_get_sink_info_by_name(
            context(), name.constData(),
            [](pa_context*, const pa_sink_info* info, int eol, void* user) {
                if (eol == 0 && info != nullptr) {
                    *static_cast<bool*>(user) = true;
                }
            },
            &exists));
        return exists;
    }

    // Whether the source carries a sink's output rather than a microphone.
    bool isMonitor(const QString& source) {
        bool monitor = false;
        const QByteArray name = source.toUtf8();
        wait(pa_context_get_source_info_by_name(
            context(), name.constData(),
            [](pa_context*, const pa_source_info* info, int eol, void* user) {
                if (eol == 0 && info != nullptr) {
                    *static_cast<bool*>(user) = info->monitor_of_sink != PA_INVALID_INDEX;
                }
            },
            &monitor));
        return monitor;
    }

private:
    void iterate() {
        // A short poll, so the deadlines above are kept even when the server says nothing.
        if (pa_mainloop_prepare(m_loop.get(), 50 * 1000) < 0 || pa_mainloop_poll(m_loop.get()) < 0) {
            return;
        }
        pa_mainloop_dispatch(m_loop.get());
    }

    std::unique_ptr<pa_mainloop, MainloopFree> m_loop;
    std::unique_ptr<pa_context, ContextFree> m_context;
    bool m_ready = false;
};

// The owner a module of ours is marked with; 0 when it is not ours.
qint64 ownerOf(const QString& argument) {
    static const QRegularExpression mark(QRegularExpression::escape(VoiceOwnerProperty) + QStringLiteral("='(\\d+)'"));
    const QRegularExpressionMatch match = mark.match(argument);
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

bool processRunning(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

} // namespace

LinuxVoiceMicrophone::LinuxVoiceMicrophone(qint64 ownerPid) : m_ownerPid(ownerPid != 0 ? ownerPid : ::getpid()) {}

LinuxVoiceMicrophone::~LinuxVoiceMicrophone() {
    remove();
}

bool LinuxVoiceMicrophone::serverReachable() {
    return PulseSession().ready();
}

int LinuxVoiceMicrophone::removeLeftovers() {
    PulseSession session;
    if (!session.ready()) {
        return 0;
    }
    int removed = 0;
    const QList<PulseSession::Module> modules = session.modules();
    // Newest first: the loopback and the microphone go before the sink they hang on.
    for (auto it = modules.crbegin(); it != modules.crend(); ++it) {
        const qint64 owner = ownerOf(it->argument);
        if (owner == 0 || owner == m_ownerPid || processRunning(owner)) {
            continue;
        }
        // A module may already be gone with the sink it hung on.
        if (session.unloadModule(it->index)) {
            qCInfo(lcVoice) << "Removed module" << it->index << "left by process" << owner;
            ++removed;
        }
    }
    return removed;
}

Status LinuxVoiceMicrophone::create() {
    if (isCreated()) {
        return Status::success();
    }
    PulseSession session;
    if (!session.ready()) {
        return Status::failure(QStringLiteral("Cannot reach the sound server to make \"%1\". %2")
                                   .arg(VoiceMicrophoneName, session.lastError()));
    }
    // Another Clavora that runs made it already: play into that one (the call program knows only one by the name),
    // and leave it to its maker to take away.
    if (session.sinkExists(VoiceMixSinkName)) {
        qCInfo(lcVoice) << VoiceMicrophoneName << "exists already; sharing it";
        m_shared = true;
        return Status::success();
    }
    const QString owner = QStringLiteral("%1='%2'").arg(VoiceOwnerProperty).arg(m_ownerPid);
    const auto load = [&](const char* module, const QString& arguments) {
        const quint32 index = session.loadModule(module, arguments);
        if (index != PA_INVALID_INDEX) {
            m_modules.append(index);
        }
        return index != PA_INVALID_INDEX;
    };
    const QString microphone = session.defaultSourceName();
    bool made = load("module-null-sink", QStringLiteral("sink_name=%1 sink_properties=\"device.description='%2' %3\"")
                                             .arg(VoiceMixSinkName, VoiceMixDescription, owner)) &&
                load("module-remap-source",
                     QStringLiteral("source_name=%1 master=%2.monitor source_properties=\"device.description='%3' %4\"")
                         .arg(VoiceSourceName, VoiceMixSinkName, VoiceMicrophoneName, owner));
    // The user's voice joins the mix. A monitor as the default source would feed the speakers' output (our own
    // sounds among it) back in, and our own microphone would feed the mix into itself.
    if (made && !microphone.isEmpty() && microphone != VoiceSourceName && !session.isMonitor(microphone)) {
        made = load("module-loopback",
                    QStringLiteral("source=%1 sink=%2 latency_msec=%3 source_dont_move=true sink_dont_move=true "
                                   "sink_input_properties=\"media.name='Microphone' %4\" "
                                   "source_output_properties=\"media.name='Microphone' %4\"")
                        .arg(microphone, VoiceMixSinkName)
                        .arg(LoopbackLatencyMs)
                        .arg(owner));
    } else if (made) {
        qCInfo(lcVoice) << "No microphone to mix in; default source" << microphone;
    }
    if (!made) {
        const QString reason = session.lastError();
        for (auto it = m_modules.crbegin(); it != m_modules.crend(); ++it) {
            session.unloadModule(*it);
        }
        m_modules.clear();
        return Status::failure(QStringLiteral("Cannot make \"%1\". %2").arg(VoiceMicrophoneName, reason));
    }
    qCInfo(lcVoice) << "Made" << VoiceMicrophoneName << "with modules" << m_modules;
    return Status::success();
}

void LinuxVoiceMicrophone::remove() {
    m_shared = false;
    if (m_modules.isEmpty()) {
        return;
    }
    PulseSession session;
    if (session.ready()) {
        for (auto it = m_modules.crbegin(); it != m_modules.crend(); ++it) {
            session.unloadModule(*it);
        }
    }
    m_modules.clear();
}

QString LinuxVoiceMicrophone::mixDeviceName() const {
    return isCreated() ? VoiceMixDescription : QString();
}

namespace {

class SinkVariable : public IHeld {
public:
    explicit SinkVariable(const QByteArray& sink)
        : m_wasSet(qEnvironmentVariableIsSet("PULSE_SINK")), m_previous(qgetenv("PULSE_SINK")) {
        qputenv("PULSE_SINK", sink);
    }
    ~SinkVariable() override {
        if (m_wasSet) {
            qputenv("PULSE_SINK", m_previous);
        } else {
            qunsetenv("PULSE_SINK");
        }
    }

private:
    bool m_wasSet;
    QByteArray m_previous;
};

} // namespace

std::unique_ptr<IHeld> LinuxVoiceMicrophone::steerDefaultOutputToMix() {
    if (!isCreated()) {
        return nullptr;
    }
    return std::make_unique<SinkVariable>(VoiceMixSinkName.toUtf8());
}

bool LinuxVoiceMicrophone::mixHasOurPlayback() {
    PulseSession session;
    if (!session.ready()) {
        return false;
    }
    const quint32 sink = session.sinkIndex(VoiceMixSinkName);
    return sink != PA_INVALID_INDEX && session.playbackProcesses(sink).contains(::getpid());
}

} // namespace clavora::platform
