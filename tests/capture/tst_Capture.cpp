#include "Desktop.h"
#include "TestEnvironment.h"
#include "capture/Capture.h"
#include "platform/Platform.h"

using namespace TestDesktop;

class TTestCapture : public QObject
{
    Q_OBJECT
private slots:
    // A window partly off the screen: what the user cannot see is black in
    // the picture, never what the reused picture held before.
    void WindowOffScreenIsBlack_data()
    {
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QRect>("shown"); // the part on the monitor, window coordinates
        QTest::newRow("past the left edge")
            << QRect(-249, 300, 400, 300) << QRect(249, 0, 151, 300);
        QTest::newRow("past the bottom edge") << QRect(500, 900, 400, 300) << QRect(0, 0, 400, 180);
    }
    void WindowOffScreenIsBlack()
    {
        QFETCH(QRect, place);
        QFETCH(QRect, shown);
        TPlatform platform = LoadPlatform();
        TCapture capture(*platform.Screen, *platform.Windows);
        capture.FShowCursor = false;
        MovePointer({1500, 100});
        TPictureWindow window(place, QImage(), Unmanaged);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QImage bitmap(place.size(), QImage::Format_RGB32);
        bitmap.fill(0xFF5A3C1E); // stands for leftover memory
        QRect rect = place;
        QTRY_VERIFY((capture.Capture(bitmap, TWindowId(window.winId()), rect),
                     bitmap.copy(shown) == window.Image.copy(shown)));
        QCOMPARE(rect, place);
        QCOMPARE(bitmap.size(), place.size());
        if (const QString shots = qEnvironmentVariable("VORANTU_TEST_SHOTS"); !shots.isEmpty())
            bitmap.save(shots + "/capture " + QTest::currentDataTag() + ".png");
        for (int y = 0; y < bitmap.height(); ++y)
            for (int x = 0; x < bitmap.width(); ++x)
                if (!shown.contains(x, y) && bitmap.pixel(x, y) != 0xFF000000u)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is not black").arg(x).arg(y)));
    }
};

VORANTU_TEST_MAIN(TTestCapture)
#include "tst_Capture.moc"
