#include "Boxes.h"
#include "Desktop.h"
#include "MainWindowFixture.h"
#include "TestEnvironment.h"
#include "TextWindow.h"
#include "app/Main.h"
#include "services/Config.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

// The TXT destination as the controller runs it.
class TTestMainOcr : public QObject, private TMainWindowFixture
{
    Q_OBJECT
private:
    QByteArray CaptureText(const QStringList& lines, QSize size = QSize(420, 260))
    {
        for (const QString& name : QDir(FSave).entryList(QDir::Files))
            QFile::remove(FSave + '/' + name);
        TTextWindow target(lines, size);
        target.show();
        if (!QTest::qWaitForWindowExposed(&target))
            return "not exposed";
        target.activateWindow();
        if (!QTest::qWaitFor([&] { return target.isActiveWindow(); }, 5000))
            return "not active";
        if (!TestDesktop::WindowManagerRoundTrip())
            return "no answer from the window manager";
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

    // A trigger while the text is being recognised neither starts a second
    // capture nor says anything; the first one still writes its one file.
    void SecondTriggerDuringRecognitionIsIgnored()
    {
        TBoxAnswer boxes;
        int triggers = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, [&] {
            if (triggers == 0 && FWindow->Status() == stBusy) {
                ++triggers;
                FWindow->Start();
            }
        });
        ticker.start();
        QCOMPARE(CaptureText({"abc", "def"}), QByteArray("abc\r\ndef\r\n"));
        ticker.stop();
        QCOMPARE(triggers, 1);
        QCOMPARE(boxes.Count, 0);
        QCOMPARE(FWindow->Status(), stIdle);
    }

    void UserInterfaceKeepsRunning()
    {
        // The longest gap between two ticks of a 10 ms timer while the
        // controller is busy is how long the user-interface thread was
        // blocked; a recognition run on that thread would block it for
        // about as long as the controller is busy.
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longest = 0;
        qint64 busyMs = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            if (FWindow->Status() == stBusy) {
                longest = qMax(longest, now - last);
                busyMs += now - last;
            }
            last = now;
        });
        clock.start();
        ticker.start();
        // Enough text that the recognition takes far longer than any
        // scheduling hiccup of a loaded machine (six lines once took under
        // 90 ms, and a 22 ms hiccup failed the test).
        QStringList lines;
        for (const char* line :
             {"The quick brown fox", "jumps over the lazy dog", "Pack my box with",
              "five dozen liquor jugs", "Sphinx of black quartz", "judge my vow"})
            lines << QString::fromLatin1(line) << QString::fromLatin1(line).toUpper();
        QVERIFY(!CaptureText(lines, QSize(1000, 640)).isEmpty());
        ticker.stop();
        qInfo("longest user-interface gap during recognition: %lld ms of %lld ms busy", longest,
              busyMs);
        QVERIFY2(longest * 4 < busyMs, qPrintable(QString::number(longest)));
    }
};

VORANTU_TEST_MAIN(TTestMainOcr)
#include "tst_MainOcr.moc"
