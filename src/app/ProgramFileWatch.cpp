#include "app/ProgramFileWatch.h"

#include <QFileInfo>

TProgramFileWatch::TProgramFileWatch(const QString& path, std::function<void()> gone, int graceMs,
                                     QObject* parent)
    : QObject(parent), FPath(path), FGone(std::move(gone))
{
    FGrace.setSingleShot(true);
    FGrace.setInterval(graceMs);
    connect(&FGrace, &QTimer::timeout, this, &TProgramFileWatch::Settle);
    connect(&FWatcher, &QFileSystemWatcher::fileChanged, this, &TProgramFileWatch::Changed);
    if (QFileInfo::exists(FPath))
        FWatcher.addPath(FPath);
}

void TProgramFileWatch::Changed()
{
    // The watch sits on the file as it was; whatever happened, look again
    // at what the path names now.
    FWatcher.removePath(FPath);
    if (QFileInfo::exists(FPath))
        FWatcher.addPath(FPath);
    else if (!FGrace.isActive())
        FGrace.start();
}

void TProgramFileWatch::Settle()
{
    if (QFileInfo::exists(FPath)) {
        FWatcher.addPath(FPath);
        return;
    }
    if (FGone) {
        auto gone = std::move(FGone);
        FGone = nullptr;
        gone();
    }
}
