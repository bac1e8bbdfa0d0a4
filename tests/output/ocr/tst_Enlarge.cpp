#include "TestEnvironment.h"
#include "output/ocr/Enlarge.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QtTest>

namespace {

// A window's worth of lines of text in `family` at `pixelSize`, on a page
// with what screens have beside text: a grey side panel and a scroll bar
// along the right edge, so that no row is one colour from edge to edge.
QImage Screen(const QString& family, int pixelSize, const QString& words)
{
    QImage screen(900, 500, QImage::Format_RGB32);
    screen.fill(QColor(250, 250, 246));
    screen.setDotsPerMeterX(3780);
    screen.setDotsPerMeterY(3780);
    QPainter painter(&screen);
    painter.fillRect(0, 0, 160, 500, QColor(228, 228, 232));
    painter.fillRect(884, 40, 16, 200, QColor(120, 120, 120));
    QFont font(family);
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    painter.setPen(QColor(20, 20, 20));
    const QFontMetrics metrics(font);
    for (int y = 20 + metrics.ascent(); y < 480; y += metrics.height() * 3 / 2) {
        painter.drawText(10, y, words.left(12));
        painter.drawText(180, y, words);
    }
    return screen;
}

} // namespace

class TestEnlarge : public QObject
{
    Q_OBJECT

private slots:
    // Small letters are enlarged twice, larger ones given as they are; the
    // size that counts as small is larger for Hangul than for Latin letters.
    void enlargesOnlySmallText_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<int>("factor");
        const auto row = [&](const char* name, const char* script, int pixelSize, int factor) {
            const bool korean = QByteArray(script) == "Kore";
            QTest::newRow(name) << QString::fromLatin1(script)
                                << (korean ? QStringLiteral("Noto Sans CJK KR")
                                           : QStringLiteral("DejaVu Sans"))
                                << pixelSize << factor;
        };
        row("Latin 10 px", "Latn", 10, 2);
        row("Latin 16 px", "Latn", 16, 1);
        row("Latin 24 px", "Latn", 24, 1);
        row("Hangul 12 px", "Kore", 12, 2);
        row("Hangul 14 px", "Kore", 14, 2);
        row("Hangul 24 px", "Kore", 24, 1);
    }

    void enlargesOnlySmallText()
    {
        QFETCH(QString, script);
        QFETCH(QString, family);
        QFETCH(int, pixelSize);
        QFETCH(int, factor);
        const QString words =
            script == QLatin1String("Kore")
                ? QStringLiteral("화면 캡쳐 파일 저장 설정 클립보드 프린터 업로드 회의 예산")
                : QStringLiteral("Capture the window and save the picture to a file folder");
        const QImage screen = Screen(family, pixelSize, words);
        const QImage picture = PictureForRecognition(screen, script, 32767);
        QVERIFY2(picture.size() == screen.size() * factor,
                 qPrintable(QStringLiteral("text height %1").arg(TextHeight(screen))));
        // The engine is told the letters' size on the screen has not changed.
        QCOMPARE(picture.dotsPerMeterX(), 3780 * factor);
        QCOMPARE(picture.dotsPerMeterY(), 3780 * factor);
    }

    // Too little to measure: a small capture is enlarged, as it costs little;
    // nothing is ever made larger than the engine accepts.
    void edges()
    {
        QImage blank(200, 100, QImage::Format_RGB32);
        blank.fill(Qt::white);
        QCOMPARE(TextHeight(blank), 0);
        QCOMPARE(PictureForRecognition(blank, QStringLiteral("Latn"), 32767).size(),
                 QSize(400, 200));
        QCOMPARE(PictureForRecognition(blank, QStringLiteral("Latn"), 399).size(), QSize(200, 100));
        QVERIFY(PictureForRecognition(QImage(), QStringLiteral("Latn"), 32767).isNull());
    }
};

VORANTU_TEST_MAIN(TestEnlarge)
#include "tst_Enlarge.moc"
