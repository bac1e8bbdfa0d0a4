#pragma once

#include <cstdint>

// An owned file descriptor: closed when the handle goes, moved but never
// copied. Every descriptor the console process runner opens lives in one of
// these, so no run can leave one behind however it ends.
class TFileHandle
{
public:
    TFileHandle() = default;
    explicit TFileHandle(int fd) : FFd(fd) {}
    ~TFileHandle() { Reset(); }
    TFileHandle(TFileHandle&& other) noexcept : FFd(other.Release()) {}
    TFileHandle& operator=(TFileHandle&& other) noexcept;
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;

    int Get() const { return FFd; }
    bool IsValid() const { return FFd >= 0; }
    int Release();
    // Closes the descriptor held (if any) and takes `fd`. Returns false when
    // closing the old one failed; the handle is reset either way.
    bool Reset(int fd = -1);

private:
    int FFd = -1;
};

// An auto-reset event made of an eventfd: Signal() makes its descriptor
// readable, Consume() reads it back to not signalled. Any thread may signal;
// the thread that waits on the descriptor consumes.
class TEvent
{
public:
    // Throws std::system_error when the kernel refuses an eventfd.
    TEvent();

    int Handle() const { return FFd.Get(); }
    void Signal();
    // True when the event was signalled.
    bool Consume();

private:
    TFileHandle FFd;
};

// Waits until `fd` is readable or `timeoutMs` has passed (-1 waits for
// ever); true when readable. Interrupted waits are resumed.
bool WaitReadable(int fd, int timeoutMs);
