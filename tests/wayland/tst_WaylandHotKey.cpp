#include "Notices.h"
#include "TestEnvironment.h"
#include "Wayland.h"
#include "capture/HotKey.h"
#include "platform/Instance.h"

#include <QDir>
#include <QProcess>
#include <QSettings>

// The hot key in a Wayland session whose portal offers no global shortcuts
// (Debian 12's): the program grabs nothing, tells the user once how to bind
// the desktop's own shortcut, and that shortcut (sway's Print binding runs
// "vorantuctl capture") captures.
namespace {

QString SaveFolder()
{
    return QDir::homePath() + QStringLiteral("/shots");
}

QString ConfigFile()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Dastrane/Vorantu.conf");
}

// sway runs its bindings in the session's own runtime folder, so the program
// must listen there for the binding's vorantuctl to find it.
QString SessionRuntime()
{
    return qEnvironmentVariable("VORANTU_TEST_SESSION_RUNTIME_DIR");
}

class TInstance
{
public:
    TInstance()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), SessionRuntime());
        FProcess.setProcessEnvironment(environment);
        FProcess.setProcessChannelMode(QProcess::ForwardedChannels);
        FProcess.start(QStringLiteral(VORANTU_BINARY), {"/start"});
    }
    ~TInstance()
    {
        if (FProcess.state() == QProcess::NotRunning)
            return;
        SendCommand(SessionRuntime() + "/vorantu", "WM_USER 2\n", 2000);
        if (!FProcess.waitForFinished(5000)) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
    bool Listening()
    {
        return QTest::qWaitFor(
            [] {
                return SendCommand(SessionRuntime() + "/vorantu", "WM_USER 0\n", 2000).has_value();
            },
            20000);
    }

private:
    QProcess FProcess;
};

int NoticesAboutTheShortcut()
{
    int count = 0;
    for (const TNotice& notice : ClosedNotices())
        count += notice.Body.contains(QLatin1String("vorantuctl capture"));
    return count;
}

} // namespace

class TTestWaylandHotKey : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(!SessionRuntime().isEmpty());
        QDir().mkpath(SaveFolder());
        QSettings settings(ConfigFile(), QSettings::IniFormat);
        settings.setValue("path", SaveFolder());
        settings.setValue("sound", 1);
        settings.setValue("notify", 0);
        // A notification service of the session's own, for the notice.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        FDunst.setProcessEnvironment(environment);
        FDunst.start(QStringLiteral("dunst"), {});
        QVERIFY(QTest::qWaitFor([] { return !Dunstctl({"count"}).isEmpty(); }, 10000));
        ClosedNotices();
        Dunstctl({"history-clear"});
    }

    void cleanupTestCase()
    {
        FDunst.terminate();
        if (!FDunst.waitForFinished(5000))
            FDunst.kill();
        FDunst.waitForFinished(2000);
    }

    void DesktopShortcutCapturesAndIsExplainedOnce()
    {
        {
            TInstance instance;
            QVERIFY(instance.Listening());
            QTRY_COMPARE_WITH_TIMEOUT(NoticesAboutTheShortcut(), 1, 10000);
            QTRY_VERIFY(
                QSettings(ConfigFile(), QSettings::IniFormat).value("shortcut_notice").toBool());
            QVERIFY(TestWayland::Key("Print"));
            QTRY_COMPARE_WITH_TIMEOUT(QDir(SaveFolder()).entryList(QDir::Files),
                                      QStringList{"V-001.png"}, 20000);
        }
        TInstance again;
        QVERIFY(again.Listening());
        QVERIFY(TestWayland::Key("Print"));
        QTRY_COMPARE_WITH_TIMEOUT(QDir(SaveFolder()).entryList(QDir::Files).size(), 2, 20000);
        // The start's notice would have come before the capture it answered.
        QCOMPARE(NoticesAboutTheShortcut(), 1);
    }

private:
    QProcess FDunst;
};

VORANTU_TEST_MAIN(TTestWaylandHotKey)
#include "tst_WaylandHotKey.moc"
