#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Features whose libraries are large (text recognition, HTTP with TLS, the
// web engine, the screen cast) live in plugins loaded on their first use, so
// that the idle program never maps them.

// Where one of the program's plugins is looked for, in order: beside the
// program, in `installDir` (relative to the program's folder: where the
// installed layout puts plugins), and at `buildPath` only for programs inside
// the build tree `buildDir` (the tests). An installed program never looks in
// the folder it was built in: that may be a temporary one that anybody could
// recreate with a plugin of their own.
QStringList PluginCandidates(const QString& fileName, const QString& installDir,
                             const QString& buildDir, const QString& buildPath);

// The function `symbol` of the first candidate that exists and loads. The
// library then stays loaded for the rest of the run, since what it made may
// outlive any owner, and the function is remembered. Null, with why each
// candidate failed (or that none exists) in `error`, when none loads; a
// later call tries again. Safe from any thread.
QFunctionPointer ResolvePluginEntry(const QStringList& candidates, const char* symbol,
                                    const QString& fileName, QString& error);
