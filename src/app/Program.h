#pragma once

#include <QStringList>

class TFrmVorantu;
struct TCommandRequest;

// The process's life: one instance per desktop session, the command-line
// switches "/start", "/inst" and "/uninst" (the first argument only, exact
// and case-sensitive), and a second start turned into a request to the
// running instance. Returns the exit code, which is 0 on every path.
int RunProgram(int argc, char* argv[]);

// Runs one request of the command socket on `window`; the result is the
// reply. A JSON text command is an object whose "command" is "about" or
// "capture"; anything else is answered 0 and changes nothing.
int HandleCommand(TFrmVorantu& window, const TCommandRequest& request);
