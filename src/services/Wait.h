#pragma once

#include <functional>

// Runs `work` on a thread of its own and returns once it has finished,
// dispatching the user-interface thread's events at least every 10 ms in the
// meantime, so windows keep repainting and timers, hot keys and menus keep
// working. Callers must therefore tolerate re-entry. Exceptions thrown by
// `work` are swallowed: results travel through variables `work` shares with
// the caller. Call on the user-interface thread.
void Wait(const std::function<void()>& work);
