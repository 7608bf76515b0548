// Even loudness: the integrated loudness of sound files (EBU R128), measured once each on a thread of its own and
// kept in a cache file, and the gain that brings a file to the loudness every sound is evened out to.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace clavora::platform {
class IFileSystem;
}

namespace clavora::audio {

// What every sound is brought to, in LUFS, and the most a quiet one is raised by (the engine's limiter guards the
// peaks of what is raised).
inline constexpr double TargetLoudness = -16.0;
inline constexpr double MaxLevellingGainDb = 12.0;

// The integrated loudness of a sound file as the engine plays it (decoded to stereo at 48 kHz), in LUFS; for a sound
// shorter than its 400 ms blocks, the loudness of the whole sound. Nullopt when the file cannot be decoded or is
// silent. Cancelled, when set, is asked while decoding: once it
// says true the measurement gives up.
std::optional<double> measureLoudness(platform::IFileSystem& files, const QString& path,
                                      const std::function<bool()>& cancelled = {});

// The gain that brings a sound of this loudness to TargetLoudness, at most MaxLevellingGainDb up; 1 for a sound
// that could not be measured.
float levellingGain(std::optional<double> loudness);

// The loudness of the sound files asked for, measured one after another on a thread of its own. What was measured is
// kept in CacheFile by path, size and modification time: a file found there unchanged is not measured again, at the
// next start either, and a file that changed is. Thread-safe.
class LoudnessLevels {
public:
    // Resolve turns a stored path into the file it names (empty for none); it runs on the measuring thread.
    using Resolve = std::function<QString(const QString&)>;

    // Reads the cache file; a missing or damaged one measures everything afresh. An empty name keeps no cache.
    LoudnessLevels(platform::IFileSystem& files, QString cacheFile);
    // Stops the measuring, giving up on a file under way.
    ~LoudnessLevels();
    LoudnessLevels(const LoudnessLevels&) = delete;
    LoudnessLevels& operator=(const LoudnessLevels&) = delete;

    // Measures these files, after those asked for before, unless the cache has them as they are now. Returns at once.
    void measure(const QStringList& paths, Resolve resolve = {});
    // The gain a file (a path as measure() was given it, resolved) plays at: 1 while it is not measured, or when it
    // has changed since it was.
    float gainFor(const QString& path) const;

    // Files measured since the object was made, cache hits left out. For tests and benchmarks.
    int measurements() const;
    // Waits up to TimeoutMs until everything asked for is measured and the cache written. For tests.
    bool waitUntilIdle(int timeoutMs) const;

private:
    struct Entry {
        qint64 size = 0;
        qint64 modifiedNs = 0;
        std::optional<double> loudness;
    };
    struct Job {
        QString path;
        Resolve resolve;
    };
    void run();
    // Under the mutex: the entry of a file whose size and time are Size and ModifiedNs, or null.
    const Entry* currentEntry(const QString& file, qint64 size, qint64 modifiedNs) const;
    void readCache();
    void writeCache(std::unique_lock<std::mutex>& lock);

    platform::IFileSystem& m_files;
    const QString m_cacheFile;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_wake;
    mutable std::condition_variable m_idle;
    std::deque<Job> m_queue;
    // By resolved path.
    QHash<QString, Entry> m_entries;
    // Stored paths as measure() was given them, and the file each resolved to.
    QHash<QString, QString> m_resolved;
    bool m_busy = false;
    bool m_quit = false;
    int m_measurements = 0;
    std::thread m_thread;
};

} // namespace clavora::audio
