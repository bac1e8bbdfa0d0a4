#include "TestEnvironment.h"
#include "TrickleServer.h"
#include "platform/Instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <csignal>

namespace {

QString Binary()
{
    return QStringLiteral(VORANTU_BINARY);
}

QString SocketPath()
{
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + "/vorantu/TFrmVorantu";
}

// Visible main windows of the program, found the way any X client would: the
// windows of its class, less the tray icon's small embedded window.
QStringList VisibleMainWindows()
{
    QProcess search;
    search.start("xdotool", {"search", "--onlyvisible", "--class", "TFrmVorantu"});
    search.waitForFinished(5000);
    QStringList windows;
    const QStringList found =
        QString::fromUtf8(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    for (const QString& id : found) {
        QProcess geometry;
        geometry.start("xdotool", {"getwindowgeometry", "--shell", id});
        geometry.waitForFinished(5000);
        const QString text = QString::fromUtf8(geometry.readAllStandardOutput());
        const int width = text.section("WIDTH=", 1).section('\n', 0, 0).toInt();
        if (width > 100)
            windows << id;
    }
    return windows;
}

QString ActiveWindow()
{
    QProcess active;
    active.start("xdotool", {"getactivewindow"});
    active.waitForFinished(5000);
    return QString::fromUtf8(active.readAllStandardOutput()).trimmed();
}

QString AutoStartFile()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/Vorantu.desktop";
}

QByteArray Socat(const QByteArray& request)
{
    QProcess socat;
    socat.start("socat", {"-t", "30", "-", "UNIX-CONNECT:" + SocketPath()});
    socat.write(request);
    socat.closeWriteChannel();
    socat.waitForFinished(30000);
    return socat.readAllStandardOutput();
}

class TInstance
{
public:
    explicit TInstance(const QStringList& arguments = {})
    {
        FProcess.setProcessChannelMode(QProcess::ForwardedChannels);
        FProcess.start(Binary(), arguments);
    }
    ~TInstance()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
    bool WaitListening()
    {
        return QTest::qWaitFor(
            [] {
                return QFile::exists(SocketPath()) &&
                       SendCommand(QFileInfo(SocketPath()).path(), "WM_USER 0\n", 2000);
            },
            20000);
    }
    QProcess FProcess;
};

int RunToEnd(const QStringList& arguments, qint64* elapsedMs = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    QProcess second;
    second.start(Binary(), arguments);
    if (!second.waitForFinished(15000))
        return -1;
    if (elapsedMs)
        *elapsedMs = clock.elapsed();
    return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -2;
}

void SetStored(const QString& name, const QVariant& value)
{
    QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Dastrane/Vorantu.conf",
                       QSettings::IniFormat);
    settings.setValue(name, value);
}

} // namespace

class TTestProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QString save = QDir::homePath() + "/shots";
        QDir().mkpath(save);
        QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Dastrane/Vorantu.conf",
                           QSettings::IniFormat);
        settings.setValue("path", save);
        settings.setValue("sound", 1);
        settings.setValue("notify", 0);
    }

    void SecondStartBringsTheFirstForward()
    {
        TInstance first;
        QVERIFY(first.WaitListening());
        QTRY_COMPARE_WITH_TIMEOUT(VisibleMainWindows().size(), 1, 10000);

        // Close it as a user would (it hides to the tray), then a second
        // start shows it again and exits at once.
        const QString window = VisibleMainWindows().value(0);
        QProcess::execute("xdotool", {"windowactivate", "--sync", window, "key", "alt+F4"});
        QTRY_COMPARE_WITH_TIMEOUT(VisibleMainWindows().size(), 0, 10000);
        QCOMPARE(first.FProcess.state(), QProcess::Running);
        qint64 elapsed = 0;
        QCOMPARE(RunToEnd({}, &elapsed), 0);
        QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
        QTRY_COMPARE_WITH_TIMEOUT(VisibleMainWindows().size(), 1, 10000);
        // In front, where the keyboard goes, not merely mapped behind another window.
        QTRY_COMPARE_WITH_TIMEOUT(ActiveWindow(), VisibleMainWindows().value(0), 10000);

        // "/start" while running changes nothing and exits.
        QCOMPARE(RunToEnd({"/start"}), 0);
        QCOMPARE(first.FProcess.state(), QProcess::Running);

        // "/uninst" ends the instance within about a second.
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(RunToEnd({"/uninst"}), 0);
        QVERIFY(first.FProcess.waitForFinished(3000));
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(first.FProcess.exitCode(), 0);
    }

    // "/inst" registers the start with the session, as the first instance
    // only; while an instance runs it only brings that one forward.
    void InstallSwitch()
    {
        QFile::remove(AutoStartFile());
        TInstance first({"/inst"});
        QVERIFY(first.WaitListening());
        QTRY_COMPARE_WITH_TIMEOUT(VisibleMainWindows().size(), 1, 10000);
        QFile entry(AutoStartFile());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        entry.close();
        QVERIFY2(text.contains(QRegularExpression(R"(\nExec="?[^\n]*/vorantu"? /start\n)")),
                 qPrintable(text));

        QVERIFY(QFile::remove(AutoStartFile()));
        const QString window = VisibleMainWindows().value(0);
        QProcess::execute("xdotool", {"windowactivate", "--sync", window, "key", "alt+F4"});
        QTRY_COMPARE_WITH_TIMEOUT(VisibleMainWindows().size(), 0, 10000);
        QCOMPARE(RunToEnd({"/inst"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(VisibleMainWindows().size(), 1, 10000);
        QVERIFY(!QFile::exists(AutoStartFile()));
        QCOMPARE(first.FProcess.state(), QProcess::Running);

        QCOMPARE(Socat("WM_USER 2\n"), QByteArray("0\n"));
        QVERIFY(first.FProcess.waitForFinished(5000));
    }

    void UninstallWithoutInstanceExitsAtOnce()
    {
        qint64 elapsed = 0;
        QCOMPARE(RunToEnd({"/uninst"}, &elapsed), 0);
        QVERIFY(elapsed < 3000);
        QVERIFY(!QFile::exists(SocketPath()) ||
                !SendCommand(QFileInfo(SocketPath()).path(), "WM_USER 0\n", 1000));
    }

    void StartSwitchStartsHidden_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<bool>("visible");
        QTest::newRow("/start") << "/start" << false;
        QTest::newRow("capitalised is no switch") << "/START" << true;
    }

    void StartSwitchStartsHidden()
    {
        QFETCH(QString, argument);
        QFETCH(bool, visible);
        TInstance instance({argument});
        QVERIFY(instance.WaitListening());
        if (visible) {
            QTRY_COMPARE(VisibleMainWindows().size(), 1);
        } else {
            // Nothing may appear: a window gets the time it would take to show.
            QTest::qWait(300);
            QCOMPARE(VisibleMainWindows().size(), 0);
        }
        QCOMPARE(Socat("WM_USER 2\n"), QByteArray("0\n"));
        QVERIFY(instance.FProcess.waitForFinished(5000));
    }

    void SocketCommands()
    {
        TInstance instance({"/start"});
        QVERIFY(instance.WaitListening());
        const QString save = QDir::homePath() + "/shots";
        QCOMPARE(Socat("WM_COPYDATA 1\n{\"command\":\"capture\"}"), QByteArray("1\n"));
        QCOMPARE(QDir(save).entryList(QDir::Files), QStringList{"V-001.png"});
        QCOMPARE(Socat("WM_COPYDATA 1\n{\"command\":\"Capture\"}"), QByteArray("0\n"));
        QCOMPARE(Socat("WM_COPYDATA 1\n{}"), QByteArray("0\n"));
        QCOMPARE(Socat("WM_COPYDATA 1\n{\"command\":5}"), QByteArray("0\n"));
        QCOMPARE(Socat("WM_COPYDATA 1\n[1,2]"), QByteArray("0\n"));
        QCOMPARE(Socat("WM_COPYDATA 1\n{broken"), QByteArray("0\n"));
        QCOMPARE(Socat("nonsense\n"), QByteArray("0\n"));
        QCOMPARE(Socat("WM_COPYDATA 1\n{\"command\":\"capture\",\"pad\":\"" +
                       QByteArray(70000, 'x') + "\"}"),
                 QByteArray("0\n"));
        QCOMPARE(QDir(save).entryList(QDir::Files).size(), 1);
        QCOMPARE(Socat("WM_QUERYENDSESSION\n"), QByteArray("1\n"));
        QVERIFY(instance.FProcess.waitForFinished(5000));
        QCOMPARE(instance.FProcess.exitCode(), 0);
    }

    void SocketAnswersWhileTheHotKeyConflictIsShown()
    {
        // A key that types text is refused with a box and the key dialog.
        SetStored("hotkey", 0x41);
        const auto restore = qScopeGuard([] { SetStored("hotkey", 44); });
        TInstance instance({"/start"});
        QVERIFY(instance.WaitListening());
        QTRY_VERIFY_WITH_TIMEOUT(!VisibleMainWindows().isEmpty(), 10000);
        QCOMPARE(Socat("WM_USER 0\n"), QByteArray("0\n"));
    }

    void UninstallWaitsAboutASecondForARecordingInstance()
    {
        SetStored("saveto", 5);
        const auto restore = qScopeGuard([] { SetStored("saveto", 0); });
        TInstance instance({"/start"});
        QVERIFY(instance.WaitListening());
        QCOMPARE(Socat("WM_COPYDATA 1\n{\"command\":\"capture\"}"), QByteArray("1\n"));
        // The recording instance answers the quit with its "recording" box
        // and keeps running; the uninstaller must not wait on that box.
        qint64 elapsed = 0;
        QCOMPARE(RunToEnd({"/uninst"}, &elapsed), 0);
        qInfo("/uninst against a recording instance returned after %lld ms", elapsed);
        QVERIFY2(elapsed < 2000, qPrintable(QString::number(elapsed)));
        QCOMPARE(instance.FProcess.state(), QProcess::Running);
    }

    // A service that trickles its reply must not hold the program: every
    // quit path ends it promptly while the upload runs.
    void QuitDuringATricklingUpload_data()
    {
        QTest::addColumn<QString>("quit");
        QTest::newRow("SIGTERM") << "SIGTERM";
        QTest::newRow("WM_USER 2") << "WM_USER 2";
        QTest::newRow("end of session") << "WM_QUERYENDSESSION";
    }

    void QuitDuringATricklingUpload()
    {
        QFETCH(QString, quit);
        TTrickleServer server;
        SetStored("saveto", 8);
        SetStored("upload_host", server.Host());
        const auto restore = qScopeGuard([] {
            SetStored("saveto", 0);
            SetStored("upload_host", "img.dastrane.example");
        });
        TInstance instance({"/start"});
        QVERIFY(instance.WaitListening());
        const QString folder = QFileInfo(SocketPath()).path();
        // The capture's reply waits for the upload; only the request matters.
        SendCommand(folder, "WM_COPYDATA 1\n{\"command\":\"capture\"}", 200);
        QTRY_VERIFY_WITH_TIMEOUT(server.ClientCame(), 10000);

        QElapsedTimer clock;
        clock.start();
        if (quit == "SIGTERM")
            instance.FProcess.terminate();
        else
            SendCommand(folder, quit.toLatin1() + '\n', 200);
        QVERIFY(instance.FProcess.waitForFinished(5000));
        qInfo("%s during the upload: ended after %lld ms", qPrintable(quit), clock.elapsed());
        QCOMPARE(instance.FProcess.exitStatus(), QProcess::NormalExit);
        QCOMPARE(instance.FProcess.exitCode(), 0);
        QTRY_VERIFY(server.ClientLeft());
    }

    void KilledInstanceDoesNotBlockTheNext()
    {
        {
            TInstance crashed({"/start"});
            QVERIFY(crashed.WaitListening());
            ::kill(pid_t(crashed.FProcess.processId()), SIGKILL);
            QVERIFY(crashed.FProcess.waitForFinished(5000));
        }
        TInstance next({"/start"});
        QVERIFY(next.WaitListening());
        next.FProcess.terminate(); // SIGTERM takes the quit path
        QVERIFY(next.FProcess.waitForFinished(5000));
        QCOMPARE(next.FProcess.exitStatus(), QProcess::NormalExit);
        QCOMPARE(next.FProcess.exitCode(), 0);
    }
};

VORANTU_TEST_MAIN(TTestProgram)
#include "tst_Program.moc"
