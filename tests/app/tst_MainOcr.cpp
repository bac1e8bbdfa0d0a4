#include "Boxes.h"
#include "MainWindowFixture.h"
#include "TestEnvironment.h"
#include "app/Main.h"
#include "services/Config.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QTimer>

namespace {

// A window showing the given lines in large, plain letters.
class TTextWindow : public QWidget
{
public:
    explicit TTextWindow(QStringList lines) : FLines(std::move(lines))
    {
        // No title bar: its caption and buttons would be read as text too.
        setWindowFlag(Qt::FramelessWindowHint);
        setWindowTitle(QStringLiteral("ocr target"));
        setGeometry(300, 200, 420, 260);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(40);
        painter.setFont(font);
        painter.setPen(Qt::black);
        for (int i = 0; i < FLines.size(); ++i)
            painter.drawText(40, 80 + i * 80, FLines[i]);
    }

private:
    QStringList FLines;
};

} // namespace

// The TXT destination as the controller runs it.
class TTestMainOcr : public QObject, private TMainWindowFixture
{
    Q_OBJECT
private:
    QByteArray CaptureText(const QStringList& lines)
    {
        for (const QString& name : QDir(FSave).entryList(QDir::Files))
            QFile::remove(FSave + '/' + name);
        TTextWindow target(lines);
        target.show();
        if (!QTest::qWaitForWindowExposed(&target))
            return "not exposed";
        target.activateWindow();
        if (!QTest::qWaitFor([&] { return target.isActiveWindow(); }, 5000))
            return "not active";
        QTest::qWait(200);
        FWindow->Start();
        if (!QTest::qWaitFor([&] { return FWindow->Status() == stIdle; }, 60000))
            return "still busy";
        const QStringList files = QDir(FSave).entryList({"*.txt"}, QDir::Files);
        if (files.size() != 1)
            return "no file";
        QFile file(FSave + '/' + files.first());
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

private slots:
    void initTestCase()
    {
        MakeMainWindow([](TConfig& config) { WriteSetting(config, Setting::Mouse, false); });
        auto* languages = FWindow->findChild<QComboBox*>("ChkOCR_lang");
        QVERIFY(languages->count() >= 7);
        languages->setCurrentIndex(languages->findText("English"));
        FWindow->findChild<QComboBox*>("ChkArea")->setCurrentIndex(CaptureArea::ActiveWindow);
        FWindow->findChild<QComboBox*>("ChkSaveTo")->setCurrentIndex(CaptureDestination::Txt);
        QVERIFY(languages->isVisibleTo(FWindow.get()));
        QCOMPARE(FWindow->findChild<QComboBox*>("ChkSaveTo")->width(), 72);
    }

    void cleanupTestCase() { FWindow.reset(); }

    void LinesEndWithCrLf() { QCOMPARE(CaptureText({"abc", "def"}), QByteArray("abc\r\ndef\r\n")); }

    void BlankPictureGivesAnEmptyFile() { QCOMPARE(CaptureText({}), QByteArray()); }

    void UserInterfaceKeepsRunning()
    {
        // The longest gap between two ticks of a 10 ms timer while the
        // recognition runs is how long the user-interface thread was blocked.
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longest = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            longest = qMax(longest, now - last);
            last = now;
        });
        clock.start();
        ticker.start();
        QVERIFY(!CaptureText({"The quick brown fox", "jumps over the lazy dog"}).isEmpty());
        ticker.stop();
        qInfo("longest user-interface gap during recognition: %lld ms", longest);
    }
};

VORANTU_TEST_MAIN(TTestMainOcr)
#include "tst_MainOcr.moc"
