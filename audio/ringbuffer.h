// Wait-free single-producer / single-consumer queues that carry audio and streams between the decode worker, the
// GUI thread and the device callback. Storage is allocated once, up front, so neither side ever allocates.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace clavora::audio {

// A ring of interleaved float samples counted in frames. One thread writes; up to MaxReaders readers read it, each
// on a thread of its own, at its own pace and through a cursor of its own, so one decoded sound feeds several
// outputs. A frame is written over only once every attached reader has read it; while none is attached (before the
// first is), the writer fills it from the start.
class SampleRing {
public:
    static constexpr int MaxReaders = 4;

    SampleRing(int capacityFrames, int channels)
        : m_capacity(capacityFrames), m_channels(channels),
          m_data(std::make_unique<float[]>(static_cast<size_t>(capacityFrames) * static_cast<size_t>(channels))) {}

    int channels() const { return m_channels; }
    int capacityFrames() const { return m_capacity; }

    // Attaches reader `reader` (0 to MaxReaders - 1) at the start: before anything is read and before the reader
    // is handed the ring. Detaching is for when it will never read again. Neither is called by the reader itself.
    void attach(int reader) { m_readers.fetch_or(1u << reader, std::memory_order_acq_rel); }
    void detach(int reader) { m_readers.fetch_and(~(1u << reader), std::memory_order_acq_rel); }

    // Reader side: frames ready to be read.
    int readableFrames(int reader) const {
        return static_cast<int>(m_write.load(std::memory_order_acquire) -
                                m_read[reader].position.load(std::memory_order_relaxed));
    }

    // Reader side: up to two contiguous pieces holding the next `frames` readable frames (`frames` <=
    // readableFrames()).
    void readPieces(int reader, int frames, const float*& first, int& firstFrames, const float*& second,
                    int& secondFrames) const {
        const size_t start = m_read[reader].position.load(std::memory_order_relaxed) % static_cast<size_t>(m_capacity);
        firstFrames = std::min(frames, m_capacity - static_cast<int>(start));
        secondFrames = frames - firstFrames;
        first = m_data.get() + start * static_cast<size_t>(m_channels);
        second = m_data.get();
    }

    // Reader side: gives `frames` read frames back to the writer.
    void consume(int reader, int frames) {
        m_read[reader].position.fetch_add(static_cast<size_t>(frames), std::memory_order_release);
    }

    // Writer side: frames written and not yet read by the slowest attached reader.
    int bufferedFrames() const { return static_cast<int>(m_write.load(std::memory_order_relaxed) - slowestRead()); }

    // Writer side: frames that can be written without overwriting unread ones.
    int writableFrames() const { return std::max(0, m_capacity - bufferedFrames()); }

    // Writer side: the contiguous free space at the write position (at most writableFrames() frames).
    float* writeSpace(int& frames) {
        const size_t start = m_write.load(std::memory_order_relaxed) % static_cast<size_t>(m_capacity);
        frames = std::min(writableFrames(), m_capacity - static_cast<int>(start));
        return m_data.get() + start * static_cast<size_t>(m_channels);
    }

    // Writer side: publishes `frames` frames written into writeSpace().
    void commit(int frames) { m_write.fetch_add(static_cast<size_t>(frames), std::memory_order_release); }

private:
    size_t slowestRead() const {
        const unsigned readers = m_readers.load(std::memory_order_acquire);
        if (readers == 0) {
            return 0; // nothing read yet (or nobody reads any more)
        }
        size_t slowest = SIZE_MAX;
        for (int reader = 0; reader < MaxReaders; ++reader) {
            if ((readers & (1u << reader)) != 0) {
                slowest = std::min(slowest, m_read[reader].position.load(std::memory_order_acquire));
            }
        }
        return slowest;
    }

    struct alignas(64) Cursor {
        std::atomic<size_t> position{0};
    };

    const int m_capacity;
    const int m_channels;
    std::unique_ptr<float[]> m_data;
    std::atomic<unsigned> m_readers{0};
    Cursor m_read[MaxReaders];
    alignas(64) std::atomic<size_t> m_write{0};
};

// A bounded queue of pointers. One thread pushes, one thread pops; both return false instead of waiting.
template <class T> class PointerQueue {
public:
    explicit PointerQueue(int capacity)
        : m_capacity(static_cast<size_t>(capacity)), m_slots(std::make_unique<T*[]>(m_capacity)) {}

    bool push(T* item) {
        const size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail - m_head.load(std::memory_order_acquire) >= m_capacity) {
            return false;
        }
        m_slots[tail % m_capacity] = item;
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    bool pop(T*& item) {
        const size_t head = m_head.load(std::memory_order_relaxed);
        if (head == m_tail.load(std::memory_order_acquire)) {
            return false;
        }
        item = m_slots[head % m_capacity];
        m_head.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    const size_t m_capacity;
    std::unique_ptr<T*[]> m_slots;
    alignas(64) std::atomic<size_t> m_head{0};
    alignas(64) std::atomic<size_t> m_tail{0};
};

} // namespace clavora::audio
