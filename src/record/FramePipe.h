#pragma once

#include "FileHandle.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class QSocketNotifier;

// The named pipe through which region recordings hand raw frames to the
// encoder: a FIFO in a private temporary folder, written without ever
// blocking the user-interface thread. A frame that does not fit into the
// pipe at once is finished as the encoder reads; a frame offered meanwhile
// is dropped, never interleaved, so the raw stream never loses its framing.
// User-interface thread only; the folder and the FIFO go with the object.
class TFramePipe : public QObject
{
    Q_OBJECT
public:
    TFramePipe();
    ~TFramePipe() override;

    // Makes the private folder and the FIFO in it. False with the system's
    // reason in ErrorText() when either cannot be made.
    bool Create();
    QString Path() const { return FPath; }
    QString Folder() const { return FFolder ? FFolder->path() : QString(); }
    QString ErrorText() const { return FErrorText; }

    // Opens the writing end once the reader has opened the FIFO; until then
    // (and after Close) false.
    bool TryOpen();
    bool IsOpen() const { return FWriter.IsValid(); }
    // A frame is still on its way into the pipe.
    bool Busy() const { return !FFrame.isNull(); }

    // Starts sending `frame` (its bytes as they lie in memory, all rows
    // contiguous); the image is kept, unchanged, until it has been sent.
    // False, and the frame counted as dropped, while the previous frame is
    // still on its way or the pipe is not open.
    bool Send(const QImage& frame);
    // Closes the writing end, so the reader sees the end of the stream,
    // once the frame in progress has been sent (at once when none is).
    void CloseWhenSent();
    // Sends the rest of the frame in progress, waiting at most `timeoutMs`
    // for the reader (blocks: for the end of a recording only).
    void Finish(int timeoutMs);
    // Closes the writing end now; a frame in progress is cut short.
    void Close();

    int FramesWritten() const { return FFramesWritten; }
    int FramesDropped() const { return FFramesDropped; }
    void CountDropped() { ++FFramesDropped; }

    // Called once when the reader has gone (the pipe is then closed).
    std::function<void()> OnBroken;

private:
    void WriteSome();
    void FrameSent();
    void SetPipeSize(qsizetype bytes);

    std::unique_ptr<QTemporaryDir> FFolder;
    QString FPath;
    QString FErrorText;
    TFileHandle FWriter;
    std::unique_ptr<QSocketNotifier> FNotifier;
    QImage FFrame;
    qsizetype FOffset = 0;
    bool FCloseWhenSent = false;
    int FFramesWritten = 0;
    int FFramesDropped = 0;
};
