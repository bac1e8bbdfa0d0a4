#pragma once

#include "record/DosCommand.h"
#include "record/FileHandle.h"
#include "record/SyncText.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <thread>

class TProcessTimer;

// The reader of one run: a thread blocked in read() on the output pipe that
// decodes each chunk (at most 1024 bytes) and hands the text to the worker
// through its TSyncString and event. It holds a private write end of the
// same pipe, so the read stays blocked after the child has exited instead
// of failing, and so that Stop can wake it.
class TReadPipe
{
public:
    using TDecode = std::function<QString(const QByteArray&)>;

    // Starts the thread at once. The descriptors stay the caller's and must
    // outlive the reader.
    TReadPipe(int readStdout, int writeStdout, TDecode decode);
    // Stops the thread if still running.
    ~TReadPipe();

    const TEvent& Event() const { return FEvent; }
    TEvent& Event() { return FEvent; }
    TSyncString& SyncString() { return FSyncString; }

    // True while the thread sits in read() (or has just come back from it).
    bool InRead() const { return FInRead.load(); }
    bool Finished() const { return FFinished.load(); }

    // Wakes the thread and waits for it to end. Output it has read but not
    // handed over by then is dropped.
    void Stop();

private:
    void Execute();

    TEvent FEvent;
    TDecode FOnCharDecoding;
    int Fread_stdout;
    int Fwrite_stdout;
    TSyncString FSyncString;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FInRead{false};
    std::atomic<bool> FFinished{false};
    std::thread FThread;
};

// The worker of one run. It starts the child, sleeps in one poll() on the
// reader's event, the input queue's event, the child's pidfd, the terminate
// event and the timer's tick, splits the output into lines, sends queued
// input, enforces the time limits, ends the child, and posts every event to
// the runner's thread in order, ending with the runner's ThreadTerminated.
// The runner owns it and joins it.
class TDosThread
{
public:
    struct TSettings
    {
        QString CommandLine;
        QString CurrentDir;
        // The child's whole environment.
        QStringList Environment;
        QStringList* OutputLines = nullptr;
        int MaxTimeAfterBeginning = 0;
        int MaxTimeAfterLastOutput = 0;
        int Priority = 0;
        bool InputToOutput = false;
    };

    // Sets the owner's EndStatus to esStill_Active and starts the thread.
    TDosThread(TDosCommand& owner, TSettings settings, TProcessTimer& timer);
    ~TDosThread();
    TDosThread(const TDosThread&) = delete;
    TDosThread& operator=(const TDosThread&) = delete;

    TInputLines& InputLines() { return FInputLines; }
    // Any thread: asks the worker to end the run.
    void Terminate();
    void Join();

    // Valid after Join.
    std::uint32_t ExitCode() const { return FExitCode; }
    std::exception_ptr Error() const { return FError; }

private:
    // The handlers of one run, shared with the events posted for it, so an
    // event still queued never refers to a worker that has gone.
    struct THandlers
    {
        TNewLineEvent OnNewLine;
        TNewCharEvent OnNewChar;
        TTerminateProcessEvent OnTerminateProcess;
    };
    // Output events posted and not yet run; shared with the events, which
    // count themselves off and wake the worker when it waits for room.
    struct TBacklog
    {
        std::atomic<int> Queued{0};
        std::atomic<bool> Waiting{false};
        TEvent Room;
    };

    void Execute();
    void Run();
    void StartProcess();
    void WaitLoop();
    bool ShouldLeave() const;
    void SplitOutput();
    void SendFirstInputLine();
    bool WriteInput(const QByteArray& bytes);
    void Drain();
    void ReapIfExited();
    void KillChild();
    void CleanUp();
    void DeliverLine(const QString& line);
    void PostBeginning(const QString& text);
    void PostTerminateProcess();
    template <typename F> void Post(F&& call);
    // Posts an output event once fewer than MaxQueuedEvents are waiting;
    // false (nothing posted) when the run is being left meanwhile.
    template <typename F> bool PostOutput(F&& call);
    bool WaitForRoom();

    TDosCommand& FOwner;
    const TSettings FSettings;
    TProcessTimer& FTimer;
    std::shared_ptr<const THandlers> FHandlers;
    std::shared_ptr<TBacklog> FBacklog = std::make_shared<TBacklog>();
    TInputLines FInputLines;
    TEvent FTerminateEvent;
    std::atomic<bool> FTerminated{false};

    // Worker thread only, from here on.
    TFileHandle FReadStdout;
    TFileHandle FWakeStdout;
    TFileHandle FWriteStdin;
    TFileHandle FPidFd;
    pid_t FPid = -1;
    bool FChildAlive = false; // started and not yet reaped
    bool FExited = false;     // ended by itself
    std::unique_ptr<TReadPipe> FReader;
    QString FPending;
    bool FCutting = false; // the pending line reached MaxLineChars
    std::uint32_t FExitCode = 0;
    std::exception_ptr FError;

    std::thread FThread;
};
