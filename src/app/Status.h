#pragma once

#include <memory>

// The controller status: the one guard against overlapping captures, since
// nested event loops (modal windows, message boxes, waits) let new triggers
// arrive while a capture runs.
enum TStatus
{
    stIdle = 0,
    stBusy = 1
};

// Keeps the controller busy from its making until Release() or its end,
// whichever comes first. Work that finishes later (a recognition, a
// recording) takes the token over, so the controller turns idle exactly when
// the last piece of a capture is done, on every path including exceptions
// and completions that never run. Tokens count: the status is busy while any
// token holds it. The count is shared, so a token may outlive its controller.
class TBusyToken
{
public:
    explicit TBusyToken(std::shared_ptr<int> holders) : FHolders(std::move(holders))
    {
        ++*FHolders;
    }
    ~TBusyToken() { Release(); }
    TBusyToken(const TBusyToken&) = delete;
    TBusyToken& operator=(const TBusyToken&) = delete;

    void Release()
    {
        if (FHolders) {
            --*FHolders;
            FHolders.reset();
        }
    }

private:
    std::shared_ptr<int> FHolders;
};

// A token shared by the completions that may finish a capture; copyable so
// that it fits into any callback.
using TBusy = std::shared_ptr<TBusyToken>;
