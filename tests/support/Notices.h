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
