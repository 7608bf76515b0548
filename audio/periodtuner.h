// The device period chosen at run time: as small as the machine sustains, larger while it drops out. The device
// does not say when it runs dry, so underruns are inferred from the timing of its callback.
#pragma once

#include "platform/systeminfo.h"

#include <QtGlobal>

#include <algorithm>
#include <functional>
#include <vector>

namespace clavora::audio {

// Audio the sound server holds ahead, modelled from the callback: each callback hands it one period, and it plays
// in real time in between. A callback that comes when the model has been empty for more than half a period finds
// the server already dry. Audio thread only.
class UnderrunDetector {
public:
    // At the start of every callback: NowNs on the steady clock, Frames handed in this period, Rate of the device.
    // True when the server must have run dry since the previous callback.
    bool onCallback(qint64 nowNs, int frames, int rate);
    // Forgets the history, as after the device was opened or resumed.
    void reset() { m_lastNs = 0; }

private:
    qint64 m_lastNs = 0;
    qint64 m_aheadNs = 0;
};

struct PeriodPolicy {
    // The periods tried, smallest first, in frames.
    std::vector<int> ladder{128, 256, 512, 1024};
    // This many underruns within WindowNs move one step up the ladder.
    int underrunsToGrow = 2;
    qint64 windowNs = 10'000'000'000;
    // A step down after this long without an underrun; doubled each time the smaller period fails again soon.
    qint64 quietNs = 30'000'000'000;
    qint64 longestQuietNs = 600'000'000'000;
    // The smallest period while the machine is busy (see machineBusy), 0 for none: on a loaded machine the small
    // periods drop out before the underruns that would show it have been counted.
    int busyPeriod = 0;
};

// Whether the processors are too busy for the smallest periods, from one reading: other threads ready to run fill
// every processor, or some thread has waited for one a good part of the last seconds.
bool machineBusy(const platform::ProcessorLoad& load);

// Whether the machine is busy, judged over about the last second: the share of that time in which some thread
// waited for a processor, where the system counts it, or else machineBusy on the reading of the moment. Controlling
// thread.
class LoadWatch {
public:
    explicit LoadWatch(std::function<platform::ProcessorLoad()> read);

    // Now and then (every second or more often), at NowNs on the steady clock: keeps a reading to judge by.
    void tick(qint64 nowNs);
    bool busy(qint64 nowNs);

private:
    struct Reading {
        qint64 atNs = 0;
        platform::ProcessorLoad load;
    };
    void keep(const Reading& reading);

    std::function<platform::ProcessorLoad()> m_read;
    Reading m_older;
    Reading m_newer;
};

// Which period the device should run at. Controlling thread.
class PeriodTuner {
public:
    explicit PeriodTuner(PeriodPolicy policy = {});

    int period() const { return m_policy.ladder[std::max(m_step, m_loadStep)]; }
    // Underruns seen in all.
    quint64 underruns() const { return m_underruns; }

    // Underruns counted since the last call, at NowNs: the larger period to switch to, or 0 to stay.
    int onUnderruns(int count, qint64 nowNs);
    // Asked now and then, at NowNs: the smaller period to switch to after a quiet while, or 0 to stay.
    int onQuiet(qint64 nowNs);
    // Whether the machine is busy now: the period it needs at least (see PeriodPolicy::busyPeriod), or the one the
    // underruns alone call for once it is no longer busy; 0 when the period stays.
    int onLoad(bool busy);

private:
    PeriodPolicy m_policy;
    size_t m_step = 0;     // what the underruns call for
    size_t m_loadStep = 0; // what the machine's load calls for
    quint64 m_underruns = 0;
    std::vector<qint64> m_recent; // times of the underruns within the window
    qint64 m_lastChangeNs = 0;
    qint64 m_lastUnderrunNs = 0;
    qint64 m_quietNs;
    bool m_shrankLast = false;
};

} // namespace clavora::audio
