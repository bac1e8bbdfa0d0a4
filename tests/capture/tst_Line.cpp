#include "Desktop.h"
#include "TestEnvironment.h"
#include "capture/Capture.h"
#include "capture/Line.h"
#include "platform/NativeWindow.h"
#include "platform/Platform.h"

#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

using namespace TestDesktop;

namespace {

// The picker follows the pointer on its timer: after two ticks it has seen
// where the pointer is now; it paints on every eleventh.
void WaitTicks(TFrmLine* picker, int count = 2)
{
    QSignalSpy ticks(picker->findChild<QTimer*>(QStringLiteral("Timer1")), &QTimer::timeout);
    QTRY_VERIFY(ticks.size() >= count);
}

bool IsBlackOrWhite(QRgb pixel)
{
    return (pixel & 0xFFFFFF) == 0 || (pixel & 0xFFFFFF) == 0xFFFFFF;
}

} // namespace

class TTestLine : public QObject
{
    Q_OBJECT
private:
    TPlatform FPlatform;
    int FArea = 4;
    QWidget FMain;

    QPointer<TFrmLine> Open()
    {
        QPointer<TFrmLine> picker = new TFrmLine(
            *FPlatform.Screen, *FPlatform.Windows, [this] { return FArea; }, &FMain);
        picker->show();
        return picker;
    }

    QRect Frame(QWidget& window)
    {
        return FPlatform.Windows->VisibleFrame(window.winId()).value_or(QRect());
    }

    // Where the server has the picker, in physical pixels.
    static QRect OnScreen(TFrmLine* picker) { return WindowRectOnScreen(picker); }

private slots:
    void initTestCase()
    {
        FPlatform = LoadPlatform();
        FMain.setWindowTitle(QStringLiteral("main window"));
    }

    void cleanupTestCase() { FPlatform = TPlatform(); }

    void init() { FArea = 4; }

    void SegmentsLeaveOutTheirEndPoint()
    {
        QList<QPoint> points;
        const auto add = [&points](int x, int y) {
            points.append(QPoint(x, y));
        };
        LineDDA({0, 0}, {9, 0}, add);
        LineDDA({9, 0}, {9, 9}, add);
        LineDDA({9, 9}, {0, 9}, add);
        LineDDA({0, 9}, {0, -1}, add);
        QCOMPARE(points.size(), 37);
        QCOMPARE(points.first(), QPoint(0, 0));
        QCOMPARE(points[9], QPoint(9, 0));
        QCOMPARE(points.last(), QPoint(0, 0));
        QSet<QPoint> ring(points.begin(), points.end());
        QCOMPARE(ring.size(), 36);

        points.clear();
        LineDDA({0, 0}, {4, 2}, add);
        QCOMPARE(points, (QList<QPoint>{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
    }

    void RingFollowsTheWindowUnderThePointer()
    {
        TTarget target(QRect(300, 250, 400, 300), QColor(20, 120, 200), TTarget::TControl::Native);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        QTRY_VERIFY(!Frame(target).isEmpty());
        MovePointer(Frame(target).center());
        QPointer<TFrmLine> picker = Open();

        // One physical pixel outside the target, at any scale.
        QTRY_COMPARE(picker->Target(), TWindowId(target.winId()));
        QTRY_COMPARE(OnScreen(picker), Frame(target).adjusted(-1, -1, 1, 1));
        QCOMPARE(picker->RingRect(), OnScreen(picker));
        // A title bar belongs to its window.
        MovePointer(Frame(target).topLeft() + QPoint(60, 5));
        WaitTicks(picker);
        QCOMPARE(picker->Target(), TWindowId(target.winId()));

        // The control inside it has a ring of its own.
        const QRect button = WindowRectOnScreen(target.Button);
        MovePointer(button.center());
        QTRY_COMPARE(OnScreen(picker), button.adjusted(-1, -1, 1, 1));
        QCOMPARE(picker->Target(), TWindowId(target.Button->winId()));

        // Over the bare desktop the capture takes the monitor under the
        // pointer, and the ring marks that monitor.
        MovePointer({2800, 300});
        QTRY_COMPARE(picker->Target(), TWindowId(0));
        QTRY_COMPARE(OnScreen(picker), QRect(1920, 0, 1280, 1024));
        TCapture capture(*FPlatform.Screen, *FPlatform.Windows);
        QImage bitmap;
        QRect rect;
        capture.Capture(bitmap, picker->Target(), rect);
        QCOMPARE(rect, OnScreen(picker));
        Shot(*FPlatform.Screen, QStringLiteral("picker on the bare desktop ") + ScaleName());
        picker->close();
        QTRY_VERIFY(picker.isNull());
    }

    // Five black, three white, crawling on: the phase carries over from one
    // painting to the next, and every eleventh tick paints.
    void PaintsTheDashPattern()
    {
        TTarget target(QRect(300, 250, 400, 300), QColor(20, 120, 200), TTarget::TControl::Native);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        MovePointer(target.mapToGlobal(QPoint(250, 200)));
        auto* picker = new TFrmLine(
            *FPlatform.Screen, *FPlatform.Windows, [this] { return FArea; }, &FMain);
        const QRgb face = picker->palette().color(QPalette::Button).rgb();
        for (int tick = 0; tick < 10; ++tick)
            picker->Timer1Timer();
        QCOMPARE(picker->RingRect(), Frame(target).adjusted(-1, -1, 1, 1));
        QCOMPARE(picker->Ring().pixel(5, 0), face);
        picker->Timer1Timer();
        const QImage first = picker->Ring();
        const int w = first.width();
        const int h = first.height();
        const int steps = 2 * (w - 1) + 2 * (h - 1) + 1;
        for (int x = 0; x < 24; ++x)
            QCOMPARE(qRed(first.pixel(x, 0)) == 255, x % 8 >= 5);
        for (int y = 1; y < 24; ++y) // down the right side, after the top row's w - 1 steps
            QCOMPARE(qRed(first.pixel(w - 1, y)) == 255, (w - 1 + y) % 8 >= 5);

        for (int tick = 0; tick < 11; ++tick)
            picker->Timer1Timer();
        const QImage second = picker->Ring();
        for (int x = 1; x < 24; ++x)
            QCOMPARE(qRed(second.pixel(x, 0)) == 255, (x + steps) % 8 >= 5);

        // What the screen shows is the ring as painted, nothing else.
        picker->show();
        QVERIFY(QTest::qWaitForWindowExposed(picker));
        WaitTicks(picker, 12);
        picker->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
        // Showing resizes, which clears the ring: one more painting, by hand.
        for (int tick = 0; tick < 11; ++tick)
            picker->Timer1Timer();
        const QImage ring = picker->Ring();
        QImage screen(ring.size(), QImage::Format_RGB32);
        QTRY_VERIFY(FPlatform.Screen->Grab(OnScreen(picker), screen) &&
                    screen.copy(0, 0, w, 1) == ring.copy(0, 0, w, 1));
        for (int x = 0; x < w; ++x) {
            QCOMPARE(screen.pixel(x, 0), ring.pixel(x, 0));
            QCOMPARE(screen.pixel(x, h - 1), ring.pixel(x, h - 1));
            QVERIFY(IsBlackOrWhite(screen.pixel(x, 0)));
        }
        for (int y = 0; y < h; ++y) {
            QCOMPARE(screen.pixel(0, y), ring.pixel(0, y));
            QCOMPARE(screen.pixel(w - 1, y), ring.pixel(w - 1, y));
        }
        Shot(QStringLiteral("picker"), OnScreen(picker).adjusted(-20, -20, 20, 20));
        picker->close();
    }

    void ClicksPassAndTheCaptureHasNoRing()
    {
        TTarget target(QRect(300, 250, 400, 300), QColor(20, 120, 200), TTarget::TControl::Native);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        MovePointer(target.mapToGlobal(QPoint(250, 200)));
        QPointer<TFrmLine> picker = Open();
        QTRY_COMPARE(OnScreen(picker), Frame(target).adjusted(-1, -1, 1, 1));
        WaitTicks(picker, 12);
        Settle(); // the ring is on screen

        TCapture capture(*FPlatform.Screen, *FPlatform.Windows);
        capture.FShowCursor = false;
        QImage withRing;
        QRect rect;
        capture.Capture(withRing, target.winId(), rect);
        QCOMPARE(rect, OnScreen(picker).adjusted(1, 1, -1, -1));
        picker->hide();
        // The target repaints what the ring covered once the X server has unmapped it.
        QImage without;
        QTRY_VERIFY((capture.Capture(without, target.winId(), rect), without == withRing));
        picker->show();

        // A click on the ring reaches what lies below; the picker never takes the focus.
        FMain.show();
        QVERIFY(QTest::qWaitForWindowExposed(&FMain));
        FMain.activateWindow();
        QTRY_VERIFY(FMain.isActiveWindow());
        QVERIFY(WindowManagerRoundTrip());
        const QPoint onRing(OnScreen(picker).center().x(), OnScreen(picker).bottom());
        QCOMPARE(FPlatform.Windows->WindowAt(onRing) == TWindowId(picker->winId()), false);
        Click(onRing);
        Settle();
        QVERIFY(WindowManagerRoundTrip());
        Settle();
        QVERIFY(!picker->isActiveWindow());
        FMain.hide();
        picker->close();
    }

    void RingFollowsTheActiveWindowForArea3()
    {
        TForeignWindow foreign(QPoint(900, 300));
        QVERIFY(!foreign.Id.isEmpty());
        foreign.Activate();
        FArea = 3;
        MovePointer({100, 100});
        QPointer<TFrmLine> picker = Open();
        const TWindowId id = foreign.Id.toULongLong();
        QTRY_COMPARE(picker->Target(), id);
        QCOMPARE(OnScreen(picker),
                 FPlatform.Windows->VisibleFrame(id).value_or(QRect()).adjusted(-1, -1, 1, 1));

        // Any other area leaves the ring where it is.
        FArea = 0;
        const QRect before = OnScreen(picker);
        MovePointer({2500, 500});
        WaitTicks(picker);
        QCOMPARE(OnScreen(picker), before);
        picker->close();
    }
};

VORANTU_TEST_MAIN(TTestLine)
#include "tst_Line.moc"
