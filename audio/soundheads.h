// The first few hundred milliseconds of the bound sounds, decoded ahead so that a key press mixes samples at once
// and the decoder catches up behind them.
#pragma once

#include "audio/datasource.h"
#include "platform/filesystem.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace clavora::audio {

// The decoded start of one file, in the output format it was decoded for.
struct SoundHead {
    AudioFormat format;
    std::vector<float> samples; // interleaved
    int frames = 0;
    // The whole sound is in samples: nothing is left to decode.
    bool complete = false;
    // The file as it was when decoded; a changed file is decoded again.
    platform::FileIdentity file;
};

// Heads of sound files, decoded on a thread of its own within a memory budget; the least recently used go first
// when the budget is reached. All methods belong to the controlling thread.
class SoundHeadCache {
public:
    // Format: the engine's output. HeadFrames: how much of each file to keep. BudgetBytes: samples kept at most.
    // Files: tells a changed file from the one decoded, from the controlling thread and the cache's own.
    SoundHeadCache(platform::IFileSystem& files, AudioFormat format, int headFrames, qint64 budgetBytes);
    ~SoundHeadCache();
    SoundHeadCache(const SoundHeadCache&) = delete;
    SoundHeadCache& operator=(const SoundHeadCache&) = delete;

    // Turns a name asked for into the absolute path of the file to decode, or an empty string when there is none.
    // It runs on the cache's own thread, so looking for files on disk never holds up the caller.
    using PathResolver = std::function<QString(const QString& name)>;

    // Decodes the heads of these files that are not kept yet, in this order, behind whatever is asked already;
    // files asked before and not decoded yet are dropped from the queue. Names are absolute paths, or what Resolve
    // turns into them.
    void prepare(const QStringList& names, PathResolver resolve = {});

    // The head of Path if it is kept, decoded and the file has not changed since; null otherwise. Counts as a use.
    std::shared_ptr<const SoundHead> find(const QString& path);

    // Waits until every file asked for has been decoded (or found undecodable), up to TimeoutMs. For tests and
    // benchmarks.
    bool waitUntilIdle(int timeoutMs);

    // Bytes of samples kept.
    qint64 keptBytes() const;

private:
    struct Entry {
        std::shared_ptr<const SoundHead> head;
        std::list<QString>::iterator use;
    };
    void workerLoop();
    void keep(const QString& path, std::shared_ptr<const SoundHead> head);

    platform::IFileSystem& m_files;
    const AudioFormat m_format;
    const int m_headFrames;
    const qint64 m_budgetBytes;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    bool m_quit = false;
    bool m_busy = false;
    QString m_current; // the name being decoded while busy
    PathResolver m_resolve;
    // Tells the file being decoded to give up: it is no longer asked for, or the cache goes.
    std::atomic<bool> m_cancelCurrent{false};
    std::deque<QString> m_queue;
    std::unordered_map<QString, Entry> m_kept;
    std::list<QString> m_uses; // most recent first
    qint64 m_keptBytes = 0;
    std::thread m_worker;
};

} // namespace clavora::audio
