#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

// Installations that asked not to be offered an update again. Vorantu's hold
// request carries only its version, so the installation is recognised by the
// identifier its start-up call sent from the same address just before, else
// by that address. A hold covers one update address: publishing a new one
// offers it again. Kept in a JSON file so holds outlive a restart. Safe on
// any thread.
class THoldList
{
public:
    // Reads the holds saved in `path` (a missing or unreadable file: none).
    explicit THoldList(const QString& path);

    // Remembers which installation called from `peer`.
    void NoteStartup(const QString& peer, const QString& installId);

    // Holds `updateAddress` for the installation last seen at `peer`.
    // Returns false when the hold could not be saved (it still applies for
    // this run).
    bool Hold(const QString& peer, const QString& updateAddress);

    bool IsHeld(const QString& peer, const QString& installId, const QString& updateAddress) const;

private:
    QString KeyFor(const QString& peer) const;
    bool Save() const;

    QString FPath;
    mutable QMutex FLock;                   // guards every member below
    QList<QString> FOrder;                  // holds, oldest first, for the size cap
    QSet<QString> FHolds;                   // "<who>\n<update address>"
    QHash<QString, QString> FLastInstallId; // peer address -> identifier
};
