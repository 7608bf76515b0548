// The time as the program's classes read it for their decisions, and single-shot timers that run on it: the steady
// clock of the system, or in tests a clock they move on by hand.
#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

namespace clavora::platform {

// A single-shot timer of a Clock: calls its function once, a while after start(), on the thread that started it.
class ClockTimer {
public:
    virtual ~ClockTimer() = default;
    // Starts the timer, or starts it again from now when it runs.
    virtual void start(int ms) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// A monotonic clock. Thread-safe to read.
class Clock {
public:
    virtual ~Clock() = default;
    // Nanoseconds since a fixed point in the past; never goes back.
    virtual qint64 nowNs() const = 0;
    qint64 nowMs() const { return nowNs() / 1000000; }
    // Milliseconds wrapping round at 2^32, as tick counts do.
    quint32 tickMs() const { return quint32(quint64(nowMs())); }
    // A stopped timer that calls `fire` when it runs out. The clock outlives it.
    virtual std::unique_ptr<ClockTimer> makeTimer(std::function<void()> fire) const = 0;
};

// The system's steady clock; its timers are Qt timers and need an event loop.
class SteadyClock final : public Clock {
public:
    qint64 nowNs() const override;
    std::unique_ptr<ClockTimer> makeTimer(std::function<void()> fire) const override;
};

// The one steady clock of the process.
const Clock& steadyClock();

} // namespace clavora::platform
