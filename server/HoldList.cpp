#include "HoldList.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

// Identifiers of start-up calls can be made up freely, so both tables are
// capped; beyond the cap the oldest entries go.
constexpr qsizetype MaxHolds = 10000;
constexpr qsizetype MaxPeers = 10000;
constexpr qsizetype MaxInstallIdLength = 128;

} // namespace

THoldList::THoldList(const QString& path) : FPath(path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonArray holds = QJsonDocument::fromJson(file.read(16 * 1024 * 1024)).array();
    for (const QJsonValue& value : holds) {
        const QString hold = value.toString();
        if (!hold.isEmpty() && !FHolds.contains(hold)) {
            FHolds.insert(hold);
            FOrder.append(hold);
        }
    }
}

void THoldList::NoteStartup(const QString& peer, const QString& installId)
{
    if (installId.isEmpty() || installId.size() > MaxInstallIdLength)
        return;
    QMutexLocker locker(&FLock);
    if (FLastInstallId.size() >= MaxPeers && !FLastInstallId.contains(peer))
        FLastInstallId.clear();
    FLastInstallId.insert(peer, installId);
}

QString THoldList::KeyFor(const QString& peer) const
{
    const QString id = FLastInstallId.value(peer);
    return id.isEmpty() ? QStringLiteral("peer:") + peer : QStringLiteral("id:") + id;
}

bool THoldList::Hold(const QString& peer, const QString& updateAddress)
{
    QMutexLocker locker(&FLock);
    const QString hold = KeyFor(peer) + QLatin1Char('\n') + updateAddress;
    if (FHolds.contains(hold))
        return true;
    FHolds.insert(hold);
    FOrder.append(hold);
    while (FOrder.size() > MaxHolds)
        FHolds.remove(FOrder.takeFirst());
    return Save();
}

bool THoldList::IsHeld(const QString& peer, const QString& installId,
                       const QString& updateAddress) const
{
    QMutexLocker locker(&FLock);
    const QString suffix = QLatin1Char('\n') + updateAddress;
    if (!installId.isEmpty() && FHolds.contains(QStringLiteral("id:") + installId + suffix))
        return true;
    return FHolds.contains(QStringLiteral("peer:") + peer + suffix);
}

bool THoldList::Save() const
{
    QSaveFile file(FPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(QJsonArray::fromStringList(FOrder)).toJson(QJsonDocument::Compact));
    return file.commit();
}
