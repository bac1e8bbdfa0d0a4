#pragma once

#include "record/ChildProcess.h"

#include <QObject>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <sys/types.h>

class TDosCommand;
class TDosThread;
class TProcessTimer;

// Misuse of the runner: "DosCommand still running", "No Commandline to
// execute", "DosCommand not running".
class EDosCommand : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// "Error creating Pipe: <the system's reason>".
class ECreatePipeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// "Error creating Process: <command line> - (<the system's reason>)".
class ECreateProcessError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// "could not start timer" / "could not kill timer".
class EProcessTimer : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A step that must not fail did: "Assertion failure (<file>, line <n>)".
class EAssertionFailed : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// What one run may hold at a time, whatever its child writes: the decoded
// text not yet split into lines, the line being assembled (longer lines are
// cut and end in OutputCutMarker), and the line and character events posted
// but not yet run on the runner's thread. A child that writes faster than
// the runner's thread takes its output waits in its own write(), so memory
// stays flat and the event loop never meets more than a short batch.
inline constexpr qsizetype MaxUnsplitChars = 64 * 1024;
inline constexpr qsizetype MaxLineChars = 1024;
inline constexpr int MaxQueuedEvents = 512;
inline const QString OutputCutMarker = QStringLiteral(" [...]");
// The runner keeps this many of a run's lines.
inline constexpr qsizetype MaxKeptLines = 10000;

enum class TEndStatus
{
    esStop,         // stopped on request while the child was still running
    esProcess,      // the child ended by itself
    esStill_Active, // a run is in progress
    esNone,         // no run yet
    esError,        // the run failed with an exception
    esTime          // a time limit expired while the child was still running
};

enum class TOutputType
{
    otEntireLine,     // a complete line, without its line end
    otBeginningOfLine // the unfinished beginning of a line, received so far
};

// The child of the current or last run. Its process group and session have
// the same id.
struct TProcessInformation
{
    pid_t ProcessId = 0;
};

using TNotifyEvent = std::function<void(TDosCommand* sender)>;
using TNewLineEvent =
    std::function<void(TDosCommand* sender, const QString& newLine, TOutputType outputType)>;
// One UTF-16 code unit of the decoded output, line ends included.
using TNewCharEvent = std::function<void(TDosCommand* sender, QChar newChar)>;
using TTerminateProcessEvent = std::function<void(TDosCommand* sender, bool& canTerminate)>;
using TErrorEvent =
    std::function<void(TDosCommand* sender, const std::exception& e, bool& handled)>;
// Runs on the reader thread, once per chunk of output in output order; a
// decoder that needs state across chunks keeps it itself.
using TCharDecoding = std::function<QString(TDosCommand* sender, const QByteArray& buf)>;
// Runs on the worker thread, once per input line.
using TCharEncoding =
    std::function<void(TDosCommand* sender, const QString& chars, QByteArray& outBuf)>;

// Runs one console program at a time with its standard input from a pipe and
// its standard output and error interleaved in another, reads the output on
// threads of its own and hands it to the user-interface thread as lines
// (and, on request, characters).
//
// The runner lives on the user-interface thread: call everything there, and
// every event runs there too, posted in output order, with OnTerminated the
// last event of every run. The event loop must run for events to arrive.
//
// Output is decoded as UTF-8 (invalid bytes become U+FFFD); a character
// split between two reads arrives whole. Lines end at CR LF (within one
// chunk of output), at a lone CR and at a lone LF; NUL characters are
// dropped. So a program that rewrites a status line with CR gives one
// complete line per rewrite. A line longer than MaxLineChars is cut there
// and ends in " [...]". Output is taken no faster than this thread runs its
// events: a child that floods waits in its own writes.
//
// An exception that escapes an event handler is shown in the error box and
// the run goes on.
//
// Destroying the runner stops a run in progress, waits for its threads and
// drops the events not yet delivered, OnTerminated included; to destroy the
// runner from one of its own events, use deleteLater().
class TDosCommand : public QObject
{
    Q_OBJECT
public:
    explicit TDosCommand(QObject* owner = nullptr);
    ~TDosCommand() override;

    // Starts a run and returns at once; the child is started on the worker
    // thread and a failure to start it arrives as the error report. Throws
    // EDosCommand while a run is in progress (until OnTerminated) or when
    // CommandLine is empty, and EProcessTimer.
    void Execute();
    // Queues `value` for the child's standard input, followed by CR LF when
    // `eol`; an empty value without eol writes nothing. Throws EDosCommand
    // "DosCommand not running" when no run is in progress.
    void SendLine(const QString& value, bool eol);
    // Ends the run in progress, if any: the child and its process group are
    // killed, EndStatus becomes esStop (unless the child has just ended by
    // itself) and OnTerminated follows.
    void Stop();

    // The program and its arguments, split as SplitCommandLine does.
    QString CommandLine() const { return FCommandLine; }
    void SetCommandLine(const QString& value) { FCommandLine = value; }
    // Empty: the caller's current directory. A missing directory fails the
    // start with ECreateProcessError.
    QString CurrentDir() const { return FCurrentDir; }
    void SetCurrentDir(const QString& value) { FCurrentDir = value; }
    // Extra name=value entries for the child, each replacing an inherited
    // variable of that name. Empty: the caller's environment unchanged.
    QStringList& Environment() { return FEnvironment; }
    const QStringList& Environment() const { return FEnvironment; }
    // Echo each sent line as a complete output line: the unfinished line
    // received so far followed by the sent text (without the added CR LF).
    bool InputToOutput() const { return FInputToOutput; }
    void SetInputToOutput(bool value) { FInputToOutput = value; }
    // Whole seconds; 0 or less means no limit. The child is killed at the
    // first one-second tick at which more seconds than this have passed
    // since Execute, or since the last complete line.
    int MaxTimeAfterBeginning() const { return FMaxTimeAfterBeginning; }
    void SetMaxTimeAfterBeginning(int seconds) { FMaxTimeAfterBeginning = seconds; }
    int MaxTimeAfterLastOutput() const { return FMaxTimeAfterLastOutput; }
    void SetMaxTimeAfterLastOutput(int seconds) { FMaxTimeAfterLastOutput = seconds; }
    // One of the priority classes of ChildProcess.h; default
    // NormalPriorityClass.
    int Priority() const { return FPriority; }
    void SetPriority(int value) { FPriority = value; }

    TCharDecoding OnCharDecoding() const { return FOnCharDecoding; }
    // Throws EDosCommand "DosCommand still running" during a run.
    void SetOnCharDecoding(TCharDecoding handler);
    TCharEncoding OnCharEncoding() const { return FOnCharEncoding; }
    // Throws EDosCommand "DosCommand still running" during a run.
    void SetOnCharEncoding(TCharEncoding handler);
    // Told about the exception that ended a run; leaving `handled` false
    // shows the error box as well. Handlers set during a run take effect
    // with the next run, except this one and OnTerminated.
    void SetOnExecuteError(TErrorEvent handler) { FOnExecuteError = std::move(handler); }
    void SetOnNewChar(TNewCharEvent handler) { FOnNewChar = std::move(handler); }
    void SetOnNewLine(TNewLineEvent handler) { FOnNewLine = std::move(handler); }
    void SetOnTerminated(TNotifyEvent handler) { FOnTerminated = std::move(handler); }
    // The child is about to be killed. Delivered after the kill has been
    // decided, so `canTerminate` cannot veto it.
    void SetOnTerminateProcess(TTerminateProcessEvent handler)
    {
        FOnTerminateProcess = std::move(handler);
    }

    TEndStatus EndStatus() const { return FEndStatus.load(); }
    // The child's exit status as it ended by itself (a child killed by a
    // signal that was not the runner's gives 128 + the signal number), 259
    // when the runner killed it, 0 before the first run.
    std::uint32_t ExitCode() const { return FExitCode; }
    // True from Execute until OnTerminated is called.
    bool IsRunning() const { return FThread != nullptr; }
    // The complete output lines of the current or last run, the last
    // MaxKeptLines of them.
    const QStringList& Lines() const { return FLines; }
    // A caller's list that receives every complete line as well, and is kept
    // to its last MaxKeptLines the same way; it must outlive the run.
    QStringList* OutputLines() const { return FOutputLines; }
    void SetOutputLines(QStringList* lines) { FOutputLines = lines; }
    TProcessInformation ProcessInformation() const { return FProcessInformation; }

    // The error box: the exception's class name, a line break and its
    // message, captioned with the program's file name.
    static void ShowExecuteError(const std::exception& e);
    // The class name of `e` as the error box shows it ("ECreateProcessError").
    static QString ExceptionClassName(const std::exception& e);

protected:
    // Output decoding (reader thread): OnCharDecoding when set, else UTF-8
    // with its state kept across the chunks of one run.
    virtual QString DecodeOutputChunk(const QByteArray& buf);
    // Input encoding (worker thread): OnCharEncoding when set, else UTF-8.
    virtual void EncodeInputLine(const QString& chars, QByteArray& outBuf);

private:
    friend class TDosThread;

    // Called through the worker's last posted event, after every other event
    // of the run.
    void ThreadTerminated();
    void AddLine(const QString& line);
    void ReportError(std::exception_ptr error);
    // Calls an event handler; an exception escaping it goes to the error box.
    static void RunHandler(const std::function<void()>& call);

    QString FCommandLine;
    QString FCurrentDir;
    QStringList FEnvironment;
    bool FInputToOutput = false;
    int FMaxTimeAfterBeginning = 0;
    int FMaxTimeAfterLastOutput = 0;
    int FPriority = NormalPriorityClass;
    TCharDecoding FOnCharDecoding;
    TCharEncoding FOnCharEncoding;
    TErrorEvent FOnExecuteError;
    TNewCharEvent FOnNewChar;
    TNewLineEvent FOnNewLine;
    TNotifyEvent FOnTerminated;
    TTerminateProcessEvent FOnTerminateProcess;
    // Written by the worker, read anywhere.
    std::atomic<TEndStatus> FEndStatus{TEndStatus::esNone};
    std::uint32_t FExitCode = 0;
    QStringList FLines;
    QStringList* FOutputLines = nullptr;
    TProcessInformation FProcessInformation;
    // Reset by Execute; used by the current run's reader thread only.
    QStringDecoder FDecoder;
    std::unique_ptr<TProcessTimer> FTimer;
    std::unique_ptr<TDosThread> FThread;
};
