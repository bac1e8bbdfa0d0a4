#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>

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
