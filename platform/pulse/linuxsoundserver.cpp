// The sound server on Linux, asked through libpulse: PulseAudio itself, or PipeWire through its PulseAudio interface
// (which names itself "PulseAudio (on PipeWire x.y.z)" and lists PipeWire's own clients among its clients).
#include "platform/pulse/linuxsoundserver.h"

#include <QByteArray>
#include <QFileInfo>
#include <QLoggingCategory>

#include <pulse/pulseaudio.h>

#include <memory>

Q_LOGGING_CATEGORY(lcSoundServer, "clavora.platform.soundserver")

namespace clavora::platform {

namespace {

// The session managers PipeWire is run with, by the program file their client reports.
bool isSessionManager(const pa_proplist* properties) {
    const char* binary = pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_BINARY);
    if (binary == nullptr) {
        return false;
    }
    const QByteArray name(binary);
    return name == "wireplumber" || name == "pipewire-media-session";
}

struct Query {
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    SoundServerInfo info;
    int pending = 0; // answers still to come
    bool failed = false;
    // Whether the outputs are asked for instead of what the server is.
    bool listOutputs = false;
    QList<SoundOutput> outputs;

    ~Query() {
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop != nullptr) {
            pa_mainloop_free(loop);
        }
    }

    static void onState(pa_context* context, void* user) {
        auto* self = static_cast<Query*>(user);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            self->info.answers = true;
            if (self->listOutputs) {
                self->ask(pa_context_get_sink_info_list(context, &Query::onSink, self));
                break;
            }
            self->ask(pa_context_get_server_info(context, &Query::onServer, self));
            self->ask(pa_context_get_client_info_list(context, &Query::onClient, self));
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->failed = true;
            break;
        default:
            break;
        }
    }

    void ask(pa_operation* operation) {
        if (operation == nullptr) {
            failed = true;
            return;
        }
        ++pending;
        pa_operation_unref(operation);
    }

    static void onServer(pa_context*, const pa_server_info* server, void* user) {
        auto* self = static_cast<Query*>(user);
        if (server != nullptr && server->server_name != nullptr) {
            self->info.name = QString::fromUtf8(server->server_name);
            self->info.pipeWire = self->info.name.contains(QLatin1String("PipeWire"));
        }
        --self->pending;
    }

    static void onSink(pa_context*, const pa_sink_info* sink, int eol, void* user) {
        auto* self = static_cast<Query*>(user);
        if (eol != 0) {
            --self->pending;
            return;
        }
        if (sink != nullptr && sink->name != nullptr) {
            const QString name = QString::fromUtf8(sink->name);
            const QString description = sink->description != nullptr ? QString::fromUtf8(sink->description) : name;
            self->outputs.append(SoundOutput{name, description.isEmpty() ? name : description});
        }
    }

    static void onClient(pa_context*, const pa_client_info* client, int eol, void* user) {
        auto* self = static_cast<Query*>(user);
        if (eol != 0) {
            --self->pending;
            return;
        }
        if (client != nullptr && client->proplist != nullptr && isSessionManager(client->proplist)) {
            self->info.sessionManager = true;
        }
    }
};

} // namespace

bool soundServerExpected() {
    const QString configured = qEnvironmentVariable("PULSE_SERVER").trimmed();
    if (!configured.isEmpty()) {
        // A list of addresses, the first that works taken; a local socket is there only when its file is.
        for (const QString& address : configured.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            QString path = address;
            if (path.startsWith(QLatin1String("unix:"))) {
                path = path.mid(5);
            } else if (!path.startsWith(QLatin1Char('/'))) {
                return true; // a network address: it may answer
            }
            if (QFileInfo::exists(path)) {
                return true;
            }
        }
        return false;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QLatin1String("/pulse/native"));
}

namespace {

// Asks the server what Query asks for, waiting at most Timeout. False when it did not answer.
bool ask(Query& query, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    query.loop = pa_mainloop_new();
    if (query.loop == nullptr) {
        return false;
    }
    query.context = pa_context_new(pa_mainloop_get_api(query.loop), "Clavora");
    if (query.context == nullptr) {
        return false;
    }
    pa_context_set_state_callback(query.context, &Query::onState, &query);
    if (pa_context_connect(query.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return false;
    }
    while (!query.failed && !(query.info.answers && query.pending == 0)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            qCWarning(lcSoundServer) << "The sound server did not answer in" << timeout.count() << "ms";
            return false;
        }
        if (pa_mainloop_prepare(query.loop, static_cast<int>(left.count())) < 0 || pa_mainloop_poll(query.loop) < 0 ||
            pa_mainloop_dispatch(query.loop) < 0) {
            return false;
        }
    }
    return !query.failed && query.pending == 0;
}

} // namespace

QList<SoundOutput> PulseSoundServer::outputs(std::chrono::milliseconds timeout) {
    Query query;
    query.listOutputs = true;
    return ask(query, timeout) ? query.outputs : QList<SoundOutput>();
}

SoundServerInfo PulseSoundServer::query(std::chrono::milliseconds timeout) {
    Query query;
    return ask(query, timeout) ? query.info : SoundServerInfo();
}

} // namespace clavora::platform
