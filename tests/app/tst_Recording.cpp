#include "Boxes.h"
#include "MainWindowFixture.h"
#include "NetTestSupport.h"
#include "Recordings.h"
#include "TestEnvironment.h"
#include "app/Main.h"
#include "services/Config.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QTemporaryDir>

namespace {

// The colour and weight a clock label is drawn in, once its style has applied.
QPair<QColor, bool> Look(QLabel* label)
{
    label->ensurePolished();
    return {label->palette().color(QPalette::WindowText), label->font().bold()};
}

} // namespace

// Recording from the trigger, as the controller and the recording control run it.
class TTestRecording : public QObject, private TMainWindowFixture
{
    Q_OBJECT
private:
private slots:
    void initTestCase()
    {
        MakeMainWindow();
        FWindow->ShowMainWindow();
    }

    void cleanupTestCase() { FWindow.reset(); }

    void TwoTriggersRecordTheMonitorUnderThePointer()
    {
        QCOMPARE(QProcess::execute("xdotool", {"mousemove", "--sync", "2400", "500"}), 0);
        Find<QComboBox>("ChkSaveTo")->setCurrentIndex(CaptureDestination::Mp4);
        FWindow->Start();
        QVERIFY(FWindow->IsRecording());
        QCOMPARE(FWindow->Status(), stBusy);
        QCOMPARE(Find<QStackedWidget>("PnlMain")->currentWidget()->objectName(),
                 QStringLiteral("Card3"));
        QVERIFY(!Find<QComboBox>("ChkArea")->isEnabled());

        // Quitting is refused while the recording runs.
        {
            TBoxAnswer answer;
            FWindow->Quit();
            QCOMPARE(answer.Count, 1);
            QCOMPARE(answer.Text, QStringLiteral("녹화중입니다."));
        }
        // The card's clock runs in the encoder's time, white on the red card.
        auto* clock = Find<QLabel>("LvlRecTime");
        QTRY_VERIFY_WITH_TIMEOUT(clock->text() >= QStringLiteral("00:00:01"), 10000);
        const QString earlier = clock->text();
        QTRY_VERIFY_WITH_TIMEOUT(clock->text() > earlier, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(clock->text() >= QStringLiteral("00:00:03"), 10000);
        QCOMPARE(clock->text().size(), 8);
        QCOMPARE(Look(clock).first, QColor(Qt::white));
        FWindow->Start(); // the same trigger stops it
        QTRY_VERIFY_WITH_TIMEOUT(!FWindow->IsRecording(), 15000);
        QCOMPARE(FWindow->Status(), stIdle);
        QCOMPARE(Find<QStackedWidget>("PnlMain")->currentWidget()->objectName(),
                 QStringLiteral("Card1"));
        QCOMPARE(Find<QLabel>("LvlRecTime")->text(), QStringLiteral("00:00:00"));

        const QStringList files = QDir(FSave).entryList({"*.mp4"}, QDir::Files);
        QCOMPARE(files, QStringList{"V-001.mp4"});
        const TProbe video = Probe(FSave + "/V-001.mp4");
        QCOMPARE(video.Size, QSize(1280, 1024));
        QVERIFY2(video.Duration > 2.0 && video.Duration < 6.0,
                 qPrintable(QString::number(video.Duration)));
    }

    void RegionRecordingStopsWhenItsWindowCloses()
    {
        Find<QComboBox>("ChkArea")->setCurrentIndex(CaptureArea::Region);
        TFrmArea* region = FWindow->findChild<TFrmArea*>();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* a = qobject_cast<TFrmArea*>(w))
                region = a;
        QVERIFY(region);
        region->SetMove(200, 200);
        region->SetSize(320, 240, 0);
        Find<QComboBox>("ChkSaveTo")->setCurrentIndex(CaptureDestination::Mp4);
        FWindow->Start();
        QVERIFY(FWindow->IsRecording());
        // The region window's clock runs too, in bold yellow while recording.
        QTRY_VERIFY_WITH_TIMEOUT(region->LvlRecTime->text() >= QStringLiteral("[REC] 00:00:01"),
                                 10000);
        const QString earlier = region->LvlRecTime->text();
        QTRY_VERIFY_WITH_TIMEOUT(region->LvlRecTime->text() > earlier, 5000);
        QCOMPARE(Look(region->LvlRecTime), qMakePair(QColor(255, 255, 0), true));
        // The region window's close button: the recording stops, the area returns to full screen.
        FWindow->AreaClosed();
        region->close();
        QTRY_VERIFY_WITH_TIMEOUT(!FWindow->IsRecording(), 15000);
        QCOMPARE(region->LvlRecTime->text(), QStringLiteral("[REC] 00:00:00"));
        QCOMPARE(Look(region->LvlRecTime), qMakePair(QColor(128, 0, 0), false));
        QCOMPARE(Probe(FSave + "/V-002.mp4").Size, QSize(320, 240));
    }

    void EncoderRemovedAfterItWasChosen()
    {
        Find<QComboBox>("ChkArea")->setCurrentIndex(CaptureArea::FullScreen);
        Find<QComboBox>("ChkSaveTo")->setCurrentIndex(CaptureDestination::Mp4);
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        QTemporaryDir empty;
        qputenv("PATH", empty.path().toLocal8Bit());

        TOpenedUrls urls;
        TBoxAnswer answer;
        FWindow->Start();
        QCOMPARE(answer.Count, 1);
        QVERIFY2(answer.Text.contains("\"ffmpeg\""), qPrintable(answer.Text));
        QCOMPARE(urls.Urls.size(), 1);
        // No web service is set: the manual shipped with the program opens at its section.
        QVERIFY(urls.Urls.first().isLocalFile());
        QCOMPARE(urls.Urls.first().fragment(), QStringLiteral("ffmpeg"));
        QVERIFY(!FWindow->IsRecording());
    }

    void UnsupportedAreasAreRefused()
    {
        Find<QComboBox>("ChkArea")->setCurrentIndex(CaptureArea::ActiveWindow);
        Find<QComboBox>("ChkSaveTo")->setCurrentIndex(CaptureDestination::Mp4);
        TBoxAnswer answer;
        FWindow->Start();
        QCOMPARE(answer.Count, 1);
        QVERIFY(!FWindow->IsRecording());
    }
};

VORANTU_TEST_MAIN(TTestRecording)
#include "tst_Recording.moc"
