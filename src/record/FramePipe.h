#pragma once

#include "record/FileHandle.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The named pipe through which region recordings hand raw frames to the
// encoder: a FIFO in a private temporary folder. A writer thread of its own
// feeds the FIFO, so the user-interface thread never waits for the encoder
// and the encoder never waits for the user-interface thread. A few frames
// may queue to ride out the encoder's uneven pace; a frame offered while the
// queue is full is dropped whole, never interleaved, so the raw stream never
// loses its framing. The object is used from the user-interface thread; the
// folder and the FIFO go with it.
class TFramePipe : public QObject
{
    Q_OBJECT
public:
    // `queueLength` frames may wait for the encoder, the one being written
    // included.
    explicit TFramePipe(int queueLength = 3);
    ~TFramePipe() override;

    // Makes the private folder and the FIFO in it. False with the system's
    // reason in ErrorText() when either cannot be made.
    bool Create();
    QString Path() const { return FPath; }
    QString Folder() const { return FFolder ? FFolder->path() : QString(); }
    QString ErrorText() const { return FErrorText; }

    // Opens the writing end once the reader has opened the FIFO, and starts
    // the writer; until then (and after the end of the stream) false.
    bool TryOpen();
    bool IsOpen() const { return FOpen; }
    // Frames are still waiting or on their way into the pipe.
    bool Busy() const;
    // The next frame offered would be dropped.
    bool Full() const;

    // Queues `frame` (its bytes as they lie in memory, all rows contiguous).
    // The pipe keeps a reference until the frame has been sent, so the
    // caller must not paint into an image that is not detached again.
    // False, and the frame counted as dropped, while the queue is full or
    // the pipe is not open.
    bool Send(const QImage& frame);
    // Closes the writing end, so the reader sees the end of the stream,
    // once the queued frames have been sent (at once when none are).
    void CloseWhenSent();
    // Waits at most `timeoutMs` for the queued frames to be sent (blocks:
    // for the end of a recording only).
    void Finish(int timeoutMs);
    // Stops the writer and closes the writing end now; a frame in progress
    // is cut short.
    void Close();

    int FramesWritten() const { return FFramesWritten; }
    int FramesDropped() const { return FFramesDropped; }
    void CountDropped() { ++FFramesDropped; }

    // Called once, on the user-interface thread, when the reader has gone
    // (the pipe is then closed).
    std::function<void()> OnBroken;

private:
    void Run();
    bool WriteFrame(const QImage& frame);
    void SetPipeSize(qsizetype bytes);

    const int FQueueLength;
    std::unique_ptr<QTemporaryDir> FFolder;
    QString FPath;
    QString FErrorText;
    TFileHandle FWriter; // the writer thread's while it runs
    TEvent FWake;        // tells a writer blocked on a full pipe to stop
    std::thread FThread;

    mutable std::mutex FLock; // guards the members below it
    std::condition_variable FChanged;
    std::deque<QImage> FQueue; // the front one is being written
    bool FCloseWhenSent = false;
    bool FStop = false;

    std::atomic<bool> FOpen = false;
    std::atomic<int> FFramesWritten = 0;
    std::atomic<int> FFramesDropped = 0;
};
