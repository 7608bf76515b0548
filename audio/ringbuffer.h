// Wait-free single-producer / single-consumer queues that carry audio and streams between the decode worker, the
// GUI thread and the device callback. Storage is allocated once, up front, so neither side ever allocates.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>

namespace clavora::audio {

// A ring of interleaved float samples counted in frames. One thread writes, one thread reads.
class TSampleRing {
public:
    TSampleRing(int capacityFrames, int channels)
        : FCapacity(capacityFrames), FChannels(channels),
          FData(std::make_unique<float[]>(static_cast<size_t>(capacityFrames) * static_cast<size_t>(channels))) {}

    int channels() const { return FChannels; }
    int capacityFrames() const { return FCapacity; }

    // Reader side: frames ready to be read.
    int readableFrames() const {
        return static_cast<int>(FWrite.load(std::memory_order_acquire) - FRead.load(std::memory_order_relaxed));
    }

    // Reader side: up to two contiguous pieces holding the next Frames readable frames (Frames <= readableFrames()).
    void readPieces(int frames, const float*& first, int& firstFrames, const float*& second, int& secondFrames) const {
        const size_t start = FRead.load(std::memory_order_relaxed) % static_cast<size_t>(FCapacity);
        firstFrames = std::min(frames, FCapacity - static_cast<int>(start));
        secondFrames = frames - firstFrames;
        first = FData.get() + start * static_cast<size_t>(FChannels);
        second = FData.get();
    }

    // Reader side: gives Frames read frames back to the writer.
    void consume(int frames) { FRead.fetch_add(static_cast<size_t>(frames), std::memory_order_release); }

    // Writer side: frames that can be written without overwriting unread ones.
    int writableFrames() const {
        return FCapacity -
               static_cast<int>(FWrite.load(std::memory_order_relaxed) - FRead.load(std::memory_order_acquire));
    }

    // Writer side: the contiguous free space at the write position (at most writableFrames() frames).
    float* writeSpace(int& frames) {
        const size_t start = FWrite.load(std::memory_order_relaxed) % static_cast<size_t>(FCapacity);
        frames = std::min(writableFrames(), FCapacity - static_cast<int>(start));
        return FData.get() + start * static_cast<size_t>(FChannels);
    }

    // Writer side: publishes Frames frames written into writeSpace().
    void commit(int frames) { FWrite.fetch_add(static_cast<size_t>(frames), std::memory_order_release); }

private:
    const int FCapacity;
    const int FChannels;
    std::unique_ptr<float[]> FData;
    alignas(64) std::atomic<size_t> FRead{0};
    alignas(64) std::atomic<size_t> FWrite{0};
};

// A bounded queue of pointers. One thread pushes, one thread pops; both return false instead of waiting.
template <class T> class TPointerQueue {
public:
    explicit TPointerQueue(int capacity)
        : FCapacity(static_cast<size_t>(capacity)), FSlots(std::make_unique<T*[]>(FCapacity)) {}

    bool push(T* item) {
        const size_t tail = FTail.load(std::memory_order_relaxed);
        if (tail - FHead.load(std::memory_order_acquire) >= FCapacity) {
            return false;
        }
        FSlots[tail % FCapacity] = item;
        FTail.store(tail + 1, std::memory_order_release);
        return true;
    }

    bool pop(T*& item) {
        const size_t head = FHead.load(std::memory_order_relaxed);
        if (head == FTail.load(std::memory_order_acquire)) {
            return false;
        }
        item = FSlots[head % FCapacity];
        FHead.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    const size_t FCapacity;
    std::unique_ptr<T*[]> FSlots;
    alignas(64) std::atomic<size_t> FHead{0};
    alignas(64) std::atomic<size_t> FTail{0};
};

} // namespace clavora::audio
