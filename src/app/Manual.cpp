#include "app/Manual.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

QString ManualTopic(const QString& helpQuery)
{
    const QString message =
        QUrlQuery(helpQuery.startsWith(QLatin1Char('?')) ? helpQuery.mid(1) : helpQuery)
            .queryItemValue(QStringLiteral("msg"));
    if (message == QLatin1String("ffmpegnotfound"))
        return QStringLiteral("ffmpeg");
    if (message == QLatin1String("webpnotfound"))
        return QStringLiteral("webp");
    return QString();
}

QString LocalManualAddress(const QString& language, const QString& topic)
{
    QString code = language;
    if (!QFile::exists(QStringLiteral(":/manual/%1.html").arg(code)))
        code = QStringLiteral("en");
    QFile source(QStringLiteral(":/manual/%1.html").arg(code));
    if (!source.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray page = source.readAll();

    // Written anew each time, so a newer version's manual replaces an older one.
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/manual");
    if (!QDir().mkpath(folder))
        return QString();
    const QString path = folder + QStringLiteral("/vorantu-%1.html").arg(code);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(page) != page.size() || !file.commit())
        return QString();
    QUrl url = QUrl::fromLocalFile(path);
    if (!topic.isEmpty())
        url.setFragment(topic);
    return url.toString();
}
