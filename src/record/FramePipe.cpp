#include "FramePipe.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
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

TFramePipe::TFramePipe() = default;

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
    if (FWriter.IsValid())
        return true;
    if (FPath.isEmpty() || FCloseWhenSent)
        return false;
    // Non-blocking, this fails with ENXIO until the reader has opened it.
    FWriter.Reset(::open(QFile::encodeName(FPath).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!FWriter.IsValid())
        return false;
    FNotifier = std::make_unique<QSocketNotifier>(FWriter.Get(), QSocketNotifier::Write);
    FNotifier->setEnabled(false);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { WriteSome(); });
    return true;
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

bool TFramePipe::Send(const QImage& frame)
{
    if (!FWriter.IsValid() || Busy() || FCloseWhenSent) {
        ++FFramesDropped;
        return false;
    }
    if (FFramesWritten == 0)
        SetPipeSize(frame.sizeInBytes());
    FFrame = frame;
    FOffset = 0;
    WriteSome();
    return true;
}

void TFramePipe::WriteSome()
{
    if (FFrame.isNull() || !FWriter.IsValid())
        return;
    const uchar* bytes = FFrame.constBits();
    const qsizetype size = FFrame.sizeInBytes();
    while (FOffset < size) {
        const ssize_t n =
            WriteWithoutSignal(FWriter.Get(), bytes + FOffset, static_cast<size_t>(size - FOffset));
        if (n > 0) {
            FOffset += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            FNotifier->setEnabled(true);
            return;
        }
        // The reader has gone (EPIPE) or the pipe failed: nothing more can
        // be sent.
        FFrame = QImage();
        Close();
        if (OnBroken)
            OnBroken();
        return;
    }
    FrameSent();
}

void TFramePipe::FrameSent()
{
    FNotifier->setEnabled(false);
    // Dropping our reference lets the caller capture into the same image
    // again without a copy.
    FFrame = QImage();
    FOffset = 0;
    ++FFramesWritten;
    if (FCloseWhenSent)
        Close();
}

void TFramePipe::CloseWhenSent()
{
    FCloseWhenSent = true;
    if (!Busy())
        Close();
}

void TFramePipe::Finish(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (Busy() && FWriter.IsValid() && !deadline.hasExpired()) {
        pollfd ready{FWriter.Get(), POLLOUT, 0};
        if (::poll(&ready, 1, static_cast<int>(deadline.remainingTime())) > 0)
            WriteSome();
    }
}

void TFramePipe::Close()
{
    FCloseWhenSent = true;
    FNotifier.reset();
    FFrame = QImage();
    FWriter.Reset();
}
