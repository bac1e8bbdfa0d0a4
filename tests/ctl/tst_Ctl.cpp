#include "TestEnvironment.h"
#include "platform/Instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>

namespace {

struct TRun
{
    int ExitCode = -1;
    QString Out;
    QString Err;
};

TRun Ctl(const QStringList& arguments)
{
    QProcess ctl;
    ctl.start(QStringLiteral(VORANTU_CTL), arguments);
    TRun run;
    if (!ctl.waitForFinished(20000)) {
        ctl.kill();
        ctl.waitForFinished(2000);
        return run;
    }
    run.ExitCode = ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -2;
    run.Out = QString::fromLocal8Bit(ctl.readAllStandardOutput());
    run.Err = QString::fromLocal8Bit(ctl.readAllStandardError());
    return run;
}

QString SaveFolder()
{
    return QDir::homePath() + QStringLiteral("/shots");
}

} // namespace

class TTestCtl : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QDir().mkpath(SaveFolder());
        QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Dastrane/Vorantu.conf",
                           QSettings::IniFormat);
        settings.setValue("path", SaveFolder());
        settings.setValue("sound", 1);
        settings.setValue("notify", 0);
    }

    void WithoutInstance_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("capture") << QStringList{"capture"} << 1 << "not running";
        QTest::newRow("quit") << QStringList{"quit"} << 1 << "not running";
        QTest::newRow("no command") << QStringList{} << 2 << "Usage";
        QTest::newRow("unknown") << QStringList{"Capture"} << 2 << "unknown command";
        QTest::newRow("two commands") << QStringList{"show", "quit"} << 2 << "unexpected";
        QTest::newRow("bad timeout")
            << QStringList{"--timeout", "soon", "capture"} << 2 << "--timeout";
    }

    void WithoutInstance()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const TRun run = Ctl(arguments);
        QCOMPARE(run.ExitCode, exitCode);
        QVERIFY2(run.Err.contains(message), qPrintable(run.Err));
    }

    void HelpAndVersion()
    {
        const TRun help = Ctl({"--help"});
        QCOMPARE(help.ExitCode, 0);
        QVERIFY(help.Out.contains("vorantuctl capture"));
        const TRun version = Ctl({"--version"});
        QCOMPARE(version.ExitCode, 0);
        QVERIFY(version.Out.startsWith("vorantuctl "));
    }

    void CommandsTheRunningInstance()
    {
        QProcess instance;
        instance.setProcessChannelMode(QProcess::ForwardedChannels);
        instance.start(QStringLiteral(VORANTU_BINARY), {"/start"});
        const auto cleanup = qScopeGuard([&instance] {
            if (instance.state() != QProcess::NotRunning) {
                instance.kill();
                instance.waitForFinished(5000);
            }
        });
        const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/vorantu";
        QTRY_VERIFY_WITH_TIMEOUT(SendCommand(folder, "WM_USER 0\n", 2000).has_value(), 20000);

        const TRun capture = Ctl({"capture"});
        QCOMPARE(capture.ExitCode, 0);
        QCOMPARE(QDir(SaveFolder()).entryList(QDir::Files), QStringList{"V-001.png"});

        QCOMPARE(Ctl({"show"}).ExitCode, 0);

        QElapsedTimer clock;
        clock.start();
        const TRun quit = Ctl({"quit"});
        QCOMPARE(quit.ExitCode, 0);
        // vorantuctl returns only once the instance is gone.
        QVERIFY(instance.waitForFinished(1000));
        QCOMPARE(instance.exitCode(), 0);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(Ctl({"capture"}).ExitCode, 1);
    }
};

VORANTU_TEST_MAIN(TTestCtl)
#include "tst_Ctl.moc"
