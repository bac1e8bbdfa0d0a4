#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

// Tells the running instance that its program file has been taken away for
// good, as when the package that installed it is removed. A running process
// keeps its deleted files alive on disk until it ends, and later loads parts
// of itself (plugins, helpers) that are gone; quitting on removal is what the
// uninstaller's "/uninst" did.
//
// A file replaced in place (a package upgrade renames the new file over the
// old one; a linker writes a new file) is followed, not reported: `gone` runs
// only when no file has come back at the path within `graceMs`. It runs at
// most once. A path that does not exist at construction is not watched.
class TProgramFileWatch : public QObject
{
public:
    TProgramFileWatch(const QString& path, std::function<void()> gone, int graceMs = 2000,
                      QObject* parent = nullptr);

private:
    void Changed();
    void Settle();

    QString FPath;
    std::function<void()> FGone;
    QFileSystemWatcher FWatcher;
    QTimer FGrace;
};
