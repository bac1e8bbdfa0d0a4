#include "RequestLog.h"

#include <QJsonDocument>
#include <cstdio>

TRequestLog::TRequestLog(const QString& path)
{
    const bool opened = path.isEmpty() ? FFile.open(stdout, QIODevice::WriteOnly)
                                       : (FFile.setFileName(path),
                                          FFile.open(QIODevice::WriteOnly | QIODevice::Append));
    if (!opened)
        throw ELogError(QStringLiteral("cannot open the log \"%1\": %2")
                            .arg(path, FFile.errorString())
                            .toStdString());
}

void TRequestLog::Write(const QJsonObject& entry)
{
    QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact);
    line += '\n';
    QMutexLocker locker(&FLock);
    // A full disk must not stop the service; the line is lost.
    FFile.write(line);
    FFile.flush();
}
