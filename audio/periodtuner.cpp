// The device period chosen at run time.
#include "audio/periodtuner.h"

#include <algorithm>

namespace clavora::audio {

bool UnderrunDetector::onCallback(qint64 nowNs, int frames, int rate) {
    if (rate <= 0 || frames <= 0) {
        return false;
    }
    const qint64 periodNs = qint64(frames) * 1'000'000'000 / rate;
    bool dry = false;
    if (m_lastNs != 0) {
        m_aheadNs -= nowNs - m_lastNs;
        if (m_aheadNs < -periodNs / 2) {
            dry = true;
            m_aheadNs = 0;
        }
    } else {
        m_aheadNs = 0;
    }
    m_lastNs = nowNs;
    // The server holds no more than about one period (PulseAudio reports three quarters of it as the stream's
    // buffer): a callback that comes early fills it up but builds no credit for a later, slower one.
    m_aheadNs = std::min(m_aheadNs + periodNs, periodNs);
    return dry;
}

namespace {

// Some thread kept waiting for a processor this share of the time: the audio threads would wait as often.
constexpr double BusyWaitingShare = 0.2;
// The shortest stretch of time the waiting is judged over, and how far apart the readings kept to judge by are at
// least (so the stretch is at most about twice that plus the time between two ticks).
constexpr qint64 ShortestWindowNs = 200'000'000;
constexpr qint64 KeptReadingNs = 500'000'000;

} // namespace

bool machineBusy(const platform::ProcessorLoad& load) {
    const bool queueFull = load.processors > 0 && load.runnable - 1 >= load.processors;
    return queueFull || load.waitingShare >= BusyWaitingShare;
}

LoadWatch::LoadWatch(std::function<platform::ProcessorLoad()> read) : m_read(std::move(read)) {}

void LoadWatch::keep(const Reading& reading) {
    m_older = m_newer;
    m_newer = reading;
}

void LoadWatch::tick(qint64 nowNs) {
    if (m_newer.atNs == 0 || nowNs - m_newer.atNs >= KeptReadingNs) {
        keep(Reading{nowNs, m_read()});
    }
}

bool LoadWatch::busy(qint64 nowNs) {
    const Reading now{nowNs, m_read()};
    const Reading& since = nowNs - m_newer.atNs >= ShortestWindowNs ? m_newer : m_older;
    bool busy = false;
    if (since.atNs != 0 && nowNs > since.atNs && since.load.waitedUs >= 0 && now.load.waitedUs >= since.load.waitedUs) {
        busy =
            double(now.load.waitedUs - since.load.waitedUs) * 1000.0 / double(nowNs - since.atNs) >= BusyWaitingShare;
    } else {
        busy = machineBusy(now.load);
    }
    keep(now);
    return busy;
}

PeriodTuner::PeriodTuner(PeriodPolicy policy) : m_policy(std::move(policy)), m_quietNs(m_policy.quietNs) {
    if (m_policy.ladder.empty()) {
        m_policy.ladder = {441};
    }
}

int PeriodTuner::onLoad(bool busy) {
    const int before = period();
    m_loadStep = 0;
    if (busy && m_policy.busyPeriod > 0) {
        while (m_loadStep + 1 < m_policy.ladder.size() && m_policy.ladder[m_loadStep] < m_policy.busyPeriod) {
            ++m_loadStep;
        }
    }
    return period() != before ? period() : 0;
}

int PeriodTuner::onUnderruns(int count, qint64 nowNs) {
    if (count <= 0) {
        return 0;
    }
    m_underruns += quint64(count);
    m_lastUnderrunNs = nowNs;
    for (int i = 0; i < count; ++i) {
        m_recent.push_back(nowNs);
    }
    m_recent.erase(
        std::remove_if(m_recent.begin(), m_recent.end(), [&](qint64 at) { return at < nowNs - m_policy.windowNs; }),
        m_recent.end());
    const size_t current = std::max(m_step, m_loadStep);
    if (int(m_recent.size()) < m_policy.underrunsToGrow || current + 1 >= m_policy.ladder.size()) {
        return 0;
    }
    // The smaller period failed soon after a step down: wait longer before the next try.
    if (m_shrankLast && nowNs - m_lastChangeNs < 2 * m_quietNs) {
        m_quietNs = std::min(m_quietNs * 2, m_policy.longestQuietNs);
    }
    m_step = current + 1;
    m_recent.clear();
    m_lastChangeNs = nowNs;
    m_shrankLast = false;
    return period();
}

int PeriodTuner::onQuiet(qint64 nowNs) {
    // Held up by the load alone, there is nothing the quiet can undo.
    if (m_step == 0 || m_step <= m_loadStep || nowNs - std::max(m_lastChangeNs, m_lastUnderrunNs) < m_quietNs) {
        return 0;
    }
    --m_step;
    m_recent.clear();
    m_lastChangeNs = nowNs;
    m_shrankLast = true;
    return period();
}

} // namespace clavora::audio
