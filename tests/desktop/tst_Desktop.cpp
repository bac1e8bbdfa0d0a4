#include "TestEnvironment.h"

#include <QPrinterInfo>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

// The virtual desktop every desktop test relies on.
class TTestDesktop : public QObject
{
    Q_OBJECT
private slots:
    void TwoMonitorsSideBySide()
    {
        const QList<QScreen*> screens = QGuiApplication::screens();
        QCOMPARE(screens.size(), 2);
        QCOMPARE(screens[0]->geometry(), QRect(0, 0, 1920, 1080));
        QCOMPARE(screens[1]->geometry(), QRect(1920, 0, 1280, 1024));
        QCOMPARE(screens[0]->virtualGeometry(), QRect(0, 0, 3200, 1080));
    }

    void WindowIsMappedWhereItWasPut()
    {
        QWidget window;
        window.setWindowTitle("desktop probe");
        window.setGeometry(2100, 300, 240, 160);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(window.geometry(), QRect(2100, 300, 240, 160));
        QVERIFY(window.isVisible());
        // The window manager reparents into a frame and reports its extents.
        QTRY_VERIFY(window.frameGeometry().top() < window.geometry().top());
    }

    void TrayIsAvailable() { QTRY_VERIFY(QSystemTrayIcon::isSystemTrayAvailable()); }

    void DefaultPrinterExists()
    {
        const QPrinterInfo printer = QPrinterInfo::defaultPrinter();
        QVERIFY(!printer.isNull());
        QCOMPARE(printer.printerName(), QStringLiteral("Vorantu_Test"));
    }
};

VORANTU_TEST_MAIN(TTestDesktop)
#include "tst_Desktop.moc"
