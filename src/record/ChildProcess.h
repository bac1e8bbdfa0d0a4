#pragma once

#include "record/FileHandle.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

// Starting the console runner's child on Linux: command line splitting,
// environment merging, priority classes, and the fork and exec itself.

// Priority classes as the runner's Priority property takes them (the values
// of the Windows creation flags), each mapped onto a nice value.
constexpr int IdlePriorityClass = 0x40;
constexpr int BelowNormalPriorityClass = 0x4000;
constexpr int NormalPriorityClass = 0x20;
constexpr int AboveNormalPriorityClass = 0x8000;
constexpr int HighPriorityClass = 0x80;
constexpr int RealtimePriorityClass = 0x100;

// The nice value a priority class asks for: 19, 10, none, -5, -10, -20 in
// the order above. The normal class and any unknown value ask for none: the
// child keeps the caller's own niceness.
std::optional<int> NiceValueForPriorityClass(int priorityClass);

// Splits a command line into arguments by the rules Windows programs use,
// so command lines written for the runner keep one meaning:
// - blanks (space, tab) outside double quotes separate arguments;
// - double quotes group and are removed; inside quotes "" is one quote;
// - 2n backslashes before a quote give n backslashes and the quote groups,
//   2n+1 give n backslashes and a literal quote; other backslashes are
//   literal, so paths and printf escapes pass through unchanged.
QStringList SplitCommandLine(const QString& commandLine);

// Quotes `argument` so that SplitCommandLine gives it back unchanged.
QString QuoteArgument(const QString& argument);

// `base` (name=value entries) with each of `extra` added; an extra entry
// replaces any entry of `base` with the same name, so the child sees the
// extra value.
QStringList MergeEnvironment(const QStringList& base, const QStringList& extra);

// The caller's environment as name=value entries.
QStringList ProcessEnvironment();

// Creates a pipe whose two ends are close-on-exec and numbered 3 or above,
// so that they never collide with a child's standard descriptors. Returns
// 0 or an errno value.
int CreatePipe(TFileHandle& readEnd, TFileHandle& writeEnd);

struct TChildStart
{
    // The program (looked up on the PATH of `Environment` when it holds no
    // slash; relative to the caller's directory when it does) and its
    // arguments.
    QStringList Arguments;
    QStringList Environment;
    // Empty: the caller's current directory.
    QString CurrentDir;
    std::optional<int> Nice;
    int StdIn = -1;
    // Standard output and standard error both.
    int StdOut = -1;
};

// Starts the child in a session and process group of its own (so it has no
// controlling terminal and the whole group can be killed), with an empty
// signal mask and SIGPIPE at its default. Returns 0 and the child's pid once
// the program has been executed, or the errno value of the step that failed
// (a missing program, a missing working directory), in which case no child
// is left behind.
int StartChild(const TChildStart& start, pid_t& pid);
