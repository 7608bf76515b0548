// The steady clock.
#include "platform/clock.h"

#include <QTimer>

#include <chrono>

namespace clavora::platform {

namespace {

class QtClockTimer final : public ClockTimer {
public:
    explicit QtClockTimer(std::function<void()> fire) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(fire));
    }
    void start(int ms) override { m_timer.start(ms); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

} // namespace

qint64 SteadyClock::nowNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::unique_ptr<ClockTimer> SteadyClock::makeTimer(std::function<void()> fire) const {
    return std::make_unique<QtClockTimer>(std::move(fire));
}

const Clock& steadyClock() {
    static const SteadyClock clock;
    return clock;
}

} // namespace clavora::platform
