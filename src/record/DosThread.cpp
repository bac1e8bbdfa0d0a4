#include "record/DosThread.h"

#include "record/ProcessTimer.h"

#include <QDebug>
#include <QMetaObject>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr std::uint32_t StillActive = 259;

EAssertionFailed AssertionFailure(int line)
{
    return EAssertionFailed("Assertion failure (" + std::string(__FILE_NAME__) + ", line " +
                            std::to_string(line) + ")");
}

QString SystemText(int error)
{
    return QString::fromStdString(std::generic_category().message(error));
}

ECreatePipeError PipeError(int error)
{
    return ECreatePipeError(
        QStringLiteral("Error creating Pipe: %1").arg(SystemText(error)).toStdString());
}

} // namespace

TReadPipe::TReadPipe(int readStdout, int writeStdout, TDecode decode)
    : FOnCharDecoding(std::move(decode)), Fread_stdout(readStdout), Fwrite_stdout(writeStdout),
      FThread([this] { Execute(); })
{}

TReadPipe::~TReadPipe()
{
    Stop();
}

void TReadPipe::Execute()
{
    ::pthread_setname_np(::pthread_self(), "TReadPipe");
    try {
        char buffer[1024];
        for (;;) {
            FInRead.store(true);
            const ssize_t n = ::read(Fread_stdout, buffer, sizeof buffer);
            FInRead.store(false);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw AssertionFailure(__LINE__);
            }
            // End of file needs every write end closed, ours included, so
            // it only comes when the run is over anyway.
            if (FTerminated.load() || n == 0)
                break;
            FSyncString.Add(FOnCharDecoding(QByteArray(buffer, n)));
            FEvent.Signal();
            // A worker behind on splitting holds the child back here rather
            // than let the text pile up.
            FSyncString.WaitForRoom(MaxUnsplitChars, FTerminated);
        }
    } catch (const std::exception& e) {
        qDebug().noquote() << QStringLiteral("EXCEPTION: TReadPipe Execute ") +
                                  QString::fromUtf8(e.what());
    }
    FFinished.store(true);
}

void TReadPipe::Stop()
{
    if (!FThread.joinable())
        return;
    FTerminated.store(true);
    // The bytes only make the blocked read return; they are never handed
    // over. Wait for room rather than block: a descendant of the child may
    // still be filling the pipe after the reader has gone.
    static const char wake[3] = {0, 0, 0};
    while (!FFinished.load()) {
        pollfd p{Fwrite_stdout, POLLOUT, 0};
        const int ready = ::poll(&p, 1, 50);
        if (ready <= 0)
            continue;
        const ssize_t n = ::write(Fwrite_stdout, wake, sizeof wake);
        if (n == sizeof wake)
            break;
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            throw AssertionFailure(__LINE__);
    }
    FThread.join();
}

TDosThread::TDosThread(TDosCommand& owner, TSettings settings, TProcessTimer& timer)
    : FOwner(owner), FSettings(std::move(settings)), FTimer(timer),
      FHandlers(std::make_shared<THandlers>(
          THandlers{owner.FOnNewLine, owner.FOnNewChar, owner.FOnTerminateProcess}))
{
    FOwner.FEndStatus.exchange(TEndStatus::esStill_Active);
    FThread = std::thread([this] { Execute(); });
}

TDosThread::~TDosThread()
{
    Terminate();
    Join();
}

void TDosThread::Terminate()
{
    FTerminated.store(true);
    FTerminateEvent.Signal();
}

void TDosThread::Join()
{
    if (FThread.joinable())
        FThread.join();
}

template <typename F> void TDosThread::Post(F&& call)
{
    // Queued to the runner, so events run on its thread in posting order and
    // are dropped with the runner if it goes first.
    QMetaObject::invokeMethod(&FOwner, std::forward<F>(call), Qt::QueuedConnection);
}

template <typename F> bool TDosThread::PostOutput(F&& call)
{
    if (FBacklog->Queued.load() >= MaxQueuedEvents && !WaitForRoom())
        return false;
    FBacklog->Queued.fetch_add(1);
    Post([backlog = FBacklog, call = std::forward<F>(call)]() mutable {
        call();
        // Woken at half, so the two threads trade batches, not single events.
        if (backlog->Queued.fetch_sub(1) - 1 <= MaxQueuedEvents / 2 && backlog->Waiting.load())
            backlog->Room.Signal();
    });
    return true;
}

bool TDosThread::WaitForRoom()
{
    // The runner's thread is behind: wait for it, but still honour a stop
    // and the time limits meanwhile.
    for (;;) {
        FBacklog->Waiting.store(true);
        if (FBacklog->Queued.load() <= MaxQueuedEvents / 2) {
            FBacklog->Waiting.store(false);
            return true;
        }
        pollfd fds[3] = {{FBacklog->Room.Handle(), POLLIN, 0},
                         {FTerminateEvent.Handle(), POLLIN, 0},
                         {FTimer.EventHandle(), POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            throw AssertionFailure(__LINE__);
        FBacklog->Waiting.store(false);
        if (fds[0].revents)
            FBacklog->Room.Consume();
        if (fds[2].revents)
            FTimer.CollectTicks();
        if (FTerminated.load() || (!FExited && ShouldLeave()))
            return false;
    }
}

void TDosThread::Execute()
{
    ::pthread_setname_np(::pthread_self(), "TDosThread");
    // A child that has closed its input makes our writes fail with EPIPE;
    // the signal that comes with it must not end the whole program. The
    // signal is directed at this thread, so blocking it here is enough.
    sigset_t pipeSignal;
    ::sigemptyset(&pipeSignal);
    ::sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    try {
        Run();
    } catch (const std::exception& e) {
        FError = std::current_exception();
        qDebug().noquote() << QStringLiteral("EXCEPTION: TDosThread ") +
                                  QString::fromUtf8(e.what());
        FOwner.FEndStatus.exchange(TEndStatus::esError);
    } catch (...) {
        FError = std::current_exception();
        FOwner.FEndStatus.exchange(TEndStatus::esError);
    }
    try {
        CleanUp();
    } catch (...) {
        if (!FError) {
            FError = std::current_exception();
            FOwner.FEndStatus.exchange(TEndStatus::esError);
        }
    }
    Post([owner = &FOwner] { owner->ThreadTerminated(); });
}

void TDosThread::Run()
{
    StartProcess();
    WaitLoop();
    if (FExited) {
        FOwner.FEndStatus.exchange(TEndStatus::esProcess);
        Drain();
    } else {
        FOwner.FEndStatus.exchange(FTerminated.load() ? TEndStatus::esStop : TEndStatus::esTime);
        KillChild();
    }
    if (!FPending.isEmpty()) {
        DeliverLine(FPending);
        FPending.clear();
    }
}

void TDosThread::StartProcess()
{
    TFileHandle writeStdout;
    TFileHandle readStdin;
    if (const int e = CreatePipe(FReadStdout, writeStdout))
        throw PipeError(e);
    FWakeStdout.Reset(::fcntl(writeStdout.Get(), F_DUPFD_CLOEXEC, 3));
    if (!FWakeStdout.IsValid())
        throw PipeError(errno);
    if (const int e = CreatePipe(readStdin, FWriteStdin))
        throw PipeError(e);
    // Only our end: a child that stops reading must never block the worker.
    if (::fcntl(FWriteStdin.Get(), F_SETFL, O_NONBLOCK) != 0)
        throw PipeError(errno);

    TChildStart start;
    start.Arguments = SplitCommandLine(FSettings.CommandLine);
    start.Environment = FSettings.Environment;
    start.CurrentDir = FSettings.CurrentDir;
    start.Nice = NiceValueForPriorityClass(FSettings.Priority);
    start.StdIn = readStdin.Get();
    start.StdOut = writeStdout.Get();
    const auto processError = [this](int e) {
        return ECreateProcessError(QStringLiteral("Error creating Process: %1 - (%2)")
                                       .arg(FSettings.CommandLine, SystemText(e))
                                       .toStdString());
    };
    pid_t pid;
    if (const int e = StartChild(start, pid))
        throw processError(e);
    FPid = pid;
    FChildAlive = true;
    FExitCode = StillActive;
    FPidFd.Reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!FPidFd.IsValid())
        throw processError(errno);

    if (!writeStdout.Reset() || !readStdin.Reset())
        throw PipeError(errno);

    Post([owner = &FOwner, pid] { owner->FProcessInformation.ProcessId = pid; });
    FReader = std::make_unique<TReadPipe>(
        FReadStdout.Get(), FWakeStdout.Get(),
        [owner = &FOwner](const QByteArray& chunk) { return owner->DecodeOutputChunk(chunk); });
    FPending.clear();
}

void TDosThread::WaitLoop()
{
    for (;;) {
        pollfd fds[5] = {
            {FReader->Event().Handle(), POLLIN, 0},
            {FInputLines.Event().Handle(), POLLIN, 0},
            {FPidFd.Get(), POLLIN, 0},
            {FTerminateEvent.Handle(), POLLIN, 0},
            {FTimer.EventHandle(), POLLIN, 0},
        };
        if (::poll(fds, 5, -1) < 0) {
            if (errno == EINTR)
                continue;
            throw AssertionFailure(__LINE__);
        }
        // Ticks count whatever else woke us, so a child that talks all the
        // time still reaches its limit.
        if (fds[4].revents)
            FTimer.CollectTicks();
        if (fds[0].revents) {
            FReader->Event().Consume();
            while (FReader->SyncString().Length() > 0 && !FTerminated.load())
                SplitOutput();
        }
        if (fds[1].revents) {
            FInputLines.Event().Consume();
            if (FInputLines.Count() > 0 && !FTerminated.load()) {
                SendFirstInputLine();
                // One line per wake-up, so output and stops are looked at
                // between lines.
                if (FInputLines.Count() > 0)
                    FInputLines.Event().Signal();
            }
        }
        if (fds[2].revents)
            ReapIfExited();
        if (fds[3].revents)
            FTerminateEvent.Consume();
        if (ShouldLeave())
            return;
    }
}

bool TDosThread::ShouldLeave() const
{
    if (FTerminated.load() || FExited)
        return true;
    const int sinceBeginning = static_cast<int>(FTimer.SinceBeginning());
    const int sinceLastOutput = static_cast<int>(FTimer.SinceLastOutput());
    return (FSettings.MaxTimeAfterBeginning > 0 &&
            sinceBeginning > FSettings.MaxTimeAfterBeginning) ||
           (FSettings.MaxTimeAfterLastOutput > 0 &&
            sinceLastOutput > FSettings.MaxTimeAfterLastOutput);
}

void TDosThread::SplitOutput()
{
    TSyncString& buffer = FReader->SyncString();
    const QString text = buffer.Value();
    buffer.Delete(1, text.size());
    QString pending = FPending;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (FTerminated.load()) {
            // The rest of the chunk is dropped; what was already reported
            // character by character stays, so it ends up in exactly one line.
            FPending = pending;
            return;
        }
        const QChar c = text.at(i);
        if (FHandlers->OnNewChar) {
            PostOutput([owner = &FOwner, handlers = FHandlers, c] {
                TDosCommand::RunHandler([&] { handlers->OnNewChar(owner, c); });
            });
        }
        if (c == u'\0')
            continue;
        if (c == u'\n' && i > 0 && text.at(i - 1) == u'\r')
            continue;
        if (c == u'\r' || c == u'\n') {
            FTimer.NewOutput();
            DeliverLine(pending);
            pending.clear();
            FCutting = false;
            continue;
        }
        if (FCutting)
            continue;
        if (pending.size() >= MaxLineChars) {
            // The rest of an endless line goes; the marker shows the cut.
            pending.append(OutputCutMarker);
            FCutting = true;
            continue;
        }
        pending.append(c);
    }
    FPending = pending;
    if (!pending.isEmpty())
        PostBeginning(pending);
}

void TDosThread::DeliverLine(const QString& line)
{
    PostOutput([owner = &FOwner, handlers = FHandlers, line] {
        owner->AddLine(line);
        if (handlers->OnNewLine) {
            TDosCommand::RunHandler(
                [&] { handlers->OnNewLine(owner, line, TOutputType::otEntireLine); });
        }
    });
}

void TDosThread::PostBeginning(const QString& text)
{
    if (!FHandlers->OnNewLine)
        return;
    PostOutput([owner = &FOwner, handlers = FHandlers, text] {
        TDosCommand::RunHandler(
            [&] { handlers->OnNewLine(owner, text, TOutputType::otBeginningOfLine); });
    });
}

void TDosThread::SendFirstInputLine()
{
    QString line = FInputLines.Strings(0);
    const bool eol = line.startsWith(u'_');
    if (eol)
        line.append(QStringLiteral("\r\n"));
    line.remove(0, 1);
    if (line.isEmpty()) {
        FInputLines.Delete(0);
        return;
    }
    QByteArray bytes;
    FOwner.EncodeInputLine(line, bytes);
    WriteInput(bytes);
    if (FSettings.InputToOutput) {
        if (eol)
            line.chop(2);
        DeliverLine(FPending + line);
        FPending.clear();
        FCutting = false;
    }
    FInputLines.Delete(0);
}

bool TDosThread::WriteInput(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FWriteStdin.Get(), bytes.constData() + done,
                                  static_cast<size_t>(bytes.size() - done));
        if (n >= 0) {
            done += n;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN) {
            // The child is not reading. Wait for room, but still honour a
            // stop, the child's end and the time limits meanwhile; the rest
            // of the line is dropped when the run ends.
            pollfd fds[4] = {{FWriteStdin.Get(), POLLOUT, 0},
                             {FTerminateEvent.Handle(), POLLIN, 0},
                             {FPidFd.Get(), POLLIN, 0},
                             {FTimer.EventHandle(), POLLIN, 0}};
            if (::poll(fds, 4, -1) < 0 && errno != EINTR)
                throw AssertionFailure(__LINE__);
            if (fds[3].revents)
                FTimer.CollectTicks();
            if (FTerminated.load() || fds[2].revents || ShouldLeave())
                return false;
            continue;
        }
        // A child that has already ended cannot take the line; that is the
        // ordinary race between a last input and the child's exit, not a
        // failure of the run.
        if (errno == EPIPE && WaitReadable(FPidFd.Get(), 0))
            return false;
        throw AssertionFailure(__LINE__);
    }
    return true;
}

void TDosThread::ReapIfExited()
{
    if (!FChildAlive)
        return;
    siginfo_t info = {};
    int result;
    do
        result = ::waitid(P_PID, static_cast<id_t>(FPid), &info, WEXITED | WNOHANG);
    while (result < 0 && errno == EINTR);
    if (result == 0 && info.si_pid == FPid) {
        FExitCode = info.si_code == CLD_EXITED ? static_cast<std::uint32_t>(info.si_status)
                                               : 128u + static_cast<std::uint32_t>(info.si_status);
    } else if (result < 0 && errno == ECHILD) {
        // Someone else (a SIGCHLD handler that reaps everything) collected
        // the child: it has ended, its status is lost.
        FExitCode = 0;
    } else {
        return;
    }
    FChildAlive = false;
    FExited = true;
}

void TDosThread::Drain()
{
    // The child has ended by itself, so everything it wrote is in the pipe
    // or in the reader's hands; hand it all over before the run ends. A
    // descendant that keeps the pipe open and keeps writing is cut off after
    // a second.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    for (;;) {
        while (FReader->SyncString().Length() > 0 && !FTerminated.load())
            SplitOutput();
        if (FTerminated.load() || FReader->Finished() || Clock::now() >= deadline)
            return;
        int unread = 0;
        if (::ioctl(FReadStdout.Get(), FIONREAD, &unread) != 0)
            return;
        if (unread == 0 && FReader->InRead()) {
            // The reader waits in read() on an empty pipe, or has just come
            // back from it with the last bytes and is about to hand them over.
            if (!WaitReadable(FReader->Event().Handle(), 5) && FReader->InRead())
                return;
        } else {
            WaitReadable(FReader->Event().Handle(), 50);
        }
        FReader->Event().Consume();
    }
}

void TDosThread::PostTerminateProcess()
{
    if (!FHandlers->OnTerminateProcess)
        return;
    Post([owner = &FOwner, handlers = FHandlers] {
        bool canTerminate = true;
        TDosCommand::RunHandler([&] { handlers->OnTerminateProcess(owner, canTerminate); });
    });
}

void TDosThread::KillChild()
{
    PostTerminateProcess();
    if (!FChildAlive)
        return;
    // The whole process group, so helpers the child started go with it. The
    // child is not reaped yet, so its id (and the group's) cannot have been
    // reused.
    ::kill(-FPid, SIGKILL);
    ::kill(FPid, SIGKILL);
    int status;
    while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
    FChildAlive = false;
}

void TDosThread::CleanUp()
{
    // After a failure the child may still run; it goes like a stopped one.
    if (FChildAlive)
        KillChild();
    if (FReader) {
        FReader->Stop();
        FReader.reset();
    }
    FReadStdout.Reset();
    FWakeStdout.Reset();
    FWriteStdin.Reset();
    FPidFd.Reset();
}
