#include "Boxes.h"
#include "MainWindowFixture.h"
#include "PageServer.h"
#include "TestEnvironment.h"
#include "app/Main.h"
#include "capture/web/IExplorer.h"
#include "capture/web/WebBrowser.h"
#include "capture/web/WebEngine.h"
#include "services/Config.h"

#include <QComboBox>
#include <QDir>
#include <QFile>

// The web page area as the controller drives it.
class TTestMainWeb : public QObject, private TMainWindowFixture
{
    Q_OBJECT
private:
    TFrmIExplorer* Browser() const
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<TFrmIExplorer*>(w); b && b->isVisible())
                return b;
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        MakeMainWindow();
        FWindow->ShowMainWindow();
    }

    void cleanupTestCase() { FWindow.reset(); }

    void WholePageThroughTheController()
    {
        auto* area = FWindow->findChild<QComboBox*>("ChkArea");
        area->setCurrentIndex(CaptureArea::WebPage);
        QTRY_VERIFY(Browser());
        QVERIFY(ConfigText().contains("area=0"));

        // Nothing loaded yet: no picture, and no failure either.
        {
            TBoxAnswer answer;
            FWindow->Start();
            QCOMPARE(answer.Count, 0);
        }
        QVERIFY(QDir(FSave).entryList(QDir::Files).isEmpty());

        TPageServer server;
        server.Serve("/tall", "<html><body style='margin:0'>"
                              "<div style='width:900px;height:3000px;background:#0a0'></div>"
                              "</body></html>");
        Browser()->WB().Navigate(server.Address("/tall"));
        QTRY_VERIFY_WITH_TIMEOUT(server.WasRequested("/tall") && !Browser()->WB().Busy(), 20000);
        FWindow->Start();
        const QStringList files = QDir(FSave).entryList(QDir::Files);
        QCOMPARE(files, QStringList{"V-001.png"});
        const QImage page(FSave + "/V-001.png");
        QCOMPARE(page.height(), 3000);
        QCOMPARE(page.pixelColor(100, 2900), QColor(0, 0xAA, 0));

        // Floating windows cannot be made from a web page.
        FWindow->findChild<QComboBox*>("ChkSaveTo")->setCurrentIndex(CaptureDestination::Floating);
        {
            TBoxAnswer answer;
            FWindow->Start();
            QCOMPARE(answer.Count, 1);
        }

        // Closing the window returns the program to full screen.
        Browser()->close();
        QTRY_COMPARE(area->currentIndex(), CaptureArea::FullScreen);
        QVERIFY(ConfigText().contains("area=0"));
    }

    // A stored web page area opens its window at start, and full screen is
    // what the next start comes back to.
    void StoredWebAreaAtStart()
    {
        {
            TConfig config(ProgramConfigPath);
            WriteSetting(config, Setting::Area, CaptureArea::WebPage);
        }
        FWindow.reset(); // one main window, one hot key grab
        FWindow = std::make_unique<TFrmVorantu>(FPlatform, false);
        QCOMPARE(FWindow->findChild<QComboBox*>("ChkArea")->currentIndex(), CaptureArea::WebPage);
        QTRY_VERIFY(Browser());
        QVERIFY(ConfigText().contains("area=0"));
        Browser()->close();
        QTRY_COMPARE(FWindow->findChild<QComboBox*>("ChkArea")->currentIndex(),
                     CaptureArea::FullScreen);
    }
};

int main(int argc, char* argv[])
{
    TTestEnvironment environment;
    PrepareWebEngine();
    QApplication app(argc, argv);
    TTestMainWeb tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_MainWeb.moc"
