// Heads of sound files decoded ahead.
#include "audio/soundheads.h"

#include "audio/audiolog.h"
#include "audio/ffmpegsource.h"

#include <QSet>

#include <algorithm>
#include <chrono>

namespace clavora::audio {

namespace {

qint64 bytesOf(const SoundHead& head) {
    return qint64(head.samples.size() * sizeof(float));
}

} // namespace

SoundHeadCache::SoundHeadCache(platform::IFileSystem& files, AudioFormat format, int headFrames, qint64 budgetBytes)
    : m_files(files), m_format(format), m_headFrames(std::max(1, headFrames)), m_budgetBytes(budgetBytes) {
    m_worker = std::thread([this] { workerLoop(); });
}

SoundHeadCache::~SoundHeadCache() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_cancelCurrent.store(true, std::memory_order_relaxed);
    }
    m_wake.notify_all();
    m_worker.join();
}

void SoundHeadCache::prepare(const QStringList& names, PathResolver resolve) {
    // Linear in the number of names: a key map may bind a hundred thousand files, and this runs on the GUI thread.
    QSet<QString> queued;
    queued.reserve(names.size());
    std::deque<QString> queue;
    for (const QString& name : names) {
        if (!queued.contains(name)) {
            queued.insert(name);
            queue.push_back(name);
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!resolve) {
        std::erase_if(queue, [this](const QString& path) { return m_kept.count(path) != 0; });
    }
    m_resolve = std::move(resolve);
    m_queue.swap(queue);
    // A file no longer bound is not read on: its opening or decoding gives up where it stands.
    if (m_busy && !queued.contains(m_current)) {
        m_cancelCurrent.store(true, std::memory_order_relaxed);
    }
    m_wake.notify_one();
}

std::shared_ptr<const SoundHead> SoundHeadCache::find(const QString& path) {
    std::shared_ptr<const SoundHead> head;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_kept.find(path);
        if (it == m_kept.end()) {
            return nullptr;
        }
        m_uses.splice(m_uses.begin(), m_uses, it->second.use);
        head = it->second.head;
    }
    platform::FileIdentity now;
    if (!m_files.fileIdentity(path, now) || now != head->file) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_kept.find(path);
        if (it != m_kept.end() && it->second.head == head) {
            m_keptBytes -= bytesOf(*head);
            m_uses.erase(it->second.use);
            m_kept.erase(it);
        }
        m_queue.push_front(path);
        m_wake.notify_one();
        return nullptr;
    }
    return head;
}

bool SoundHeadCache::waitUntilIdle(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_queue.empty() && !m_busy; });
}

qint64 SoundHeadCache::keptBytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_keptBytes;
}

void SoundHeadCache::keep(const QString& path, std::shared_ptr<const SoundHead> head) {
    const qint64 bytes = bytesOf(*head);
    if (bytes > m_budgetBytes) {
        return;
    }
    if (auto old = m_kept.find(path); old != m_kept.end()) {
        m_keptBytes -= bytesOf(*old->second.head);
        m_uses.erase(old->second.use);
        m_kept.erase(old);
    }
    while (m_keptBytes + bytes > m_budgetBytes && !m_uses.empty()) {
        auto victim = m_kept.find(m_uses.back());
        m_keptBytes -= bytesOf(*victim->second.head);
        m_kept.erase(victim);
        m_uses.pop_back();
    }
    m_uses.push_front(path);
    m_kept.emplace(path, Entry{std::move(head), m_uses.begin()});
    m_keptBytes += bytes;
}

void SoundHeadCache::workerLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
        if (m_quit) {
            return;
        }
        const QString name = m_queue.front();
        m_queue.pop_front();
        m_busy = true;
        m_current = name;
        m_cancelCurrent.store(false, std::memory_order_relaxed);
        const PathResolver resolve = m_resolve;
        lock.unlock();

        const QString path = resolve ? resolve(name) : name;
        bool wanted = !path.isEmpty();
        if (wanted && resolve) {
            std::lock_guard<std::mutex> kept(m_mutex);
            wanted = m_kept.count(path) == 0;
        }
        auto head = std::make_shared<SoundHead>();
        bool decoded = false;
        if (wanted && m_files.fileIdentity(path, head->file)) {
            QString error;
            if (std::unique_ptr<FfmpegSource> source = FfmpegSource::open(m_files, path, m_format, &error, [this] {
                    return m_cancelCurrent.load(std::memory_order_relaxed);
                })) {
                head->format = source->format();
                head->samples.resize(size_t(m_headFrames) * size_t(head->format.channels));
                int frames = 0;
                while (frames < m_headFrames) {
                    const int got = source->read(head->samples.data() + size_t(frames) * size_t(head->format.channels),
                                                 m_headFrames - frames);
                    if (got <= 0) {
                        head->complete = true;
                        break;
                    }
                    frames += got;
                }
                head->frames = frames;
                head->samples.resize(size_t(frames) * size_t(head->format.channels));
                head->samples.shrink_to_fit();
                decoded = true;
            } else {
                qCDebug(lcAudio) << "No head decoded for" << path << ":" << error;
            }
        }

        lock.lock();
        m_busy = false;
        m_current.clear();
        if (m_cancelCurrent.load(std::memory_order_relaxed)) {
            decoded = false; // cut short: what was read is not the file's start as it plays
        }
        if (decoded) {
            keep(path, std::move(head));
        }
        if (m_queue.empty()) {
            m_idle.notify_all();
        }
    }
}

} // namespace clavora::audio
