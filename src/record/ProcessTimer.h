#pragma once

#include "record/FileHandle.h"

#include <cstdint>
#include <mutex>

// The one-second tick behind the runner's two time limits: a timerfd that
// the worker waits on together with its other events, so the tick goes on
// whether or not the user-interface thread is busy. The runner enables and
// disables it on the user-interface thread; the worker collects the ticks
// and reads the counters. The counters count whole ticks, so a limit of N
// seconds is exceeded at the (N + 1)-th tick.
class TProcessTimer
{
public:
    TProcessTimer() = default;

    // Both counters to 0, then enabled. Throws EProcessTimer.
    void Beginning();
    // Disabled. Throws EProcessTimer.
    void Ending();
    // A complete output line arrived: the since-last-output counter restarts.
    void NewOutput();

    std::uint32_t SinceBeginning() const;
    std::uint32_t SinceLastOutput() const;

    // Starts or stops the tick; setting the current value again does
    // nothing. Throws EProcessTimer "could not start timer" or "could not kill
    // timer" when the kernel refuses.
    void SetEnabled(bool enabled);
    bool Enabled() const { return FEnabled; }

    // The descriptor that becomes readable at every tick (-1 before the
    // first enabling).
    int EventHandle() const { return FEvent.Get(); }
    // Adds the ticks that have passed since the last call to both counters.
    // Worker thread.
    void CollectTicks();

private:
    mutable std::mutex FCriticalSection;
    bool FEnabled = false;
    TFileHandle FEvent;
    std::uint32_t FSinceBeginning = 0;
    std::uint32_t FSinceLastOutput = 0;
};
