#include "Desktop.h"
#include "TestEnvironment.h"
#include "platform/x11/X11Screen.h"
#include "platform/x11/Xcb.h"

#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QWidget>

Q_DECLARE_METATYPE(TX11Screen::TTransfer)

using TestDesktop::MovePointer;

namespace {

// Every pixel different from its neighbours, so an offset of one shows.
QImage Pattern(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7 + y) & 0xFF, (y * 13) & 0xFF, (x ^ (y * 3)) & 0xFF));
    return image;
}

// A window at an exact place, unmanaged so no frame moves it.
class TPatternWindow : public QWidget
{
public:
    TPatternWindow(const QRect& geometry)
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                               Qt::WindowStaysOnTopHint),
          FImage(Pattern(geometry.size()))
    {
        setGeometry(geometry);
    }
    const QImage& Image() const { return FImage; }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, FImage); }

private:
    QImage FImage;
};

} // namespace

class TTestScreen : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { MovePointer({1500, 900}); }

    void MonitorsInQtOrder()
    {
        TX11Screen screen(QtXcbConnection());
        QCOMPARE(screen.Monitors(),
                 (QList<QRect>{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)}));
    }

    void GrabsExactly_data()
    {
        QTest::addColumn<TX11Screen::TTransfer>("transfer");
        QTest::addColumn<QRect>("place");
        using T = TX11Screen::TTransfer;
        QTest::newRow("shared memory, left monitor") << T::SharedMemory << QRect(100, 120, 173, 91);
        QTest::newRow("shared memory, right monitor")
            << T::SharedMemory << QRect(2050, 300, 240, 150);
        QTest::newRow("get image, left monitor") << T::GetImage << QRect(100, 120, 173, 91);
        QTest::newRow("get image, right monitor") << T::GetImage << QRect(2050, 300, 240, 150);
    }
    void GrabsExactly()
    {
        QFETCH(TX11Screen::TTransfer, transfer);
        QFETCH(QRect, place);
        TPatternWindow window(place);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        TX11Screen screen(QtXcbConnection(), transfer);
        QImage target(place.size() + QSize(5, 5), QImage::Format_RGB32);
        // Once the window has painted, the copy is the pattern to the pixel.
        QTRY_VERIFY((screen.Grab(place, target) &&
                     target.copy(QRect(QPoint(), place.size())) == window.Image()));
        QCOMPARE(screen.Transfer(), transfer);
        // A second, smaller grab reuses what the first set up.
        const QRect inner = place.adjusted(10, 10, -30, -20);
        QVERIFY(screen.Grab(inner, target));
        QCOMPARE(target.copy(QRect(QPoint(), inner.size())),
                 window.Image().copy(QRect(QPoint(10, 10), inner.size())));
        QCOMPARE(screen.Transfer(), transfer);
        QCOMPARE(target.pixel(0, 0) >> 24, 0xFFu);
        QCOMPARE(screen.Pixel(place.topLeft() + QPoint(7, 3)),
                 std::optional<QRgb>(window.Image().pixel(7, 3)));
    }

    void OffScreenIsBlack_data()
    {
        QTest::addColumn<TX11Screen::TTransfer>("transfer");
        QTest::addColumn<bool>("snapshot");
        QTest::newRow("shared memory") << TX11Screen::TTransfer::SharedMemory << false;
        QTest::newRow("get image") << TX11Screen::TTransfer::GetImage << false;
        // Frozen in the server and read back from there.
        QTest::newRow("snapshot") << TX11Screen::TTransfer::SharedMemory << true;
    }
    void OffScreenIsBlack()
    {
        QFETCH(TX11Screen::TTransfer, transfer);
        QFETCH(bool, snapshot);
        // The root is 3200 x 1080 and the right monitor 1024 high: this
        // window's lower right corner hangs past the root, and its lower
        // part lies in the root below that monitor, where nothing shows.
        TPatternWindow window(QRect(3100, 1000, 100, 80));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        TX11Screen screen(QtXcbConnection(), transfer);
        const auto grab = [&](const QRect& rect, QImage& target) {
            if (!snapshot)
                return screen.Grab(rect, target);
            const std::unique_ptr<TScreenSnapshot> frozen = screen.Snapshot(rect);
            return frozen && frozen->Read(QRect(QPoint(0, 0), rect.size()), target);
        };
        const QRgb marker = 0xFF123456;
        const QRgb black = 0xFF000000;
        QImage target(220, 150, QImage::Format_ARGB32);
        target.fill(marker);
        const QRect rect(3050, 990, 200, 150);
        QTRY_VERIFY(grab(rect, target) && target.pixel(50, 10) == window.Image().pixel(0, 0));
        QCOMPARE(target.pixel(149, 33), window.Image().pixel(99, 23));
        QCOMPARE(target.pixel(149, 34), black); // below the right monitor
        QCOMPARE(target.pixel(150, 10), black); // right of the root
        QCOMPARE(target.pixel(10, 90), black);
        QCOMPARE(target.pixel(199, 149), black);
        QCOMPARE(target.pixel(200, 10), marker); // outside the rectangle

        // Wholly off the screen is wholly black; a target too small is refused.
        QImage outside(10, 10, QImage::Format_RGB32);
        outside.fill(marker);
        QVERIFY(grab(QRect(-20, -20, 10, 10), outside));
        QCOMPARE(outside.pixel(9, 9), black);
        outside.fill(marker);
        QVERIFY(!grab(QRect(0, 0, 11, 10), outside));
        QCOMPARE(outside.pixel(0, 0), marker);
        QCOMPARE(screen.Pixel({3200, 5}), std::nullopt);
        QCOMPARE(screen.Pixel({-1, 5}), std::nullopt);
    }

    // A burst of grabs shares one segment; an idle screen lets it go, so a
    // capture does not leave a screen's worth of memory behind.
    void SharedSegmentIsLetGoWhenIdle()
    {
        const auto shared = [] {
            QFile status(QStringLiteral("/proc/self/status"));
            if (!status.open(QIODevice::ReadOnly))
                return qint64(-1);
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("RssShmem:"))
                    return line.mid(9).trimmed().split(' ').first().toLongLong();
            return qint64(-1);
        };
        TX11Screen screen(QtXcbConnection(), TX11Screen::TTransfer::SharedMemory, 300);
        const qint64 before = shared();
        QVERIFY(before >= 0);
        QImage target(1920, 1080, QImage::Format_RGB32);
        QVERIFY(screen.Grab(target.rect(), target));
        QCOMPARE(screen.Transfer(), TX11Screen::TTransfer::SharedMemory);
        const qint64 segment = 1920 * 1080 * 4 / 1024;
        QVERIFY2(shared() - before >= segment * 9 / 10, qPrintable(QString::number(shared())));
        QTRY_VERIFY_WITH_TIMEOUT(shared() - before < segment / 10, 5000);
    }

    void CursorHasItsHotSpot()
    {
        QImage shape(24, 32, QImage::Format_ARGB32_Premultiplied);
        shape.fill(Qt::transparent);
        QPainter(&shape).fillRect(2, 3, 12, 20, QColor(200, 30, 90));
        shape.setPixel(5, 9, qRgb(255, 255, 0));
        TPatternWindow window(QRect(400, 400, 200, 200));
        window.setCursor(QCursor(QPixmap::fromImage(shape), 5, 9));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        MovePointer({480, 470});

        TX11Screen screen(QtXcbConnection());
        QTRY_COMPARE(screen.Cursor().value_or(TCursorImage()).HotSpot, QPoint(5, 9));
        const TCursorImage cursor = *screen.Cursor();
        QCOMPARE(cursor.Position, QPoint(480, 470));
        QCOMPARE(screen.CursorPosition(), QPoint(480, 470));
        QCOMPARE(cursor.Image.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(cursor.Image, shape);
        MovePointer({1500, 900});
    }
};

VORANTU_TEST_MAIN(TTestScreen)
#include "tst_Screen.moc"
