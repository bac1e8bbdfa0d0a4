#include "TestEnvironment.h"
#include "platform/wayland/PortalScreen.h"

#include <QPainter>

// Where a Wayland screenshot's pixels land in root coordinates. The test
// desktop's output is unscaled, so scaled layouts are checked here.
class TTestPortalScreen : public QObject
{
    Q_OBJECT

private slots:
    void Placements_data()
    {
        using TPlacements = QList<TPicturePlacement>;
        QTest::addColumn<QList<QRect>>("monitors");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<TPlacements>("placements");
        QTest::newRow("one monitor, unscaled")
            << QList<QRect>{{0, 0, 1920, 1080}} << QSize(1920, 1080)
            << TPlacements{{{0, 0, 1920, 1080}, QRectF(0, 0, 1920, 1080)}};
        QTest::newRow("two monitors at scale 2")
            << QList<QRect>{{0, 0, 960, 540}, {960, 0, 640, 400}} << QSize(3200, 1080)
            << TPlacements{{{0, 0, 960, 540}, QRectF(0, 0, 1920, 1080)},
                           {{960, 0, 640, 400}, QRectF(1920, 0, 1280, 800)}};
        // The screenshot starts where the monitors do, not at the root's
        // origin.
        QTest::newRow("layout away from the origin")
            << QList<QRect>{{100, 50, 800, 600}, {900, 50, 800, 600}} << QSize(2400, 900)
            << TPlacements{{{100, 50, 800, 600}, QRectF(0, 0, 1200, 900)},
                           {{900, 50, 800, 600}, QRectF(1200, 0, 1200, 900)}};
        QTest::newRow("no picture") << QList<QRect>{{0, 0, 10, 10}} << QSize() << TPlacements{};
        QTest::newRow("no monitors") << QList<QRect>{} << QSize(10, 10) << TPlacements{};
    }

    void Placements()
    {
        QFETCH(QList<QRect>, monitors);
        QFETCH(QSize, picture);
        QFETCH(QList<TPicturePlacement>, placements);
        const QList<TPicturePlacement> placed = PlacePortalPicture(monitors, picture);
        QCOMPARE(placed.size(), placements.size());
        for (int i = 0; i < placed.size(); ++i) {
            QCOMPARE(placed[i].Root, placements[i].Root);
            QCOMPARE(placed[i].Picture, placements[i].Picture);
        }
    }

    void PaintsRootPixels_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("RGB32") << int(QImage::Format_RGB32);
        QTest::newRow("ARGB32") << int(QImage::Format_ARGB32);
    }

    void PaintsRootPixels()
    {
        QFETCH(int, format);
        // Root: a 4x2 monitor at (0, 0) and a 2x2 one at (4, 0), so (4..5, 2..3)
        // is on no monitor. The screenshot is at scale 2, each root pixel a
        // 2x2 block of one colour.
        const QList<QRect> monitors{{0, 0, 4, 2}, {4, 0, 2, 2}};
        QImage root(6, 2, QImage::Format_RGB32);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 6; ++x)
                root.setPixel(x, y, qRgb(x * 40, y * 100, 7));
        const QImage screenshot = root.scaled(12, 4);
        // Garbage beforehand, with a transparent alpha the result must not keep.
        QImage target(3, 4, QImage::Format(format));
        target.fill(qRgba(1, 2, 3, 0));
        const QRect rect(3, 0, 3, 4);
        PaintPortalPicture(screenshot, PlacePortalPicture(monitors, screenshot.size()), rect,
                           target);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 3; ++x) {
                const QPoint at = rect.topLeft() + QPoint(x, y);
                const QRgb expected = y < 2 ? root.pixel(at) : qRgb(0, 0, 0);
                QCOMPARE(target.pixel(x, y), expected | 0xFF000000u);
            }
        }
    }
};

VORANTU_TEST_MAIN(TTestPortalScreen)
#include "tst_PortalScreen.moc"
