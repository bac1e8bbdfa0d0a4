#include "services/Wait.h"

#include <QCoreApplication>
#include <chrono>
#include <future>

void Wait(const std::function<void()>& work)
{
    // A thread per call rather than a shared pool: a nested Wait from an
    // event dispatched below must never queue behind its caller's work.
    std::future<void> done = std::async(std::launch::async, [work] {
        try {
            work();
        } catch (...) {
            // The caller learns of failures through the variables it shares
            // with the work, not through Wait.
        }
    });
    using namespace std::chrono_literals;
    while (done.wait_for(10ms) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}
