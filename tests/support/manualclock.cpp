// A clock moved on by hand.
#include "tests/support/manualclock.h"

#include <algorithm>

namespace clavora::test {

class ManualClock::Timer final : public platform::ClockTimer {
public:
    Timer(const ManualClock& clock, std::function<void()> fire) : m_clock(&clock), m_fire(std::move(fire)) {
        m_clock->m_timers.push_back(this);
    }
    ~Timer() override {
        if (m_clock != nullptr) {
            auto& timers = m_clock->m_timers;
            timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
        }
    }
    void start(int ms) override {
        m_dueNs = (m_clock != nullptr ? m_clock->nowNs() : 0) + qint64(ms) * 1000000;
        m_active = true;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

    const ManualClock* m_clock;
    std::function<void()> m_fire;
    qint64 m_dueNs = 0;
    bool m_active = false;
};

ManualClock::~ManualClock() {
    for (Timer* timer : m_timers) {
        timer->m_clock = nullptr;
        timer->m_active = false;
    }
}

std::unique_ptr<platform::ClockTimer> ManualClock::makeTimer(std::function<void()> fire) const {
    return std::make_unique<Timer>(*this, std::move(fire));
}

void ManualClock::advance(qint64 ms) {
    const qint64 targetNs = m_nowNs.load() + ms * 1000000;
    for (;;) {
        // The earliest timer due by the target; a callback may start, stop or destroy timers, so look again each time.
        Timer* next = nullptr;
        for (Timer* timer : m_timers) {
            if (timer->m_active && timer->m_dueNs <= targetNs && (next == nullptr || timer->m_dueNs < next->m_dueNs)) {
                next = timer;
            }
        }
        if (next == nullptr) {
            break;
        }
        m_nowNs = std::max(m_nowNs.load(), next->m_dueNs);
        next->m_active = false;
        const std::function<void()> fire = next->m_fire;
        fire();
    }
    m_nowNs = targetNs;
}

int ManualClock::activeTimers() const {
    return int(std::count_if(m_timers.begin(), m_timers.end(), [](const Timer* timer) { return timer->m_active; }));
}

} // namespace clavora::test
