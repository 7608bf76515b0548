// The fallback player on Linux.
#include "platform/linux/linuxfallbackplayer.h"

#include <QFile>
#include <QLoggingCategory>

#include <canberra.h>

Q_LOGGING_CATEGORY(lcFallback, "clavora.platform.fallbackplayer")

namespace {

// Every sound is played under this one id, so one cancel stops them all.
constexpr uint32_t SoundId = 1;

} // namespace

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
                                    "com.zemtrak.Clavora", nullptr);
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
    // No caching: a key binding's file may change between two presses, and the sound server's sample cache would
    // keep playing the old one.
    const QByteArray file = QFile::encodeName(path);
    const int result = ca_context_play(m_context.get(), SoundId, CA_PROP_MEDIA_FILENAME, file.constData(),
                                       CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr);
    if (result != CA_SUCCESS) {
        qCDebug(lcFallback) << "System sound player cannot play" << path << ":" << ca_strerror(result);
    }
}

void LinuxFallbackPlayer::stopAll() {
    if (m_context) {
        ca_context_cancel(m_context.get(), SoundId);
    }
}

template <> IFallbackPlayer& defaultService<IFallbackPlayer>() {
    static LinuxFallbackPlayer player;
    return player;
}

} // namespace clavora::platform
