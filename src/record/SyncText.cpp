#include "record/SyncText.h"

int TInputLines::Add(const QString& value)
{
    int index;
    {
        std::lock_guard lock(FLock);
        FList.append(value);
        index = static_cast<int>(FList.size()) - 1;
    }
    FEvent.Signal();
    return index;
}

int TInputLines::Count() const
{
    std::lock_guard lock(FLock);
    return static_cast<int>(FList.size());
}

void TInputLines::Delete(int index)
{
    std::lock_guard lock(FLock);
    if (index >= 0 && index < FList.size())
        FList.removeAt(index);
}

QString TInputLines::Strings(int index) const
{
    std::lock_guard lock(FLock);
    return FList.value(index);
}

void TInputLines::SetStrings(int index, const QString& value)
{
    std::lock_guard lock(FLock);
    if (index >= 0 && index < FList.size())
        FList[index] = value;
}

void TSyncString::Add(const QString& value)
{
    std::lock_guard lock(FLock);
    FValue.append(value);
}

void TSyncString::Delete(qsizetype pos, qsizetype count)
{
    {
        std::lock_guard lock(FLock);
        FValue.remove(pos - 1, count);
    }
    FRoom.notify_all();
}

void TSyncString::WaitForRoom(qsizetype limit, const std::atomic<bool>& stop)
{
    std::unique_lock lock(FLock);
    while (FValue.size() > limit && !stop.load())
        FRoom.wait_for(lock, std::chrono::milliseconds(50));
}

qsizetype TSyncString::Length() const
{
    std::lock_guard lock(FLock);
    return FValue.size();
}

QString TSyncString::Value() const
{
    std::lock_guard lock(FLock);
    return FValue;
}
