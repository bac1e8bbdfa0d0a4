#include "Desktop.h"
#include "TestEnvironment.h"
#include "capture/Drag.h"
#include "platform/Platform.h"

#include <QRandomGenerator>
#include <QTimer>
#include <functional>

using namespace TestDesktop;

namespace {

// The real screen as a display that cannot keep a frozen copy itself: the
// overlay then grabs the picture and paints it from the program.
class TGrabbedOnly : public TScreen
{
public:
    explicit TGrabbedOnly(TScreen& screen) : FScreen(screen) {}
    QList<QRect> Monitors() const override { return FScreen.Monitors(); }
    bool Grab(const QRect& rect, QImage& target) override { return FScreen.Grab(rect, target); }
    QPoint CursorPosition() const override { return FScreen.CursorPosition(); }
    std::optional<TCursorImage> Cursor() const override { return FScreen.Cursor(); }
    std::optional<QRgb> Pixel(const QPoint& position) override { return FScreen.Pixel(position); }

private:
    TScreen& FScreen;
};

} // namespace

class TTestDrag : public QObject
{
    Q_OBJECT
private:
    TPlatform FPlatform;

    // Runs the overlay modally while `script` plays the user's part; returns
    // what exec() returned. Unless `byServer`, the overlay works on a screen
    // that cannot keep a frozen copy in the display server.
    int RunOverlay(QImage& bitmap, QRect& rect, const std::function<void(TFrmDrag&)>& script,
                   bool byServer = true)
    {
        TGrabbedOnly grabbed(*FPlatform.Screen);
        TFrmDrag drag(byServer ? *FPlatform.Screen : static_cast<TScreen&>(grabbed));
        drag.Capture(bitmap, rect);
        QTimer::singleShot(0, &drag, [&drag, &script] {
            if (!QTest::qWaitFor([&drag] { return drag.isActiveWindow(); }, 3000))
                QTest::qFail("the overlay did not become the active window", __FILE__, __LINE__);
            else
                script(drag);
        });
        // A script that failed half way must not leave the overlay up.
        QTimer::singleShot(20000, &drag, &QDialog::reject);
        const int result = drag.exec();
        Xdotool({"mouseup", "1"});
        return result;
    }

private slots:
    void initTestCase()
    {
        FPlatform = LoadPlatform();
        QCOMPARE(FPlatform.Screen->Monitors(),
                 (QList<QRect>{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)}));
        MovePointer({3000, 1000});
    }

    void cleanupTestCase() { FPlatform = TPlatform(); }

    void Dimming_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("dimmed");
        QTest::newRow("white") << 255 << 153;
        QTest::newRow("100") << 100 << 60;
        QTest::newRow("one stays") << 1 << 1;
        QTest::newRow("black") << 0 << 0;
        QTest::newRow("rounds to nearest") << 3 << 2;
    }
    void Dimming()
    {
        QFETCH(int, value);
        QFETCH(int, dimmed);
        QCOMPARE(int(TDragPicture::Dim(quint8(value))), dimmed);
    }

    // The overlay redraws only what changed and dims as it paints; what it
    // shows must still be the whole picture dimmed outside the selection,
    // after any sequence of moves. The wide picture is dimmed in several
    // bands of rows.
    void ShownPictureIsTheFrozenScreenDimmedOutsideTheSelection_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("small") << QSize(97, 61);
        QTest::newRow("several bands") << QSize(1001, 211);
    }
    void ShownPictureIsTheFrozenScreenDimmedOutsideTheSelection()
    {
        QFETCH(QSize, size);
        const QImage screen = Pattern(size);
        TDragPicture picture;
        picture.Freeze(screen);
        QImage shown(screen.size(), QImage::Format_RGB32);
        shown.fill(Qt::magenta);
        {
            QPainter painter(&shown);
            picture.Paint(painter, QRegion(shown.rect()));
        }
        // White (the pattern's square) before any selection.
        QCOMPARE(shown.pixel(15, 15), qRgb(153, 153, 153));
        QRandomGenerator random(7);
        const QList<QRect> fixed = {QRect(),
                                    QRect(10, 10, 30, 20),
                                    QRect(12, 8, 30, 25),
                                    QRect(80, 50, 40, 40),
                                    QRect(QPoint(0, 0), size),
                                    QRect(5, 5, 0, 9)};
        const auto anywhere = [&](int length) {
            return random.bounded(-5, length + 8);
        };
        for (int step = 0; step < 60; ++step) {
            const QRect selection =
                step < fixed.size() ? fixed[step]
                                    : TFrmDrag::NormalizeRect(
                                          QPoint(anywhere(size.width()), anywhere(size.height())),
                                          QPoint(anywhere(size.width()), anywhere(size.height())));
            const QRegion changed = picture.Select(selection);
            {
                QPainter painter(&shown);
                picture.Paint(painter, changed);
            }
            QImage expected;
            TDragPicture::DimOutside(screen, selection.intersected(screen.rect()), expected);
            QVERIFY2(shown == expected, qPrintable(QStringLiteral("step %1").arg(step)));
        }
    }

    void NormalizeRect_data()
    {
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QRect>("rect");
        QTest::newRow("down right")
            << QPoint(100, 100) << QPoint(500, 400) << QRect(100, 100, 400, 300);
        QTest::newRow("up left") << QPoint(500, 400) << QPoint(100, 100)
                                 << QRect(100, 100, 400, 300);
        QTest::newRow("up right") << QPoint(100, 400) << QPoint(500, 100)
                                  << QRect(100, 100, 400, 300);
        QTest::newRow("no movement") << QPoint(7, 9) << QPoint(7, 9) << QRect(7, 9, 0, 0);
    }
    void NormalizeRect()
    {
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(QRect, rect);
        QCOMPARE(TFrmDrag::NormalizeRect(from, to), rect);
    }

    void ReportsScreenCoordinatesFromTheLeftmostMonitor()
    {
        const QList<QRect> monitors = {QRect(0, 0, 1920, 1080), QRect(-1920, 120, 1920, 1080)};
        QCOMPARE(TFrmDrag::MinMonitorLeft(monitors), -1920);
        QCOMPARE(TFrmDrag::MinMonitorTop(monitors), 0);
        QCOMPARE(TFrmDrag::MinMonitorLeft({}), INT_MAX);
    }

    void DragDeliversThePlace_data()
    {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<bool>("byServer");
        QTest::newRow("second monitor, dragged up-left")
            << QRect(2000, 80, 500, 400) << QPoint(1920 + 500, 400) << QPoint(1920 + 100, 100)
            << QRect(2020, 100, 400, 300) << true;
        QTest::newRow("across the monitor boundary")
            << QRect(1700, 500, 500, 300) << QPoint(1750, 550) << QPoint(2100, 700)
            << QRect(1750, 550, 350, 150) << true;
        QTest::newRow("across the monitor boundary, grabbed")
            << QRect(1700, 500, 500, 300) << QPoint(1750, 550) << QPoint(2100, 700)
            << QRect(1750, 550, 350, 150) << false;
    }
    void DragDeliversThePlace()
    {
        QFETCH(QRect, window);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(QRect, rect);
        QFETCH(bool, byServer);
        TPictureWindow picture(window);
        picture.show();
        QVERIFY(QTest::qWaitForWindowExposed(&picture));
        // What the screen shows before the overlay is what the drag must
        // deliver, pixel for pixel, at any scale.
        const QPoint white = window.topLeft() + QPoint(12, 12); // outside both selections
        QTRY_COMPARE(FPlatform.Screen->Pixel(white), std::optional<QRgb>(qRgb(255, 255, 255)));
        QImage before(rect.size(), QImage::Format_RGB32);
        QVERIFY(FPlatform.Screen->Grab(rect, before));

        QImage bitmap;
        QRect result;
        int whileDragging = -1;
        const int code = RunOverlay(
            bitmap, result,
            [&](TFrmDrag& drag) {
                Drag(from, to, false);
                // The dimming is painted after the last motion; the value is checked below.
                (void)QTest::qWaitFor(
                    [&] {
                        whileDragging = qRed(FPlatform.Screen->Pixel(white).value_or(0));
                        return whileDragging == 153;
                    },
                    5000);
                Shot(*FPlatform.Screen,
                     QStringLiteral("drag %1 %2").arg(QTest::currentDataTag(), ScaleName()));
                QVERIFY(drag.isVisible());
                Xdotool({"mouseup", "1"});
            },
            byServer);
        QCOMPARE(whileDragging, 153);
        QCOMPARE(code, int(QDialog::Accepted));
        QCOMPARE(result, rect);
        QCOMPARE(bitmap.size(), rect.size());
        QCOMPARE(bitmap.convertToFormat(QImage::Format_RGB32), before);
    }

    // The first frame, all dimmed, whether this program or the display
    // server dims it: every value of every channel, read back from the screen.
    void FirstFrameDimsEveryValueExactly_data()
    {
        QTest::addColumn<bool>("byServer");
        QTest::newRow("by the server") << true;
        QTest::newRow("grabbed") << false;
    }
    void FirstFrameDimsEveryValueExactly()
    {
        QFETCH(bool, byServer);
        QImage values(256, 4, QImage::Format_RGB32);
        for (int y = 0; y < values.height(); ++y)
            for (int x = 0; x < values.width(); ++x)
                values.setPixel(x, y, qRgb(x, (x + 85 * (y + 1)) & 0xFF, 255 - x));
        const QRect window(300, 200, values.width(), values.height());
        TPictureWindow picture(window, values);
        picture.show();
        QVERIFY(QTest::qWaitForWindowExposed(&picture));
        QImage before(window.size(), QImage::Format_RGB32);
        QTRY_VERIFY(FPlatform.Screen->Grab(window, before) && before == values);

        QImage expected;
        TDragPicture::DimOutside(values, QRect(), expected);
        QImage shown(window.size(), QImage::Format_RGB32);
        QImage bitmap;
        QRect rect;
        bool shownByServer = false;
        RunOverlay(
            bitmap, rect,
            [&](TFrmDrag& drag) {
                shownByServer = drag.ShownByServer();
                // The frame is on screen once a corner reads dimmed.
                const QPoint corner = window.topLeft() + QPoint(255, 3);
                (void)QTest::qWaitFor(
                    [&] {
                        return FPlatform.Screen->Pixel(corner) ==
                               std::optional<QRgb>(expected.pixel(255, 3));
                    },
                    5000);
                QVERIFY(FPlatform.Screen->Grab(window, shown));
                Key("Escape");
            },
            byServer);
        // The test desktop is an X server, which can keep the frozen screen.
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            QCOMPARE(shownByServer, byServer);
        QCOMPARE(shown, expected);
    }

    // What the selection leaves when it shrinks goes back to dimmed; what
    // it keeps stays as it was.
    void ShrinkingTheSelectionDimsWhatItLeaves()
    {
        QImage white(400, 300, QImage::Format_RGB32);
        white.fill(Qt::white);
        TPictureWindow picture(QRect(400, 300, 400, 300), white);
        picture.show();
        QVERIFY(QTest::qWaitForWindowExposed(&picture));
        QTRY_COMPARE(FPlatform.Screen->Pixel({700, 500}), std::optional<QRgb>(qRgb(255, 255, 255)));

        const auto red = [this](const QPoint& at) {
            return qRed(FPlatform.Screen->Pixel(at).value_or(0));
        };
        int left = -1;
        int kept = -1;
        QImage bitmap;
        QRect rect;
        RunOverlay(bitmap, rect, [&](TFrmDrag&) {
            Drag({420, 320}, {780, 580}, false);
            QVERIFY(QTest::qWaitFor([&] { return red({700, 500}) == 255; }, 5000));
            MovePointer({520, 420});
            (void)QTest::qWaitFor([&] { return (left = red({700, 500})) == 153; }, 5000);
            kept = red({470, 370});
            Key("Escape");
        });
        QCOMPARE(left, 153);
        QCOMPARE(kept, 255);
    }

    void ClickWithoutMovementKeepsTheOverlay()
    {
        QImage bitmap(4, 4, QImage::Format_RGB32);
        QRect rect;
        bool stillUp = false;
        const int code = RunOverlay(bitmap, rect, [&](TFrmDrag& drag) {
            Click({600, 500});
            Settle();
            stillUp = drag.isVisible();
            Key("Escape");
        });
        QVERIFY(stillUp);
        QCOMPARE(code, int(QDialog::Rejected));
        QVERIFY(bitmap.isNull());
    }

    void EscapeCancelsMidDrag()
    {
        QImage bitmap;
        QRect rect(1, 2, 3, 4);
        const int code = RunOverlay(bitmap, rect, [&](TFrmDrag&) {
            Drag({300, 300}, {700, 600}, false);
            Key("Escape");
        });
        QCOMPARE(code, int(QDialog::Rejected));
        QVERIFY(bitmap.isNull());
        QCOMPARE(rect, QRect(1, 2, 3, 4));
    }

    // As when the global hot key starts the capture: another program is
    // active and the overlay must take over, then give up when the user
    // switches to another program.
    void TakesTheFocusFromAnotherProgramAndCancelsWhenItReturns()
    {
        TForeignWindow foreign(QPoint(300, 200));
        QVERIFY(!foreign.Id.isEmpty());
        foreign.Activate();
        QCOMPARE(QString::number(ActiveWindow()), foreign.Id);

        QImage bitmap;
        QRect rect;
        bool stayed = false;
        const int code = RunOverlay(bitmap, rect, [&](TFrmDrag& drag) {
            (void)QTest::qWaitFor([&drag] { return drag.isActiveWindow(); }, 5000);
            // Whatever the window manager makes of the activation is done by now.
            (void)WindowManagerRoundTrip();
            Settle();
            stayed = drag.isVisible() && drag.isActiveWindow();
            foreign.Activate();
            (void)QTest::qWaitFor([&drag] { return !drag.isVisible(); }, 3000);
        });
        QVERIFY(stayed);
        QCOMPARE(code, int(QDialog::Rejected));
        QVERIFY(bitmap.isNull());
    }
};

VORANTU_TEST_MAIN(TTestDrag)
#include "tst_Drag.moc"
