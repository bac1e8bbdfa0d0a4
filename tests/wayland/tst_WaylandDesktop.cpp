#include "Desktop.h"
#include "TestEnvironment.h"
#include "Wayland.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QUrl>

// The Wayland desktop itself: what the compositor shows can be put there and
// read back, and the Screenshot portal answers with that same picture. The
// capture tests rely on both.
class TTestWaylandDesktop : public QObject
{
    Q_OBJECT
public slots:
    void Response(uint code, const QVariantMap& results)
    {
        FCode = int(code);
        FResults = results;
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(TestWayland::OutputGeometry(), QRect(0, 0, 1920, 1080));
        FBackground =
            std::make_unique<TestWayland::TBackground>(TestDesktop::Pattern(QSize(1920, 1080)));
        QVERIFY2(FBackground->Shown(), qPrintable(FBackground->Error()));
    }

    void GrimReadsWhatIsShown()
    {
        const QImage pattern = TestDesktop::Pattern(QSize(1920, 1080));
        for (const QRect& area :
             {QRect(0, 0, 1920, 1080), QRect(1, 2, 33, 17), QRect(1900, 1070, 20, 10)})
            QCOMPARE(TestWayland::DifferentPixels(TestWayland::Grab(area), pattern.copy(area)), 0);
    }

    void PortalScreenshotIsTheScreen()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY2(bus.isConnected(), qPrintable(bus.lastError().message()));
        // The portal answers on a request object named after the caller and
        // its token; listening there before the call misses no answer.
        const QString token =
            QStringLiteral("vorantu_test_%1").arg(QCoreApplication::applicationPid());
        const QString sender = bus.baseService().mid(1).replace('.', '_');
        const QString request =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        QVERIFY(bus.connect("org.freedesktop.portal.Desktop", request,
                            "org.freedesktop.portal.Request", "Response", this,
                            SLOT(Response(uint, QVariantMap))));
        QDBusMessage call = QDBusMessage::createMethodCall(
            "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
            "org.freedesktop.portal.Screenshot", "Screenshot");
        call << QString() << QVariantMap{{"handle_token", token}, {"interactive", false}};
        const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        QCOMPARE(reply.arguments().value(0).value<QDBusObjectPath>().path(), request);
        QTRY_VERIFY_WITH_TIMEOUT(FCode >= 0, 10000);
        QCOMPARE(FCode, 0);
        const QUrl uri(FResults.value("uri").toString());
        QVERIFY2(uri.isLocalFile(), qPrintable(uri.toString()));
        const QImage shot(uri.toLocalFile());
        QCOMPARE(TestWayland::DifferentPixels(shot, TestDesktop::Pattern(QSize(1920, 1080))), 0);
    }

private:
    std::unique_ptr<TestWayland::TBackground> FBackground;
    int FCode = -1;
    QVariantMap FResults;
};

VORANTU_TEST_MAIN(TTestWaylandDesktop)
#include "tst_WaylandDesktop.moc"
