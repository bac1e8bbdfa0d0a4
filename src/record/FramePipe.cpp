#include "record/FramePipe.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A write to a pipe whose reader has gone raises SIGPIPE, which would end
// the whole program; the signal is directed at the writing thread, so it is
// blocked here for the one call and the pending instance taken back.
ssize_t WriteWithoutSignal(int fd, const void* data, size_t size)
{
    sigset_t pipeSignal;
    sigset_t previous;
    ::sigemptyset(&pipeSignal);
    ::sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const ssize_t n = ::write(fd, data, size);
    const int error = errno;
    if (n < 0 && error == EPIPE && !::sigismember(&previous, SIGPIPE)) {
        const timespec noWait{0, 0};
        ::sigtimedwait(&pipeSignal, nullptr, &noWait);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return n;
}

QString SystemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TFramePipe::TFramePipe(int queueLength) : FQueueLength(std::max(queueLength, 1)) {}

TFramePipe::~TFramePipe()
{
    Close();
}

bool TFramePipe::Create()
{
    FFolder = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                              QStringLiteral("/vorantu-recording-XXXXXX"));
    if (!FFolder->isValid()) {
        FErrorText =
            QStringLiteral("Cannot create a temporary folder: %1").arg(FFolder->errorString());
        FFolder.reset();
        return false;
    }
    // QTemporaryDir makes the folder 0700, so no other user can reach the FIFO.
    FPath = FFolder->filePath(QStringLiteral("frames"));
    if (::mkfifo(QFile::encodeName(FPath).constData(), 0600) != 0) {
        FErrorText =
            QStringLiteral("Cannot create the pipe \"%1\": %2").arg(FPath, SystemText(errno));
        FFolder.reset();
        FPath.clear();
        return false;
    }
    return true;
}

bool TFramePipe::TryOpen()
{
    if (FOpen)
        return true;
    {
        std::lock_guard locker(FLock);
        if (FPath.isEmpty() || FCloseWhenSent || FThread.joinable())
            return false;
    }
    // Non-blocking, this fails with ENXIO until the reader has opened it.
    FWriter.Reset(::open(QFile::encodeName(FPath).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!FWriter.IsValid())
        return false;
    FOpen = true;
    FThread = std::thread([this] { Run(); });
    return true;
}

bool TFramePipe::Busy() const
{
    std::lock_guard locker(FLock);
    return !FQueue.empty();
}

bool TFramePipe::Full() const
{
    std::lock_guard locker(FLock);
    return qsizetype(FQueue.size()) >= FQueueLength;
}

bool TFramePipe::Send(const QImage& frame)
{
    {
        std::lock_guard locker(FLock);
        if (FOpen && !FCloseWhenSent && !FStop && qsizetype(FQueue.size()) < FQueueLength) {
            FQueue.push_back(frame);
            FChanged.notify_all();
            return true;
        }
    }
    ++FFramesDropped;
    return false;
}

void TFramePipe::SetPipeSize(qsizetype bytes)
{
    // A pipe that holds a whole frame takes it in one write. Only a
    // privileged process may go beyond the system's maximum; otherwise that
    // maximum is the next best, and the default still works, in more writes.
    if (::fcntl(FWriter.Get(), F_GETPIPE_SZ) >= bytes)
        return;
    if (bytes <= INT_MAX && ::fcntl(FWriter.Get(), F_SETPIPE_SZ, static_cast<int>(bytes)) >= 0)
        return;
    QFile maximum(QStringLiteral("/proc/sys/fs/pipe-max-size"));
    if (maximum.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int size = maximum.readAll().trimmed().toInt(&ok);
        if (ok && size > 0)
            ::fcntl(FWriter.Get(), F_SETPIPE_SZ, size);
    }
}

void TFramePipe::Run()
{
    for (;;) {
        QImage frame;
        {
            std::unique_lock locker(FLock);
            FChanged.wait(locker, [this] { return FStop || FCloseWhenSent || !FQueue.empty(); });
            if (FStop)
                return;
            if (FQueue.empty()) {
                // The end of the stream: the encoder finishes its file.
                FOpen = false;
                FWriter.Reset();
                return;
            }
            frame = FQueue.front();
        }
        if (FFramesWritten == 0)
            SetPipeSize(frame.sizeInBytes());
        const bool sent = WriteFrame(frame);
        // The frame's reference goes before the queue's, so the caller finds
        // the image detached as soon as it leaves the queue.
        frame = QImage();
        std::lock_guard locker(FLock);
        if (FStop)
            return;
        if (!sent) {
            // The reader has gone, or the pipe failed: nothing more can be
            // sent, and the caller hears of it from its own thread.
            FOpen = false;
            FQueue.clear();
            FWriter.Reset();
            FChanged.notify_all();
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (OnBroken)
                        OnBroken();
                },
                Qt::QueuedConnection);
            return;
        }
        FQueue.pop_front();
        ++FFramesWritten;
        FChanged.notify_all();
    }
}

bool TFramePipe::WriteFrame(const QImage& frame)
{
    const uchar* bytes = frame.constBits();
    const qsizetype size = frame.sizeInBytes();
    qsizetype offset = 0;
    while (offset < size) {
        const ssize_t n =
            WriteWithoutSignal(FWriter.Get(), bytes + offset, static_cast<size_t>(size - offset));
        if (n > 0) {
            offset += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd ready[2] = {{FWriter.Get(), POLLOUT, 0}, {FWake.Handle(), POLLIN, 0}};
            if (::poll(ready, 2, -1) < 0 && errno != EINTR)
                return false;
            if (ready[1].revents & POLLIN)
                return false; // Close() wants the writer gone
            continue;
        }
        return false;
    }
    return true;
}

void TFramePipe::CloseWhenSent()
{
    std::lock_guard locker(FLock);
    FCloseWhenSent = true;
    if (!FThread.joinable()) {
        FOpen = false;
        FWriter.Reset();
    }
    FChanged.notify_all();
}

void TFramePipe::Finish(int timeoutMs)
{
    std::unique_lock locker(FLock);
    FChanged.wait_for(locker, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                      [this] { return FQueue.empty() || !FOpen; });
}

void TFramePipe::Close()
{
    {
        std::lock_guard locker(FLock);
        FCloseWhenSent = true;
        FStop = true;
        FChanged.notify_all();
    }
    FWake.Signal();
    if (FThread.joinable())
        FThread.join();
    FOpen = false;
    FQueue.clear();
    FWriter.Reset();
}
