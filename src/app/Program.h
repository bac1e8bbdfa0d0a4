#pragma once

#include <QStringList>

// The process's life: one instance per desktop session, the command-line
// switches "/start", "/inst" and "/uninst" (the first argument only, exact
// and case-sensitive), and a second start turned into a request to the
// running instance. Returns the exit code, which is 0 on every path.
int RunProgram(int argc, char* argv[]);
