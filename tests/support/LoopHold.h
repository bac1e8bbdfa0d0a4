#pragma once

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>

// How long this thread's event loop is held from the user: from its waking
// until it may block again, less the time the system kept the thread
// waiting for a core. Time asleep does not count: a busy virtual machine
// wakes timers late, which is no work of the program. Needs Qt's own event
// dispatcher (QT_NO_GLIB=1 in the test's environment): the GLib one says
// when it wakes and blocks around its phases only, and SeesAHold() then
// fails. While it lives, a 10 ms timer keeps the loop turning.
class TLoopHoldMeter
{
public:
    TLoopHoldMeter()
    {
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        FClock.start();
        FWoke = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [this] {
            if (FAwakeNs < 0) {
                FAwakeNs = FClock.nsecsElapsed();
                FAwakeQueuedNs = QueuedNs();
            }
        });
        FBlocks = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this] {
            if (FAwakeNs < 0)
                return;
            const qint64 queued = QueuedNs() - FAwakeQueuedNs;
            const qint64 held = FClock.nsecsElapsed() - FAwakeNs - queued;
            if (held > FLongestNs) {
                FLongestNs = held;
                FLongestQueuedNs = queued;
            }
            FAwakeNs = -1;
            ++FTurns;
        });
        FTicker.start(10);
    }
    ~TLoopHoldMeter()
    {
        QObject::disconnect(FWoke);
        QObject::disconnect(FBlocks);
    }
    TLoopHoldMeter(const TLoopHoldMeter&) = delete;
    TLoopHoldMeter& operator=(const TLoopHoldMeter&) = delete;

    // Turns the loop until it has blocked once more, so the handling of the
    // last event is counted too.
    void TurnOnce()
    {
        const int before = FTurns;
        QEventLoop loop;
        QObject::connect(QAbstractEventDispatcher::instance(),
                         &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
                             if (FTurns > before)
                                 loop.quit();
                         });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
    }

    // Holds the loop for 80 ms once and says whether that was seen; a meter
    // that cannot see holds would pass anything. Forgets it afterwards.
    bool SeesAHold()
    {
        QTimer::singleShot(0, [] { QThread::msleep(80); });
        TurnOnce();
        const bool seen = FLongestNs >= 70'000'000;
        FLongestNs = FLongestQueuedNs = 0;
        return seen;
    }

    qint64 LongestMs() const { return FLongestNs / 1'000'000; }
    qint64 LongestQueuedMs() const { return FLongestQueuedNs / 1'000'000; }

private:
    // Nanoseconds this thread has waited in the run queue (0 where the
    // system does not say).
    static qint64 QueuedNs()
    {
        QFile stats(QStringLiteral("/proc/thread-self/schedstat"));
        if (!stats.open(QIODevice::ReadOnly))
            return 0;
        return stats.readAll().split(' ').value(1).toLongLong();
    }

    QElapsedTimer FClock;
    QTimer FTicker;
    QMetaObject::Connection FWoke;
    QMetaObject::Connection FBlocks;
    qint64 FAwakeNs = -1;
    qint64 FAwakeQueuedNs = 0;
    qint64 FLongestNs = 0;
    qint64 FLongestQueuedNs = 0;
    int FTurns = 0;
};
