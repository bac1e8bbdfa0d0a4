#include "TestEnvironment.h"
#include "services/Wait.h"

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

class TTestWait : public QObject
{
    Q_OBJECT
private slots:
    void KeepsDispatchingAndReturnsPromptly()
    {
        int ticks = 0;
        QTimer timer;
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start();

        std::atomic<qint64> finishedAt{0};
        QElapsedTimer clock;
        clock.start();
        Wait([&] {
            std::this_thread::sleep_for(600ms);
            finishedAt = clock.nsecsElapsed();
        });
        const qint64 returnedAt = clock.nsecsElapsed();

        QVERIFY2(ticks >= 10, qPrintable(QString("timer ticked %1 times").arg(ticks)));
        // The wait slice is 10 ms; allow for a loaded machine.
        QVERIFY((returnedAt - finishedAt) / 1000000 < 100);
    }

    void SwallowsExceptions()
    {
        bool ran = false;
        Wait([&] {
            ran = true;
            throw std::runtime_error("lost on purpose");
        });
        QVERIFY(ran);
        Wait([] { throw 42; });
    }

    void ResultsTravelThroughSharedVariables()
    {
        QString result;
        Wait([&] { result = QStringLiteral("done"); });
        QCOMPARE(result, QStringLiteral("done"));
    }

    void NestedWaitsComplete()
    {
        // A re-entrant trigger during the wait starts a second Wait; both end.
        bool inner = false;
        QTimer::singleShot(10, [&] {
            Wait([&] {
                std::this_thread::sleep_for(50ms);
                inner = true;
            });
        });
        Wait([] { std::this_thread::sleep_for(200ms); });
        QTRY_VERIFY(inner);
    }
};

VORANTU_TEST_MAIN(TTestWait)
#include "tst_Wait.moc"
