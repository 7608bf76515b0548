// The program's output volume on Linux.
//
// Threads: the public methods run on the GUI thread and never wait for the server. Everything that talks to the
// server runs on libpulse's threaded mainloop. The two sides share only atomics: the last known volume (with the
// number of the GUI's latest write), whether the stream is known, and an eventfd that wakes the mainloop when the
// GUI has a new volume to send.
#include "platform/pulse/linuxprogramvolume.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <unordered_set>

Q_LOGGING_CATEGORY(lcVolume, "clavora.platform.volume")

namespace clavora::platform {

namespace {

// A server that is gone is looked for again this often.
constexpr pa_usec_t RetryInterval = 500 * PA_USEC_PER_MSEC;

quint32 packVolume(ChannelVolume volume) {
    return static_cast<quint32>(volume.left) | (static_cast<quint32>(volume.right) << 16);
}

ChannelVolume unpackVolume(quint32 packed) {
    return ChannelVolume{static_cast<quint16>(packed & 0xFFFFu), static_cast<quint16>(packed >> 16)};
}

// The shared word: the number of the GUI's latest write in the high half, the volume in the low half.
quint64 makeWord(quint32 write, quint32 packedVolume) {
    return (static_cast<quint64>(write) << 32) | packedVolume;
}
quint32 writeOf(quint64 word) {
    return static_cast<quint32>(word >> 32);
}
quint32 volumeOf(quint64 word) {
    return static_cast<quint32>(word & 0xFFFFFFFFu);
}

bool isLeft(pa_channel_position_t position) {
    switch (position) {
    case PA_CHANNEL_POSITION_FRONT_LEFT:
    case PA_CHANNEL_POSITION_REAR_LEFT:
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
    case PA_CHANNEL_POSITION_SIDE_LEFT:
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT:
        return true;
    default:
        return false;
    }
}

bool isRight(pa_channel_position_t position) {
    switch (position) {
    case PA_CHANNEL_POSITION_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_REAR_RIGHT:
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
    case PA_CHANNEL_POSITION_SIDE_RIGHT:
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
        return true;
    default:
        return false;
    }
}

} // namespace

struct LinuxProgramVolume::Backend {
    Backend(QByteArray serverAddress, QByteArray ourStreamName)
        : server(std::move(serverAddress)), streamName(std::move(ourStreamName)), pid(QByteArray::number(::getpid())) {}

    // Set before the mainloop thread starts, read-only afterwards.
    const QByteArray server;
    const QByteArray streamName;
    const QByteArray pid;
    pa_threaded_mainloop* loop = nullptr;
    pa_mainloop_api* api = nullptr;
    int wakeFd = -1;
    pa_io_event* wakeEvent = nullptr;
    pa_time_event* retryEvent = nullptr;

    // Shared with the GUI thread.
    std::atomic<bool> available{false};
    std::atomic<quint64> word{0};
    // The output the stream is to be kept on; empty for the server's default.
    std::mutex targetMutex;
    QByteArray target;

    // Mainloop thread only.
    pa_context* context = nullptr;
    quint32 stream = PA_INVALID_INDEX;
    quint32 streamSink = PA_INVALID_INDEX; // the output it plays on
    bool movedByUs = false;                // moved off the output the server gave it
    pa_channel_map channels{};
    quint32 sentWrite = 0;  // number of the last write handed to the server
    int writesInFlight = 0; // sent, not yet acknowledged
    bool scanning = false;
    bool scanAgain = false; // a scan was asked for while one ran
    // Clients known to be this process's or another's. A stream says its process itself through the PulseAudio
    // interface; one made through PipeWire's own says it only through its client.
    std::unordered_set<quint32> ourClients;
    std::unordered_set<quint32> otherClients;
    quint32 bestMatch = PA_INVALID_INDEX;
    // Whether a stream of ours was followed on this connection: one that comes after it replaces it (the output
    // reopened, at another period or after a quiet while) and is given the volume we have, instead of having its
    // fresh 100 % taken for a change made elsewhere.
    bool followedOne = false;

    bool start() {
        loop = pa_threaded_mainloop_new();
        if (loop == nullptr) {
            return false;
        }
        api = pa_threaded_mainloop_get_api(loop);
        wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wakeFd < 0) {
            return false;
        }
        wakeEvent = api->io_new(api, wakeFd, PA_IO_EVENT_INPUT, &Backend::onWake, this);
        retryEvent = api->time_new(api, nullptr, &Backend::onRetry, this);
        connect();
        // The thread is not running yet, so nothing above needed the mainloop's lock.
        return pa_threaded_mainloop_start(loop) == 0;
    }

    void stop() {
        if (loop != nullptr) {
            pa_threaded_mainloop_stop(loop);
        }
        dropContext();
        if (api != nullptr) {
            if (wakeEvent != nullptr) {
                api->io_free(wakeEvent);
            }
            if (retryEvent != nullptr) {
                api->time_free(retryEvent);
            }
        }
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
        if (loop != nullptr) {
            pa_threaded_mainloop_free(loop);
        }
    }

    void wake() const {
        const uint64_t one = 1;
        // Cannot block (non-blocking eventfd) and cannot fail short of a counter overflow, which still wakes.
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    }

    void connect() {
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Clavora");
        context = pa_context_new_with_proplist(api, "Clavora volume", properties);
        pa_proplist_free(properties);
        if (context == nullptr) {
            scheduleRetry();
            return;
        }
        pa_context_set_state_callback(context, &Backend::onContextState, this);
        pa_context_set_subscribe_callback(context, &Backend::onEvent, this);
        // Never start a server of our own: without one the program has nothing to follow.
        if (pa_context_connect(context, server.isEmpty() ? nullptr : server.constData(), PA_CONTEXT_NOAUTOSPAWN,
                               nullptr) < 0) {
            scheduleRetry();
        }
    }

    void dropContext() {
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
    }

    void forgetStream() {
        stream = PA_INVALID_INDEX;
        available.store(false);
    }

    void scheduleRetry() {
        forgetStream();
        writesInFlight = 0;
        scanning = false;
        scanAgain = false;
        ourClients.clear();
        otherClients.clear();
        // A server that comes back starts afresh: its streams' volumes are its own.
        followedOne = false;
        timeval when{};
        pa_gettimeofday(&when);
        pa_timeval_add(&when, RetryInterval);
        api->time_restart(retryEvent, &when);
    }

    static void onRetry(pa_mainloop_api*, pa_time_event* event, const timeval*, void* userdata) {
        auto* self = static_cast<Backend*>(userdata);
        self->api->time_restart(event, nullptr);
        // The failed context is let go here rather than inside its own callback.
        self->dropContext();
        self->connect();
    }

    static void onContextState(pa_context* context, void* userdata) {
        auto* self = static_cast<Backend*>(userdata);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            qCDebug(lcVolume) << "Connected to the sound server";
            pa_operation_unref(pa_context_subscribe(
                context,
                static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_CLIENT |
                                                    PA_SUBSCRIPTION_MASK_SINK),
                nullptr, nullptr));
            self->scan();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            qCDebug(lcVolume) << "Sound server connection lost:" << pa_strerror(pa_context_errno(context));
            self->scheduleRetry();
            break;
        default:
            break;
        }
    }

    // Looks through every stream for ours. There is one, unless the output was just reopened and the old stream
    // lingers; the highest index is then the likelier to be the new one on PulseAudio.
    void scan() {
        if (scanning) {
            scanAgain = true;
            return;
        }
        scanning = true;
        bestMatch = PA_INVALID_INDEX;
        if (pa_operation* op = pa_context_get_sink_input_info_list(context, &Backend::onScanned, this)) {
            pa_operation_unref(op);
        } else {
            scanning = false;
        }
    }

    static void onScanned(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
        auto* self = static_cast<Backend*>(userdata);
        if (eol == 0) {
            if (self->isOurs(*info) && (self->bestMatch == PA_INVALID_INDEX || info->index > self->bestMatch)) {
                self->bestMatch = info->index;
                self->take(*info);
            }
            return;
        }
        self->scanning = false;
        if (self->bestMatch == PA_INVALID_INDEX) {
            self->forgetStream();
        }
        if (self->scanAgain) {
            self->scanAgain = false;
            self->scan();
        }
    }

    static void onEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* userdata) {
        auto* self = static_cast<Backend*>(userdata);
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_CLIENT) {
            // Client numbers are reused (on PipeWire): what was known of a departed one no longer holds.
            if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
                self->ourClients.erase(index);
                self->otherClients.erase(index);
            }
            return;
        }
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK) {
            // An output that came (back) may be the one the stream belongs on.
            if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_NEW) {
                self->keepOnTarget();
            }
            return;
        }
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
            return;
        }
        if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
            if (index == self->stream) {
                qCDebug(lcVolume) << "Our stream" << index << "went away";
                self->forgetStream();
                self->scan();
            }
            return;
        }
        // While we follow a stream only its own changes matter; otherwise any new stream may be ours. (Indices are
        // not in order of age everywhere: PipeWire reuses them.)
        if (self->stream != PA_INVALID_INDEX && index != self->stream) {
            return;
        }
        if (pa_operation* op = pa_context_get_sink_input_info(context, index, &Backend::onInfo, self)) {
            pa_operation_unref(op);
        }
    }

    static void onInfo(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
        auto* self = static_cast<Backend*>(userdata);
        if (eol != 0 || info == nullptr) {
            return;
        }
        if (self->isOurs(*info) && (self->stream == PA_INVALID_INDEX || info->index == self->stream)) {
            self->take(*info);
        }
    }

    bool isOurs(const pa_sink_input_info& info) {
        if (!info.has_volume) {
            return false;
        }
        const char* process = pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_PROCESS_ID);
        if (process == nullptr ? !isOurClient(info.client) : pid != process) {
            return false;
        }
        const char* name = pa_proplist_gets(info.proplist, PA_PROP_MEDIA_NAME);
        if (name == nullptr) {
            name = info.name;
        }
        return streamName.isEmpty() || (name != nullptr && streamName == name);
    }

    // Whether a client is known to be this process's; an unknown one is asked about, and once it turns out to be
    // ours the streams are looked through again.
    bool isOurClient(quint32 client) {
        if (client == PA_INVALID_INDEX || otherClients.count(client) != 0) {
            return false;
        }
        if (ourClients.count(client) != 0) {
            return true;
        }
        if (pa_operation* op = pa_context_get_client_info(context, client, &Backend::onClient, this)) {
            pa_operation_unref(op);
        }
        return false;
    }

    static void onClient(pa_context*, const pa_client_info* info, int eol, void* userdata) {
        auto* self = static_cast<Backend*>(userdata);
        if (eol != 0 || info == nullptr) {
            return;
        }
        const char* process = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
        if (process != nullptr && self->pid == process) {
            if (self->ourClients.insert(info->index).second) {
                self->scan();
            }
        } else {
            self->otherClients.insert(info->index);
        }
    }

    void take(const pa_sink_input_info& info) {
        const bool replacing = stream != info.index && followedOne;
        if (stream != info.index) {
            qCDebug(lcVolume) << "Following stream" << info.index << (replacing ? "in place of the one before" : "");
        }
        if (stream != info.index) {
            // A stream made anew plays where the server put it.
            movedByUs = false;
        }
        stream = info.index;
        streamSink = info.sink;
        channels = info.channel_map;
        followedOne = true;
        keepOnTarget();
        if (replacing) {
            // Only a change on the stream already followed counts as one made elsewhere.
            const quint64 current = word.load();
            sentWrite = writeOf(current);
            available.store(true);
            sendVolume(volumeOf(current));
            return;
        }
        // The server answers in the order it is asked. A report asked for before our latest write reached the
        // server, or while a write is unanswered, shows the volume from before it and would undo it.
        const quint64 current = word.load();
        if (writesInFlight == 0 && writeOf(current) == sentWrite) {
            const quint32 reported = packVolume(readChannels(info.volume, info.channel_map));
            quint64 expected = current;
            // Fails when the GUI wrote meanwhile; its value then stands until the server reports again.
            word.compare_exchange_strong(expected, makeWord(sentWrite, reported));
        }
        available.store(true);
        sendPending();
    }

    static ChannelVolume readChannels(const pa_cvolume& volume, const pa_channel_map& map) {
        if (volume.channels == 0) {
            return ChannelVolume{};
        }
        pa_volume_t left = 0;
        pa_volume_t right = 0;
        bool hasLeft = false;
        bool hasRight = false;
        for (unsigned c = 0; c < volume.channels && c < map.channels; ++c) {
            if (isLeft(map.map[c])) {
                left = std::max(left, volume.values[c]);
                hasLeft = true;
            } else if (isRight(map.map[c])) {
                right = std::max(right, volume.values[c]);
                hasRight = true;
            }
        }
        // A mono stream, or one without sides, has one volume for both.
        const pa_volume_t overall = pa_cvolume_max(&volume);
        return ChannelVolume{fromServerVolume(hasLeft ? left : overall), fromServerVolume(hasRight ? right : overall)};
    }

    static pa_cvolume writeChannels(ChannelVolume volume, const pa_channel_map& map) {
        pa_cvolume out;
        pa_cvolume_init(&out);
        out.channels = map.channels;
        for (unsigned c = 0; c < map.channels; ++c) {
            if (isLeft(map.map[c])) {
                out.values[c] = toServerVolume(volume.left);
            } else if (isRight(map.map[c])) {
                out.values[c] = toServerVolume(volume.right);
            } else {
                out.values[c] = toServerVolume(std::max(volume.left, volume.right));
            }
        }
        return out;
    }

    static void onWake(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* userdata) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(fd, &count, sizeof count);
        auto* self = static_cast<Backend*>(userdata);
        self->sendPending();
        self->keepOnTarget();
    }

    QByteArray wantedOutput() {
        std::lock_guard<std::mutex> lock(targetMutex);
        return target;
    }

    // Moves the followed stream to the output it is to be kept on, when that output is there and the stream is
    // elsewhere; back to the server's default when none is wanted and it was moved.
    void keepOnTarget() {
        if (context == nullptr || stream == PA_INVALID_INDEX || pa_context_get_state(context) != PA_CONTEXT_READY) {
            return;
        }
        const QByteArray wanted = wantedOutput();
        pa_operation* op = nullptr;
        if (!wanted.isEmpty()) {
            op = pa_context_get_sink_info_by_name(context, wanted.constData(), &Backend::onWantedSink, this);
        } else if (movedByUs) {
            op = pa_context_get_server_info(context, &Backend::onServerInfo, this);
        }
        if (op != nullptr) {
            pa_operation_unref(op);
        }
    }

    static void onWantedSink(pa_context* context, const pa_sink_info* info, int eol, void* userdata) {
        auto* self = static_cast<Backend*>(userdata);
        // Asked again when the output comes back: a missing one is no error here.
        if (eol != 0 || info == nullptr || self->stream == PA_INVALID_INDEX || info->index == self->streamSink ||
            self->wantedOutput() != info->name) {
            return;
        }
        qCDebug(lcVolume) << "Moving stream" << self->stream << "to" << info->name;
        self->movedByUs = true;
        self->streamSink = info->index;
        if (pa_operation* op =
                pa_context_move_sink_input_by_index(context, self->stream, info->index, &Backend::onMoved, self)) {
            pa_operation_unref(op);
        }
    }

    static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<Backend*>(userdata);
        if (info == nullptr || info->default_sink_name == nullptr || self->stream == PA_INVALID_INDEX ||
            !self->wantedOutput().isEmpty()) {
            return;
        }
        self->movedByUs = false;
        if (pa_operation* op = pa_context_move_sink_input_by_name(context, self->stream, info->default_sink_name,
                                                                  &Backend::onMoved, self)) {
            pa_operation_unref(op);
        }
    }

    static void onMoved(pa_context* context, int success, void*) {
        if (!success) {
            qCDebug(lcVolume) << "Stream not moved:" << pa_strerror(pa_context_errno(context));
        }
    }

    // Hands the GUI's latest volume to the server, when it has not been sent yet. Several writes between two
    // wake-ups go out as one: only the last counts.
    void sendPending() {
        const quint64 current = word.load();
        if (writeOf(current) == sentWrite || context == nullptr || stream == PA_INVALID_INDEX ||
            pa_context_get_state(context) != PA_CONTEXT_READY) {
            return;
        }
        sentWrite = writeOf(current);
        sendVolume(volumeOf(current));
    }

    // Sets the followed stream to a packed volume; reports from the server are passed over until it is answered.
    void sendVolume(quint32 packedVolume) {
        const pa_cvolume volume = writeChannels(unpackVolume(packedVolume), channels);
        if (!pa_cvolume_valid(&volume)) {
            return;
        }
        if (pa_operation* op =
                pa_context_set_sink_input_volume(context, stream, &volume, &Backend::onWriteDone, this)) {
            ++writesInFlight;
            pa_operation_unref(op);
        }
    }

    static void onWriteDone(pa_context* context, int success, void* userdata) {
        auto* self = static_cast<Backend*>(userdata);
        self->writesInFlight = std::max(0, self->writesInFlight - 1);
        if (!success) {
            qCDebug(lcVolume) << "Volume not set:" << pa_strerror(pa_context_errno(context));
        }
        // The stream's change event may have come before this answer and been passed over; ask once more.
        if (self->writesInFlight == 0 && self->stream != PA_INVALID_INDEX) {
            if (pa_operation* op = pa_context_get_sink_input_info(context, self->stream, &Backend::onInfo, self)) {
                pa_operation_unref(op);
            }
        }
    }
};

LinuxProgramVolume::LinuxProgramVolume(QString server) : m_server(std::move(server)) {}

LinuxProgramVolume::~LinuxProgramVolume() {
    if (m_backend) {
        m_backend->stop();
    }
}

void LinuxProgramVolume::follow(const QString& streamName) {
    if (m_backend) {
        return;
    }
    m_backend = std::make_unique<Backend>(m_server.toUtf8(), streamName.toUtf8());
    m_backend->target = m_output.toUtf8();
    if (!m_backend->start()) {
        qCWarning(lcVolume) << "Cannot follow the program's volume at the sound server";
    }
}

void LinuxProgramVolume::keepOn(const QString& outputName) {
    m_output = outputName;
    if (m_backend) {
        {
            std::lock_guard<std::mutex> lock(m_backend->targetMutex);
            m_backend->target = outputName.toUtf8();
        }
        m_backend->wake();
    }
}

bool LinuxProgramVolume::isAvailable() {
    return m_backend && m_backend->available.load();
}

bool LinuxProgramVolume::read(ChannelVolume& volume) {
    if (!isAvailable()) {
        return false;
    }
    volume = unpackVolume(volumeOf(m_backend->word.load()));
    return true;
}

bool LinuxProgramVolume::write(ChannelVolume volume) {
    if (!isAvailable()) {
        return false;
    }
    m_backend->word.store(makeWord(++m_writes, packVolume(volume)));
    m_backend->wake();
    return true;
}

quint32 LinuxProgramVolume::toServerVolume(quint16 volume) {
    return static_cast<quint32>(std::lround(volume * static_cast<double>(PA_VOLUME_NORM) / 65535.0));
}

quint16 LinuxProgramVolume::fromServerVolume(quint32 serverVolume) {
    const long scaled = std::lround(serverVolume * 65535.0 / static_cast<double>(PA_VOLUME_NORM));
    return static_cast<quint16>(std::min(scaled, 65535L));
}

} // namespace clavora::platform
