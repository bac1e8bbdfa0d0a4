#pragma once

#include <QString>

// Auto start through the XDG autostart entry
// $XDG_CONFIG_HOME/autostart/<name>.desktop, whose Exec line is the quoted
// full path of this program, one space, "/start".

// Writes (enable) or removes the entry. False when the entry could not be
// written; a failed removal is not detected.
bool SetAutoStart(const QString& name, bool enable);

// True when the entry exists; it is then rewritten, so that it names this
// program's current path.
bool IsAutoStart(const QString& name);

QString AutoStartFile(const QString& name);

// `path` quoted as one argument of a desktop entry's Exec line.
QString QuoteExecArgument(const QString& path);
