#include "TestEnvironment.h"
#include "output/Save.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

QString Run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Waits until the spooler has no job left and the job's file is complete.
bool WaitForJob(const QString& output, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    qint64 lastSize = -1;
    while (!deadline.hasExpired()) {
        const QFileInfo file(output);
        const bool queueEmpty = Run("lpstat", {"-o"}).trimmed().isEmpty();
        if (queueEmpty && file.exists() && file.size() > 0 && file.size() == lastSize)
            return true;
        lastSize = file.exists() ? file.size() : -1;
        QTest::qWait(250);
    }
    return false;
}

// The rectangle of pixels of `colour` (within a small tolerance) on `page`.
QRect Extent(const QImage& page, QColor colour)
{
    QRect extent;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            const QColor p = page.pixelColor(x, y);
            if (std::abs(p.red() - colour.red()) < 40 &&
                std::abs(p.green() - colour.green()) < 40 &&
                std::abs(p.blue() - colour.blue()) < 40)
                extent |= QRect(x, y, 1, 1);
        }
    }
    return extent;
}

} // namespace

class TTestPrint : public QObject
{
    Q_OBJECT
private slots:
    void OnePageAtTheTopLeftOfThePrintableArea()
    {
        const QString output = qEnvironmentVariable("VORANTU_TEST_PRINT_OUTPUT");
        QVERIFY2(!output.isEmpty(), "runs on the test desktop with its printer");
        QVERIFY(!QPrinterInfo::defaultPrinter().isNull());
        QFile::remove(output);

        QImage picture(100, 50, QImage::Format_RGB32);
        picture.fill(QColor(220, 0, 0));
        QPainter(&picture).fillRect(50, 0, 50, 50, QColor(0, 0, 220));
        BitmapToPrinter(picture, 96);
        QVERIFY2(WaitForJob(output, 90000), "the job did not arrive");

        // The page as the printer's file holds it, one pixel per 1/96 inch.
        QTemporaryDir pages;
        Run("gs", {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m", "-r96",
                   "-sOutputFile=" + pages.filePath("page-%d.png"), output});
        QCOMPARE(QDir(pages.path()).entryList(QDir::Files), QStringList{"page-1.png"});
        const QImage page(pages.filePath("page-1.png"));
        QVERIFY(!page.isNull());

        // Where the picture must be: the printable area's corner, enlarged by
        // the whole-number factors of the printer's resolution.
        QPrinter printer(QPrinterInfo::defaultPrinter(), QPrinter::HighResolution);
        const QRect dots =
            PrintTargetRect(picture.size(), printer.logicalDpiX(), printer.logicalDpiY(), 96);
        const QRectF printable = printer.pageLayout().paintRectPixels(96);
        const QRectF expected(printable.left(), printable.top(),
                              dots.width() * 96.0 / printer.logicalDpiX(),
                              dots.height() * 96.0 / printer.logicalDpiY());
        const QRect red = Extent(page, QColor(220, 0, 0));
        const QRect blue = Extent(page, QColor(0, 0, 220));
        const QString where = QStringLiteral("red %1,%2 %3x%4, blue %5,%6 %7x%8, expected %9,%10 "
                                             "%11x%12 at %13 dpi")
                                  .arg(red.x())
                                  .arg(red.y())
                                  .arg(red.width())
                                  .arg(red.height())
                                  .arg(blue.x())
                                  .arg(blue.y())
                                  .arg(blue.width())
                                  .arg(blue.height())
                                  .arg(expected.x())
                                  .arg(expected.y())
                                  .arg(expected.width())
                                  .arg(expected.height())
                                  .arg(printer.logicalDpiX());
        const auto near = [](double a, double b) {
            return std::abs(a - b) <= 2;
        };
        QVERIFY2(near(red.left(), expected.left()) && near(red.top(), expected.top()),
                 qPrintable(where));
        QVERIFY2(near(red.width(), expected.width() / 2) && near(red.height(), expected.height()),
                 qPrintable(where));
        QVERIFY2(near(blue.left(), expected.left() + expected.width() / 2) &&
                     near(blue.top(), expected.top()) && near(blue.width(), expected.width() / 2) &&
                     near(blue.height(), expected.height()),
                 qPrintable(where));
    }
};

VORANTU_TEST_MAIN(TTestPrint)
#include "tst_Print.moc"
