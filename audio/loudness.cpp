// Even loudness.
#include "audio/loudness.h"

#include "audio/audiolog.h"
#include "audio/ffmpegsource.h"
#include "platform/filesystem.h"

#include <ebur128.h>

#include <cmath>
#include <memory>
#include <vector>

namespace clavora::audio {

namespace {

constexpr int MeasureRate = 48000;
constexpr int MeasureChannels = 2;
constexpr int ChunkFrames = 4096;
// The window of the momentary loudness, and the absolute gate of the integrated one: quieter is silence.
constexpr qint64 MomentaryWindowMs = 400;
constexpr double SilenceLoudness = -70.0;

struct StateFreer {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};

} // namespace

std::optional<double> measureLoudness(platform::IFileSystem& files, const QString& path,
                                      const std::function<bool()>& cancelled) {
    QString error;
    std::unique_ptr<FfmpegSource> source =
        FfmpegSource::open(files, path, AudioFormat{MeasureRate, MeasureChannels}, &error, cancelled);
    if (!source) {
        qCDebug(lcAudio) << "Cannot measure the loudness of" << path << ":" << error;
        return std::nullopt;
    }
    std::unique_ptr<ebur128_state, StateFreer> state(
        ebur128_init(MeasureChannels, MeasureRate, EBUR128_MODE_I | EBUR128_MODE_M));
    if (!state) {
        return std::nullopt;
    }
    std::vector<float> chunk(static_cast<size_t>(ChunkFrames) * MeasureChannels);
    qint64 total = 0;
    for (;;) {
        const int frames = source->read(chunk.data(), ChunkFrames);
        if (frames <= 0) {
            break;
        }
        total += frames;
        if (ebur128_add_frames_float(state.get(), chunk.data(), static_cast<size_t>(frames)) != EBUR128_SUCCESS) {
            return std::nullopt;
        }
    }
    if (cancelled && cancelled()) {
        return std::nullopt;
    }
    double loudness = 0;
    if (ebur128_loudness_global(state.get(), &loudness) == EBUR128_SUCCESS && std::isfinite(loudness)) {
        return loudness;
    }
    // A sound shorter than the 400 ms blocks of the integrated loudness (a click, a short beep): the loudness of the
    // whole of it, ungated.
    const qint64 ms = total * 1000 / MeasureRate;
    if (ms > 0 && ms < MomentaryWindowMs &&
        ebur128_loudness_window(state.get(), static_cast<unsigned long>(ms), &loudness) == EBUR128_SUCCESS &&
        std::isfinite(loudness) && loudness > SilenceLoudness) {
        return loudness;
    }
    return std::nullopt;
}

float levellingGain(std::optional<double> loudness) {
    if (!loudness) {
        return 1.0f;
    }
    const double db = std::min(TargetLoudness - *loudness, MaxLevellingGainDb);
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

LoudnessLevels::LoudnessLevels(platform::IFileSystem& files, QString cacheFile)
    : m_files(files), m_cacheFile(std::move(cacheFile)) {
    readCache();
    m_thread = std::thread([this] { run(); });
}

LoudnessLevels::~LoudnessLevels() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void LoudnessLevels::measure(const QStringList& paths, Resolve resolve) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const QString& path : paths) {
            m_queue.push_back(Job{path, resolve});
        }
    }
    m_wake.notify_all();
}

const LoudnessLevels::Entry* LoudnessLevels::currentEntry(const QString& file, qint64 size, qint64 modifiedNs) const {
    const auto entry = m_entries.constFind(file);
    return entry != m_entries.cend() && entry->size == size && entry->modifiedNs == modifiedNs ? &*entry : nullptr;
}

float LoudnessLevels::gainFor(const QString& path) const {
    platform::FileIdentity identity;
    if (!m_files.fileIdentity(path, identity)) {
        return 1.0f;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const Entry* entry = currentEntry(path, identity.size, identity.modifiedNs);
    return entry ? levellingGain(entry->loudness) : 1.0f;
}

int LoudnessLevels::measurements() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_measurements;
}

bool LoudnessLevels::waitUntilIdle(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_queue.empty() && !m_busy; });
}

void LoudnessLevels::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    bool changed = false;
    while (!m_quit) {
        if (m_queue.empty()) {
            if (changed) {
                writeCache(lock);
                changed = false;
                continue;
            }
            m_busy = false;
            m_idle.notify_all();
            m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
            continue;
        }
        m_busy = true;
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        const QString file = job.resolve ? job.resolve(job.path) : job.path;
        platform::FileIdentity identity;
        const bool found = !file.isEmpty() && m_files.fileIdentity(file, identity);
        lock.lock();
        if (!found || currentEntry(file, identity.size, identity.modifiedNs)) {
            continue;
        }
        lock.unlock();
        const std::optional<double> loudness = measureLoudness(m_files, file, [this] {
            std::lock_guard<std::mutex> quitLock(m_mutex);
            return m_quit;
        });
        lock.lock();
        if (m_quit) {
            break;
        }
        ++m_measurements;
        m_entries.insert(file, Entry{identity.size, identity.modifiedNs, loudness});
        changed = true;
        qCDebug(lcAudio) << "Loudness of" << file << ":" << (loudness ? *loudness : qQNaN()) << "LUFS";
    }
    m_busy = false;
    m_idle.notify_all();
}

// The cache: one line per file, "loudness<TAB>size<TAB>modified ns<TAB>path", the loudness "none" for a file that
// could not be measured.
void LoudnessLevels::readCache() {
    if (m_cacheFile.isEmpty() || !m_files.fileExists(m_cacheFile)) {
        return;
    }
    QByteArray bytes;
    if (!m_files.readFile(m_cacheFile, bytes)) {
        return;
    }
    for (const QString& line : QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() != 4) {
            continue;
        }
        bool sizeOk = false;
        bool timeOk = false;
        bool loudnessOk = false;
        Entry entry;
        entry.size = fields[1].toLongLong(&sizeOk);
        entry.modifiedNs = fields[2].toLongLong(&timeOk);
        const double loudness = fields[0].toDouble(&loudnessOk);
        if (!sizeOk || !timeOk || (!loudnessOk && fields[0] != QLatin1String("none"))) {
            continue;
        }
        if (loudnessOk && std::isfinite(loudness)) {
            entry.loudness = loudness;
        }
        m_entries.insert(fields[3], entry);
    }
}

void LoudnessLevels::writeCache(std::unique_lock<std::mutex>& lock) {
    if (m_cacheFile.isEmpty()) {
        return;
    }
    QByteArray bytes;
    for (auto entry = m_entries.cbegin(); entry != m_entries.cend(); ++entry) {
        if (entry.key().contains(QLatin1Char('\t')) || entry.key().contains(QLatin1Char('\n'))) {
            continue; // a name the line cannot hold is measured again at the next start
        }
        bytes += (entry->loudness ? QByteArray::number(*entry->loudness, 'g', 12) : QByteArray("none")) + '\t' +
                 QByteArray::number(entry->size) + '\t' + QByteArray::number(entry->modifiedNs) + '\t' +
                 entry.key().toUtf8() + '\n';
    }
    lock.unlock();
    // The folders down to the cache's, those that exist already refused harmlessly.
    for (qsizetype slash = m_cacheFile.indexOf(QLatin1Char('/'), 1); slash > 0;
         slash = m_cacheFile.indexOf(QLatin1Char('/'), slash + 1)) {
        m_files.createFolder(m_cacheFile.left(slash));
    }
    if (const Status written = m_files.writeFileReplacing(m_cacheFile, bytes); !written) {
        qCWarning(lcAudio).noquote() << written.message();
    }
    lock.lock();
}

} // namespace clavora::audio
