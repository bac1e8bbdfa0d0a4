#pragma once

#include <QFile>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <stdexcept>

class ELogError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One JSON object per line for every request, appended and flushed at once,
// so the operator can follow it live and tests can read what arrived. Safe on
// any thread.
class TRequestLog
{
public:
    // Appends to `path`, or writes to standard output when `path` is empty.
    // Throws ELogError when the file cannot be opened.
    explicit TRequestLog(const QString& path);

    void Write(const QJsonObject& entry);

private:
    QMutex FLock; // guards FFile
    QFile FFile;
};
