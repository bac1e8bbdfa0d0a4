#include "record/ProcessTimer.h"

#include "record/DosCommand.h"

#include <cerrno>
#include <sys/timerfd.h>
#include <unistd.h>

void TProcessTimer::Beginning()
{
    {
        std::lock_guard lock(FCriticalSection);
        FSinceBeginning = 0;
        FSinceLastOutput = 0;
    }
    SetEnabled(true);
}

void TProcessTimer::Ending()
{
    SetEnabled(false);
}

void TProcessTimer::NewOutput()
{
    std::lock_guard lock(FCriticalSection);
    FSinceLastOutput = 0;
}

std::uint32_t TProcessTimer::SinceBeginning() const
{
    std::lock_guard lock(FCriticalSection);
    return FSinceBeginning;
}

std::uint32_t TProcessTimer::SinceLastOutput() const
{
    std::lock_guard lock(FCriticalSection);
    return FSinceLastOutput;
}

void TProcessTimer::SetEnabled(bool enabled)
{
    if (enabled == FEnabled)
        return;
    if (enabled) {
        if (!FEvent.IsValid())
            FEvent.Reset(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
        // Ticks left over from an earlier run must not count towards this one.
        std::uint64_t stale;
        while (FEvent.IsValid() && ::read(FEvent.Get(), &stale, sizeof stale) > 0) {
        }
        const itimerspec second{{1, 0}, {1, 0}};
        if (!FEvent.IsValid() || ::timerfd_settime(FEvent.Get(), 0, &second, nullptr) != 0)
            throw EProcessTimer("could not start timer");
    } else {
        const itimerspec off{};
        if (::timerfd_settime(FEvent.Get(), 0, &off, nullptr) != 0)
            throw EProcessTimer("could not kill timer");
    }
    FEnabled = enabled;
}

void TProcessTimer::CollectTicks()
{
    std::uint64_t ticks = 0;
    ssize_t n;
    do
        n = ::read(FEvent.Get(), &ticks, sizeof ticks);
    while (n < 0 && errno == EINTR);
    if (n != sizeof ticks || ticks == 0)
        return;
    std::lock_guard lock(FCriticalSection);
    FSinceBeginning += static_cast<std::uint32_t>(ticks);
    FSinceLastOutput += static_cast<std::uint32_t>(ticks);
}
