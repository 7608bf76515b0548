// A clock of a test's own: it stands still until the test moves it on, and then fires what its timers owed by then,
// in the order they ran out, each with the clock at its own time.
#pragma once

#include "platform/clock.h"

#include <atomic>
#include <vector>

namespace clavora::test {

class ManualClock final : public platform::Clock {
public:
    explicit ManualClock(qint64 startMs = 0) : m_nowNs(startMs * 1000000) {}
    ~ManualClock() override;
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    qint64 nowNs() const override { return m_nowNs.load(); }
    std::unique_ptr<platform::ClockTimer> makeTimer(std::function<void()> fire) const override;

    // Moves the clock on by `ms` (from any thread when no timer of it runs; on the timers' thread otherwise).
    void advance(qint64 ms);
    // Timers of this clock that run now.
    int activeTimers() const;

private:
    class Timer;
    friend class Timer;

    std::atomic<qint64> m_nowNs;
    mutable std::vector<Timer*> m_timers;
};

} // namespace clavora::test
