// The fallback player on Linux.
#include "platform/pulse/linuxfallbackplayer.h"

#include <QFile>
#include <QLoggingCategory>

#include <canberra.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sys/stat.h>
#include <utility>
#include <vector>

Q_LOGGING_CATEGORY(lcFallback, "clavora.platform.fallbackplayer")

namespace clavora::platform {

namespace {

using Clock = std::chrono::steady_clock;

// A sound that could not start within this time of being asked for (the sound server did not answer) is no longer
// played: late, it would only puzzle.
constexpr auto TooLate = std::chrono::milliseconds(1000);
// How long the end of the player waits for its thread.
constexpr auto ThreadEndTimeout = std::chrono::milliseconds(3000);

} // namespace

struct LinuxFallbackPlayer::Shared {
    struct Request {
        QString path;
        Clock::time_point at;
    };

    // The ids of the sounds still playing, oldest first. libcanberra tells of a finished sound on a thread of its
    // own, hence the lock.
    struct Playing {
        mutable std::mutex mutex;
        std::deque<quint32> ids;
    };

    // Between the caller and the player's thread.
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;
    std::deque<Request> requests;
    bool stopRequested = false;
    bool quit = false;
    bool done = false;
    std::atomic<bool> unavailable{false};

    // Outlives the context, whose destruction still reports the sounds it ends.
    Playing playing;
    // The player's thread's.
    ca_context* context = nullptr;
    quint32 lastId = 0;

    void run();
    bool open();
    void playNow(const QString& path);
    void cancelAll();
    static void finished(ca_context* context, quint32 id, int result, void* playing);
};

void LinuxFallbackPlayer::Shared::run() {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
        wake.wait(lock, [this] { return quit || stopRequested || !requests.empty(); });
        if (quit) {
            break;
        }
        const bool stop = std::exchange(stopRequested, false);
        std::deque<Request> toPlay = std::exchange(requests, {});
        lock.unlock();
        if (stop) {
            cancelAll();
        }
        if (!toPlay.empty() && (context != nullptr || open())) {
            for (const Request& request : toPlay) {
                if (Clock::now() - request.at > TooLate) {
                    qCDebug(lcFallback) << "System sound player too late for" << request.path;
                    continue;
                }
                playNow(request.path);
            }
        }
        lock.lock();
    }
    lock.unlock();
    if (context != nullptr) {
        ca_context_destroy(context);
        context = nullptr;
    }
    lock.lock();
    done = true;
    ended.notify_all();
}

bool LinuxFallbackPlayer::Shared::open() {
    qCDebug(lcFallback) << "System sound player connecting";
    int result = ca_context_create(&context);
    if (result == CA_SUCCESS) {
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Clavora", CA_PROP_APPLICATION_ID,
                                "com.zemtrak.clavora", nullptr);
        result = ca_context_open(context);
    }
    if (result == CA_SUCCESS) {
        return true;
    }
    qCWarning(lcFallback) << "System sound player unavailable:" << ca_strerror(result);
    if (context != nullptr) {
        ca_context_destroy(context);
        context = nullptr;
    }
    unavailable = true;
    std::lock_guard<std::mutex> lock(mutex);
    requests.clear();
    return false;
}

void LinuxFallbackPlayer::Shared::playNow(const QString& path) {
    // The player opens the file on its own thread: a FIFO or a device there would hold it up for good.
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        qCDebug(lcFallback) << "System sound player not given" << path << ": not a regular file";
        return;
    }
    // Every sound gets an id of its own, by which the oldest is stopped when too many play.
    if (++lastId == 0) {
        lastId = 1;
    }
    const quint32 id = lastId;
    std::vector<quint32> givingWay;
    {
        std::lock_guard<std::mutex> lock(playing.mutex);
        while (playing.ids.size() >= static_cast<size_t>(MaxSounds)) {
            givingWay.push_back(playing.ids.front());
            playing.ids.pop_front();
        }
        playing.ids.push_back(id);
    }
    // Outside the lock: cancelling may report the sound finished on this very thread.
    for (quint32 oldest : givingWay) {
        ca_context_cancel(context, oldest);
    }

    // No caching: a key binding's file may change between two presses, and the sound server's sample cache would
    // keep playing the old one.
    const QByteArray file = QFile::encodeName(path);
    ca_proplist* properties = nullptr;
    int result = ca_proplist_create(&properties);
    if (result == CA_SUCCESS) {
        ca_proplist_sets(properties, CA_PROP_MEDIA_FILENAME, file.constData());
        ca_proplist_sets(properties, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
        result = ca_context_play_full(context, id, properties, &Shared::finished, &playing);
        ca_proplist_destroy(properties);
    }
    if (result != CA_SUCCESS) {
        // No callback comes for a sound that never started.
        std::lock_guard<std::mutex> lock(playing.mutex);
        const auto it = std::find(playing.ids.begin(), playing.ids.end(), id);
        if (it != playing.ids.end()) {
            playing.ids.erase(it);
        }
        qCDebug(lcFallback) << "System sound player cannot play" << path << ":" << ca_strerror(result);
    } else {
        qCDebug(lcFallback) << "System sound player plays" << path;
    }
}

void LinuxFallbackPlayer::Shared::cancelAll() {
    if (context == nullptr) {
        return;
    }
    std::vector<quint32> ids;
    {
        std::lock_guard<std::mutex> lock(playing.mutex);
        ids.assign(playing.ids.begin(), playing.ids.end());
        playing.ids.clear();
    }
    // Outside the lock: cancelling may report the sound finished on this very thread.
    for (quint32 id : ids) {
        ca_context_cancel(context, id);
    }
}

void LinuxFallbackPlayer::Shared::finished(ca_context*, quint32 id, int result, void* playing) {
    if (result != CA_SUCCESS && result != CA_ERROR_CANCELED && result != CA_ERROR_DESTROYED) {
        qCDebug(lcFallback) << "System sound player stopped a sound:" << ca_strerror(result);
    }
    auto* sounds = static_cast<Playing*>(playing);
    std::lock_guard<std::mutex> lock(sounds->mutex);
    const auto it = std::find(sounds->ids.begin(), sounds->ids.end(), id);
    if (it != sounds->ids.end()) {
        sounds->ids.erase(it);
    }
}

LinuxFallbackPlayer::LinuxFallbackPlayer() : m_shared(std::make_shared<Shared>()) {}

LinuxFallbackPlayer::~LinuxFallbackPlayer() {
    if (!m_thread.joinable()) {
        return;
    }
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    m_shared->quit = true;
    m_shared->wake.notify_all();
    if (!m_shared->ended.wait_for(lock, ThreadEndTimeout, [this] { return m_shared->done; })) {
        lock.unlock();
        qCWarning(lcFallback) << "The system sound player does not answer; it is left behind";
        m_thread.detach();
        return;
    }
    lock.unlock();
    m_thread.join();
}

void LinuxFallbackPlayer::play(const QString& path) {
    if (m_shared->unavailable) {
        return;
    }
    qCDebug(lcFallback) << "System sound player asked for" << path;
    if (!m_thread.joinable()) {
        m_thread = std::thread([shared = m_shared] { shared->run(); });
    }
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    // More could not play at once anyway: the oldest would give way as soon as they started.
    while (m_shared->requests.size() >= static_cast<size_t>(MaxSounds)) {
        m_shared->requests.pop_front();
    }
    m_shared->requests.push_back(Shared::Request{path, Clock::now()});
    m_shared->wake.notify_one();
}

int LinuxFallbackPlayer::playingSounds() const {
    std::lock_guard<std::mutex> lock(m_shared->playing.mutex);
    return static_cast<int>(m_shared->playing.ids.size());
}

void LinuxFallbackPlayer::stopAll() {
    if (!m_thread.joinable()) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    // What has not started yet never will; what plays is stopped by the player's thread.
    m_shared->requests.clear();
    m_shared->stopRequested = true;
    m_shared->wake.notify_one();
}

} // namespace clavora::platform
