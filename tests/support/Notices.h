#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

// What the test desktop's notification daemon (dunst on the private session
// bus) has shown, read back with dunstctl.
struct TNotice
{
    QString AppName;
    QString Summary;
    QString Body; // as sent: with markup escapes where the sender escaped
};

inline QByteArray Dunstctl(const QStringList& arguments)
{
    QProcess dunstctl;
    dunstctl.start(QStringLiteral("dunstctl"), arguments);
    if (!dunstctl.waitForFinished(5000)) {
        dunstctl.kill();
        dunstctl.waitForFinished(1000);
        return {};
    }
    return dunstctl.readAllStandardOutput();
}

// Closes every notification on screen (dunst lists a notification in its
// history only once it is closed) and returns the history, newest first.
inline QList<TNotice> ClosedNotices()
{
    Dunstctl({QStringLiteral("close-all")});
    const QJsonObject history = QJsonDocument::fromJson(Dunstctl({"history"})).object();
    QList<TNotice> notices;
    for (const QJsonValue& entry : history.value("data").toArray().at(0).toArray()) {
        const QJsonObject object = entry.toObject();
        auto text = [&object](const char* name) {
            return object.value(QLatin1String(name)).toObject().value("data").toString();
        };
        notices.append({text("appname"), text("summary"), text("body")});
    }
    return notices;
}

// How many notifications are on screen now.
inline int DisplayedNotices()
{
    const QString count = QString::fromUtf8(Dunstctl({QStringLiteral("count"), "displayed"}));
    return count.trimmed().toInt();
}

// A click on the newest notification on screen: its default action.
inline void ClickNewestNotice()
{
    Dunstctl({QStringLiteral("action"), "0"});
}

// A session bus of its own with no notification service on it and nothing
// to activate one.
class TEmptyBus
{
public:
    TEmptyBus()
    {
        QFile config(FFolder.filePath("bus.conf"));
        config.open(QIODevice::WriteOnly);
        config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                     "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                     "busconfig.dtd\"><busconfig><type>session</type><listen>unix:path=" +
                     FFolder.filePath("socket").toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
                     "send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                     "<allow own=\"*\"/></policy></busconfig>");
        config.close();
        FDaemon.start("dbus-daemon",
                      {"--nofork", "--nopidfile", "--config-file=" + FFolder.filePath("bus.conf")});
        FDaemon.waitForStarted(5000);
    }
    ~TEmptyBus()
    {
        FDaemon.terminate();
        FDaemon.waitForFinished(5000);
    }
    QString Address() const { return "unix:path=" + FFolder.filePath("socket"); }
    bool WaitListening() const
    {
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(FFolder.filePath("socket")) && clock.elapsed() < 5000)
            QTest::qWait(20);
        return QFile::exists(FFolder.filePath("socket"));
    }

private:
    QTemporaryDir FFolder;
    QProcess FDaemon;
};

// A notification daemon of the test's own, on a bus of its own: what a test
// reads back then cannot depend on what earlier tests left in the desktop's
// daemon. While it lives, the process's session bus is this one.
class TNoticeDaemon
{
public:
    TNoticeDaemon() : FSaved(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
    {
        if (!FBus.WaitListening())
            return;
        QFile config(FFolder.filePath("dunstrc"));
        config.open(QIODevice::WriteOnly);
        // On screen long enough for a test to click one; then into the history.
        config.write("[global]\n    monitor = 0\n    follow = none\n    history_length = 50\n"
                     "    show_indicators = no\n[urgency_low]\n    timeout = 20\n"
                     "[urgency_normal]\n    timeout = 20\n[urgency_critical]\n    timeout = 20\n");
        config.close();
        qputenv("DBUS_SESSION_BUS_ADDRESS", FBus.Address().toUtf8());
        FDaemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FDaemon.start("dunst", {"-config", FFolder.filePath("dunstrc")});
        FDaemon.waitForStarted(5000);
    }
    ~TNoticeDaemon()
    {
        FDaemon.terminate();
        FDaemon.waitForFinished(5000);
        qputenv("DBUS_SESSION_BUS_ADDRESS", FSaved);
    }
    // True once the daemon answers on its bus.
    bool WaitReady() const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            QProcess count;
            count.start(QStringLiteral("dunstctl"), {QStringLiteral("count")});
            if (count.waitForFinished(2000) && count.exitStatus() == QProcess::NormalExit &&
                count.exitCode() == 0)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

private:
    QByteArray FSaved;
    TEmptyBus FBus;
    QTemporaryDir FFolder;
    QProcess FDaemon;
};
