#include "TestEnvironment.h"
#include "output/ocr/ScaleBox.h"

#include <QImage>
#include <QtTest>

namespace {

// A grey picture from its values, row by row.
QImage Grey(int width, int height, const QList<int>& values)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int i = 0; i < values.size(); ++i)
        picture.setPixel(i % width, i / width, qRgb(values[i], values[i], values[i]));
    return picture;
}

QList<int> Values(const QImage& picture)
{
    QList<int> values;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            // Every channel must carry the same average, not only one.
            values.append(
                qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel) ? qRed(pixel) : -1);
        }
    return values;
}

} // namespace

class TestScaleBox : public QObject
{
    Q_OBJECT

private slots:
    void averages_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<int>>("expected");

        // The middle pixel covers half of each source pixel.
        QTest::newRow("2 to 3 wide")
            << Grey(2, 1, {10, 30}) << QSize(3, 1) << QList<int>{10, 20, 30};
        // The centre covers a quarter of each, the edges half of two.
        QTest::newRow("2x2 to 3x3") << Grey(2, 2, {0, 40, 80, 120}) << QSize(3, 3)
                                    << QList<int>{0, 20, 40, 40, 60, 80, 80, 100, 120};
        QTest::newRow("4 to 2 wide")
            << Grey(4, 1, {0, 100, 200, 250}) << QSize(2, 1) << QList<int>{50, 225};
        // Two thirds of the first pixel and one third of the second.
        QTest::newRow("3 to 2 wide")
            << Grey(3, 1, {30, 90, 150}) << QSize(2, 1) << QList<int>{50, 130};
        // 255 / 2 = 127.5 rounds up.
        QTest::newRow("rounding") << Grey(2, 1, {255, 0}) << QSize(1, 1) << QList<int>{128};
        QTest::newRow("three-fold")
            << Grey(2, 1, {7, 200}) << QSize(6, 3)
            << QList<int>{7, 7, 7, 200, 200, 200, 7, 7, 7, 200, 200, 200, 7, 7, 7, 200, 200, 200};
    }

    void averages()
    {
        QFETCH(QImage, picture);
        QFETCH(QSize, size);
        QFETCH(QList<int>, expected);
        const QImage scaled = ScaleBox(picture, size.width(), size.height());
        QCOMPARE(scaled.size(), size);
        QCOMPARE(Values(scaled), expected);
    }

    void threeFold()
    {
        QImage picture(3, 2, QImage::Format_RGB32);
        const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 255, 0),   qRgb(0, 0, 255),
                                qRgb(1, 2, 3),   qRgb(250, 128, 7), qRgb(9, 99, 199)};
        for (int i = 0; i < 6; ++i)
            picture.setPixel(i % 3, i / 3, colours[i]);
        picture.setDotsPerMeterX(3780);
        picture.setDotsPerMeterY(3780);

        const QImage scaled = ScaleBox3x(picture);
        QCOMPARE(scaled.size(), QSize(9, 6));
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 9; ++x)
                QCOMPARE(scaled.pixel(x, y), colours[(y / 3) * 3 + x / 3]);
        // Three times the pixels on the same stretch of screen.
        QCOMPARE(scaled.dotsPerMeterX(), 3 * 3780);
        QCOMPARE(scaled.dotsPerMeterY(), 3 * 3780);
    }

    void transparentNeighbourKeepsColour()
    {
        QImage picture(2, 1, QImage::Format_ARGB32);
        picture.setPixel(0, 0, qRgba(255, 0, 0, 255));
        picture.setPixel(1, 0, qRgba(0, 0, 0, 0));
        const QImage scaled = ScaleBox(picture, 1, 1);
        QVERIFY(scaled.hasAlphaChannel());
        const QColor colour = scaled.pixelColor(0, 0);
        QCOMPARE(colour.alpha(), 128);
        QCOMPARE(colour.red(), 255);
        QCOMPARE(colour.green(), 0);
    }

    void nothingToScale()
    {
        QVERIFY(ScaleBox3x(QImage()).isNull());
        QVERIFY(ScaleBox(Grey(1, 1, {0}), 0, 5).isNull());
    }
};

VORANTU_TEST_MAIN(TestScaleBox)
#include "tst_ScaleBox.moc"
