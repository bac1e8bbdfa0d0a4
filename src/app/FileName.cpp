#include "app/FileName.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>

namespace {

bool FileExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

QString DateTimeName(const QDateTime& time, const QString& ext)
{
    return QStringLiteral("V-") + time.toString(QStringLiteral("yyyyMMdd-HHmmsszzz")) +
           QLatin1Char('.') + ext;
}

} // namespace

TNamingMode NamingModeFromSetting(int append)
{
    switch (append) {
    case 1:
        return TNamingMode::Sequential1;
    case 3:
        return TNamingMode::Sequential2;
    default:
        return TNamingMode::DateTime;
    }
}

QDateTime CurrentLocalTime()
{
    return QDateTime::currentDateTime();
}

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.contains(QChar(0)) || name.contains(QChar(0)))
        throw EInvalidPath();
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

int ScanHighestNumber(const QString& folder)
{
    if (folder.isEmpty() || folder.contains(QChar(0)))
        return 0;
    int highest = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (!name.startsWith(QLatin1String("V-")))
            continue;
        const qsizetype dot = name.indexOf(QLatin1Char('.'), 2);
        int number = -1;
        if (dot >= 0) {
            bool ok = false;
            const int value = QStringView(name).mid(2, dot - 2).toInt(&ok);
            if (ok)
                number = value;
        }
        highest = std::max(highest, number);
    }
    return highest;
}

QString NewFilename(const QString& savePath, TNamingMode mode, const QString& ext,
                    const TClock& now)
{
    if (mode == TNamingMode::DateTime) {
        // Two captures in one millisecond would share a name and the second
        // would replace the first; the later one moves on to the next free
        // millisecond instead, keeping the name's form. The search has no
        // limit: a folder holds finitely many files, and giving up would hand
        // back a name that is taken.
        QDateTime time = now();
        QString path = JoinPath(savePath, DateTimeName(time, ext));
        while (FileExists(path)) {
            time = time.addMSecs(1);
            path = JoinPath(savePath, DateTimeName(time, ext));
        }
        return path;
    }

    qint64 number = mode == TNamingMode::Sequential1 ? ScanHighestNumber(savePath) : 0;
    QString path;
    do {
        ++number;
        path = JoinPath(savePath,
                        QStringLiteral("V-%1.%2").arg(number, 3, 10, QLatin1Char('0')).arg(ext));
    } while (FileExists(path));
    return path;
}
