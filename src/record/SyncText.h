#pragma once

#include "record/FileHandle.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <mutex>

// The queue of input lines between the caller (user-interface thread, which
// adds) and the worker (which sends and removes). Every operation takes the
// one lock; Add also signals the event the worker waits on.
class TInputLines
{
public:
    int Add(const QString& value);
    int Count() const;
    void Delete(int index);
    QString Strings(int index) const;
    void SetStrings(int index, const QString& value);

    const TEvent& Event() const { return FEvent; }
    TEvent& Event() { return FEvent; }

private:
    mutable std::mutex FLock;
    TEvent FEvent;
    QStringList FList;
};

// Decoded output handed from the reader to the worker. The reader appends;
// the worker takes a copy and then deletes what it took from the front, so
// text appended in between stays for the next round.
class TSyncString
{
public:
    void Add(const QString& value);
    // `pos` is 1-based.
    void Delete(qsizetype pos, qsizetype count);
    qsizetype Length() const;
    QString Value() const;
    // Blocks the caller while more than `limit` characters wait, until a
    // Delete makes room or `stop` is set (looked at every 50 ms).
    void WaitForRoom(qsizetype limit, const std::atomic<bool>& stop);

private:
    mutable std::mutex FLock;
    std::condition_variable FRoom;
    QString FValue;
};
