// The fallback player on Linux.
#include "platform/linux/linuxfallbackplayer.h"

#include <QFile>
#include <QLoggingCategory>

#include <canberra.h>

#include <algorithm>
#include <vector>

Q_LOGGING_CATEGORY(lcFallback, "clavora.platform.fallbackplayer")

namespace clavora::platform {

void LinuxFallbackPlayer::ContextCloser::operator()(ca_context* context) const {
    ca_context_destroy(context);
}

LinuxFallbackPlayer::LinuxFallbackPlayer() = default;

LinuxFallbackPlayer::~LinuxFallbackPlayer() = default;

void LinuxFallbackPlayer::play(const QString& path) {
    if (m_unavailable) {
        return;
    }
    if (!m_context) {
        ca_context* context = nullptr;
        int result = ca_context_create(&context);
        if (result == CA_SUCCESS) {
            ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Clavora", CA_PROP_APPLICATION_ID,
                                    "com.zemtrak.clavora", nullptr);
            result = ca_context_open(context);
        }
        if (result != CA_SUCCESS) {
            qCWarning(lcFallback) << "System sound player unavailable:" << ca_strerror(result);
            if (context != nullptr) {
                ca_context_destroy(context);
            }
            m_unavailable = true;
            return;
        }
        m_context.reset(context);
    }
    // Every sound gets an id of its own, by which the oldest is stopped when too many play.
    if (++m_lastId == 0) {
        m_lastId = 1;
    }
    const quint32 id = m_lastId;
    std::vector<quint32> givingWay;
    {
        std::lock_guard<std::mutex> lock(m_playing.mutex);
        while (m_playing.ids.size() >= static_cast<size_t>(MaxSounds)) {
            givingWay.push_back(m_playing.ids.front());
            m_playing.ids.pop_front();
        }
        m_playing.ids.push_back(id);
    }
    // Outside the lock: cancelling may report the sound finished on this very thread.
    for (quint32 oldest : givingWay) {
        ca_context_cancel(m_context.get(), oldest);
    }

    // No caching: a key binding's file may change between two presses, and the sound server's sample cache would
    // keep playing the old one.
    const QByteArray file = QFile::encodeName(path);
    ca_proplist* properties = nullptr;
    int result = ca_proplist_create(&properties);
    if (result == CA_SUCCESS) {
        ca_proplist_sets(properties, CA_PROP_MEDIA_FILENAME, file.constData());
        ca_proplist_sets(properties, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
        result = ca_context_play_full(m_context.get(), id, properties, &LinuxFallbackPlayer::finished, &m_playing);
        ca_proplist_destroy(properties);
    }
    if (result != CA_SUCCESS) {
        // No callback comes for a sound that never started.
        std::lock_guard<std::mutex> lock(m_playing.mutex);
        const auto it = std::find(m_playing.ids.begin(), m_playing.ids.end(), id);
        if (it != m_playing.ids.end()) {
            m_playing.ids.erase(it);
        }
        qCDebug(lcFallback) << "System sound player cannot play" << path << ":" << ca_strerror(result);
    }
}

void LinuxFallbackPlayer::finished(ca_context*, quint32 id, int result, void* playing) {
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

int LinuxFallbackPlayer::playingSounds() const {
    std::lock_guard<std::mutex> lock(m_playing.mutex);
    return static_cast<int>(m_playing.ids.size());
}

void LinuxFallbackPlayer::stopAll() {
    if (!m_context) {
        return;
    }
    std::vector<quint32> playing;
    {
        std::lock_guard<std::mutex> lock(m_playing.mutex);
        playing.assign(m_playing.ids.begin(), m_playing.ids.end());
        m_playing.ids.clear();
    }
    // Outside the lock: cancelling may report the sound finished on this very thread.
    for (quint32 id : playing) {
        ca_context_cancel(m_context.get(), id);
    }
}

template <> IFallbackPlayer& defaultService<IFallbackPlayer>() {
    static LinuxFallbackPlayer player;
    return player;
}

} // namespace clavora::platform
