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

PeriodTuner::PeriodTuner(PeriodPolicy policy) : m_policy(std::move(policy)), m_quietNs(m_policy.quietNs) {
    if (m_policy.ladder.empty()) {
        m_policy.ladder = {441};
    }
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
    if (int(m_recent.size()) < m_policy.underrunsToGrow || m_step + 1 >= m_policy.ladder.size()) {
        return 0;
    }
    // The smaller period failed soon after a step down: wait longer before the next try.
    if (m_shrankLast && nowNs - m_lastChangeNs < 2 * m_quietNs) {
        m_quietNs = std::min(m_quietNs * 2, m_policy.longestQuietNs);
    }
    ++m_step;
    m_recent.clear();
    m_lastChangeNs = nowNs;
    m_shrankLast = false;
    return period();
}

int PeriodTuner::onQuiet(qint64 nowNs) {
    if (m_step == 0 || nowNs - std::max(m_lastChangeNs, m_lastUnderrunNs) < m_quietNs) {
        return 0;
    }
    --m_step;
    m_recent.clear();
    m_lastChangeNs = nowNs;
    m_shrankLast = true;
    return period();
}

} // namespace clavora::audio
