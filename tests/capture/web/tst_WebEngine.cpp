#include "PageServer.h"
#include "TestEnvironment.h"
#include "capture/web/IExplorer.h"
#include "capture/web/WebBrowser.h"
#include "capture/web/WebEngine.h"

#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QtTest>
#include <unistd.h>

// The program's own way to the engine: this test does not link Qt WebEngine,
// exactly like the program, so the engine comes only from the plugin.
namespace {

bool EngineMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngineCore");
}

QByteArray Flags()
{
    return qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
}

} // namespace

class TestWebEngine : public QObject
{
    Q_OBJECT

private slots:
    void switchesJoinTheUsersOwn_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("features");
        QTest::newRow("none") << QByteArray() << QByteArray("--disable-features=PaintHolding");
        QTest::newRow("own list") << QByteArray("--foo --disable-features=Alpha,Beta")
                                  << QByteArray("--disable-features=Alpha,Beta,PaintHolding");
        QTest::newRow("already off") << QByteArray("--disable-features=PaintHolding --disable-gpu")
                                     << QByteArray("--disable-features=PaintHolding");
    }

    void switchesJoinTheUsersOwn()
    {
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, features);
        const QByteArray saved = Flags();
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", user);
        PrepareWebEngine();
        PrepareWebEngine();
        const QList<QByteArray> flags = Flags().split(' ');
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", saved);

        QCOMPARE(flags.count(features), 1);
        for (const QByteArray& flag : flags)
            QVERIFY2(flag == features || !flag.startsWith("--disable-features"), flag.constData());
        for (const QByteArray& own : user.split(' '))
            QVERIFY(own.isEmpty() || own.startsWith("--disable-features") || flags.contains(own));
        const bool gpu = !QDir(QStringLiteral("/dev/dri"))
                              .entryList({QStringLiteral("renderD*")}, QDir::System)
                              .isEmpty();
        QCOMPARE(flags.count("--disable-gpu"), gpu && !user.contains("--disable-gpu") ? 0 : 1);
        if (geteuid() == 0)
            QCOMPARE(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), QByteArray("1"));
    }

    void engineLoadsOnlyForTheFirstWindow()
    {
        QVERIFY(!EngineMapped());

        TPageServer server;
        server.Serve("/plain", "<!DOCTYPE html><html><head><title>Plain</title>"
                               "<style>html, body { margin: 0; }</style></head><body>"
                               "<div style='width: 900px; height: 3000px; background: #00ff00'>"
                               "</div></body></html>");
        QString error;
        QPointer<TFrmIExplorer> window = TFrmIExplorer::Create(&error);
        QVERIFY2(window, qPrintable(error));
        QVERIFY(EngineMapped());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));

        auto* edit = window->findChild<QLineEdit*>(QStringLiteral("Edit1"));
        edit->setText(server.Address("/plain"));
        QTest::keyClick(edit, Qt::Key_Return);
        TWebBrowser& wb = window->WB();
        QTRY_VERIFY_WITH_TIMEOUT(window->windowTitle() == QStringLiteral("Plain") && !wb.Busy(),
                                 15000);

        QImage bitmap;
        CaptureWebPage(bitmap, *window);
        QCOMPARE(bitmap.height(), 3000);
        QVERIFY(bitmap.width() >= 900);
        QCOMPARE(bitmap.pixel(450, 2990), qRgb(0, 255, 0));
        delete window;
    }
};

int main(int argc, char* argv[])
{
    TTestEnvironment environment;
    PrepareWebEngine();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestWebEngine tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_WebEngine.moc"
