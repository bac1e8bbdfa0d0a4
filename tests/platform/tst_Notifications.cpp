#include "Notices.h"
#include "TestEnvironment.h"
#include "platform/Notifications.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTemporaryDir>

class TTestNotifications : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        FBus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        QVERIFY2(!FBus.isEmpty(), "the test desktop has no session bus");
        QVERIFY(Dunstctl({"count"}).contains("displayed"));
    }

    void cleanup() { qputenv("DBUS_SESSION_BUS_ADDRESS", FBus.toUtf8()); }

    void ShownWithItsTexts()
    {
        ClosedNotices();
        TNotifications notifications;
        QSignalSpy shown(&notifications, &TNotifications::Shown);
        QSignalSpy failed(&notifications, &TNotifications::Failed);
        QImage picture(1920, 1080, QImage::Format_RGB32);
        picture.fill(Qt::red);
        // Markup characters in a folder name must reach the user as written.
        notifications.Show("V-001.png", "/home/user/Shots & <old>", picture);
        QTRY_COMPARE(shown.count(), 1);
        QCOMPARE(failed.count(), 0);
        const QList<TNotice> notices = ClosedNotices();
        QVERIFY(!notices.isEmpty());
        QCOMPARE(notices.first().AppName, QStringLiteral("Vorantu"));
        QCOMPARE(notices.first().Summary, QStringLiteral("V-001.png"));
        // This daemon reads no markup (its capabilities say so), so the text
        // goes as written; escaped, the user would read "&amp;".
        QCOMPARE(notices.first().Body, QStringLiteral("/home/user/Shots & <old>"));
    }

    void ClickRunsTheFirstAction()
    {
        ClosedNotices();
        TNotifications notifications;
        QSignalSpy shown(&notifications, &TNotifications::Shown);
        int copied = 0;
        int other = 0;
        notifications.Show("Uploaded", "http://127.0.0.1/i/1", {},
                           {{"Copy link",
                             [&copied] {
                                 ++copied;
                             }},
                            {"Open", [&other] {
                                 ++other;
                             }}});
        QTRY_COMPARE(shown.count(), 1);
        QTRY_COMPARE(DisplayedNotices(), 1);
        ClickNewestNotice();
        QTRY_COMPARE(copied, 1);
        QCOMPARE(other, 0);
        ClosedNotices();
    }

    void NoServiceNeverWaits_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<int>("failWithinMs");
        QTest::newRow("no bus") << "none" << 3000;
        QTest::newRow("bus without the service") << "empty" << 3000;
        // Accepts the connection and never sends its greeting.
        QTest::newRow("bus that never answers")
            << "silent" << TNotifications::ConnectTimeoutMs + 3000;
    }

    void NoServiceNeverWaits()
    {
        QFETCH(QString, bus);
        QFETCH(int, failWithinMs);
        TEmptyBus empty;
        QTemporaryDir folder;
        QLocalServer silent;
        if (bus == "empty") {
            QVERIFY(empty.WaitListening());
            qputenv("DBUS_SESSION_BUS_ADDRESS", empty.Address().toUtf8());
        } else if (bus == "silent") {
            QVERIFY(silent.listen(folder.filePath("bus")));
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder.filePath("bus").toUtf8());
        } else {
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vorantu-bus");
        }
        TNotifications notifications;
        QSignalSpy failed(&notifications, &TNotifications::Failed);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 3; ++i)
            notifications.Show("V-001.png", "/tmp", QImage(64, 64, QImage::Format_RGB32));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 3, failWithinMs);
    }

private:
    QString FBus;
};

VORANTU_TEST_MAIN(TTestNotifications)
#include "tst_Notifications.moc"
