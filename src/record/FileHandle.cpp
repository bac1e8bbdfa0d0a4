#include "record/FileHandle.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

TFileHandle& TFileHandle::operator=(TFileHandle&& other) noexcept
{
    if (this != &other)
        Reset(other.Release());
    return *this;
}

int TFileHandle::Release()
{
    const int fd = FFd;
    FFd = -1;
    return fd;
}

bool TFileHandle::Reset(int fd)
{
    bool closed = true;
    if (FFd >= 0 && FFd != fd) {
        // Linux releases the descriptor even when close reports an error, so
        // retrying after EINTR could close a descriptor another thread has
        // just been given.
        closed = ::close(FFd) == 0 || errno == EINTR;
    }
    FFd = fd;
    return closed;
}

TEvent::TEvent() : FFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (!FFd.IsValid())
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

void TEvent::Signal()
{
    const std::uint64_t one = 1;
    // A full counter (2^64 - 2 signals unconsumed) cannot happen; the event
    // is readable either way, which is all a waiter looks at.
    while (::write(FFd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool TEvent::Consume()
{
    std::uint64_t count = 0;
    ssize_t n;
    do
        n = ::read(FFd.Get(), &count, sizeof count);
    while (n < 0 && errno == EINTR);
    return n == sizeof count;
}

bool WaitReadable(int fd, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = timeoutMs;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, wait);
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}
