#pragma once

#include "platform/ScreenStream.h"
#include "record/DosCommand.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class TFramePipe;
class TScreen;

// A screen rectangle asked for anew whenever a region recording takes a
// frame, so the recording follows the region window wherever it moves.
using TFuncOfRect = std::function<QRect()>;

// A recording that failed: it could not start, or the encoder ended on an
// error. The text says why.
class ERecordError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// What one recording records and how, fixed when the recorder is made.
struct TRecordOptions
{
    // Record the default PulseAudio source (when it is a real input) as well.
    bool Audio = false;
    // The encoder program.
    QString FFMpeg;
    // Include the mouse cursor.
    bool Mouse = true;
    // The MP4 file to write; its folder is created when missing.
    QString Output;
    // Append every line of the encoder's output to "ffmpeg.log" in the
    // output's folder.
    bool Logging = false;
    // The encoder stops by itself after this much video; 0 or less: no limit.
    int LimitSeconds = 0;
    // How long the encoder may take to finish its file after Stop; one that
    // has not ended by then is ended, so a hung encoder never keeps the
    // recording (and the program) from ending.
    int StopTimeoutSeconds = 30;
    // Where the display server shows this program no other pixels (Wayland
    // sessions): makes the stream both kinds of recording take their frames
    // from, through the FIFO. Empty: region frames from the screen, full
    // screens through x11grab.
    TScreenStreamFactory Stream;
    // How long a stream may take to deliver its first frame once the desktop
    // has started it (frames come only when the screen changes, but a fresh
    // stream starts with one).
    int FirstFrameTimeoutMs = 10000;
};

class TRecorder;
// Told why a recording failed; leaving `handled` false shows the error box.
using TRecordErrorEvent =
    std::function<void(TRecorder* sender, const QString& message, bool& handled)>;

// Records the screen into an MP4 file by running ffmpeg through the console
// process runner: the whole monitor nearest the mouse cursor (x11grab), or a
// region given by a rectangle function, whose pixels the recorder copies 30
// times a second and hands to the encoder as raw frames through a FIFO. With
// a stream in the options, both kinds read the stream's newest frame 30
// times a second instead (repeating it while the screen stands still), and
// the encoder starts with the first frame; a stream that ends finishes the
// file as Stop does.
//
// One recorder serves one recording: make it with its options, call one of
// the Start overloads once, Stop when the user asks, and destroy the recorder once
// IsRunning() is false (the Ended signal says so too; delete the recorder
// from a slot only with deleteLater, since Ended comes from the runner's last
// event). User-interface thread only; the event loop must run.
class TRecorder : public QObject
{
    Q_OBJECT
public:
    explicit TRecorder(TRecordOptions options, QObject* owner = nullptr);
    // A recording still in progress is finished properly first (the encoder
    // is asked to end and given up to 10 seconds to write its file), so
    // quitting never leaves a broken file; the FIFO and its folder go too.
    ~TRecorder() override;

    const TRecordOptions& Options() const { return FOptions; }

    // Region recording of `rect`, copied from `screen` (which must outlive
    // the recording) with the cursor when the options say so. The frame size is taken
    // from the first rectangle, rounded to even sides, and kept: a region
    // that grows later is cropped to it from its top-left corner, one that
    // shrinks leaves the rest of the frame black.
    void Start(TScreen& screen, TFuncOfRect rect);
    // Full-screen recording of the monitor nearest the mouse cursor, as
    // `screen`'s monitor list has it.
    void Start(TScreen& screen);
    // Asks the encoder to finish its file and end; the recording is over
    // when IsRunning() turns false. Does nothing when the encoder has ended
    // or has been asked already.
    void Stop();

    // From Start until the encoder has ended (or the start has failed).
    bool IsRunning() const { return FIsRunning; }
    // The elapsed time the encoder reported last, "00:00:00.00" at start.
    QString RecTime() const { return FRecTime; }
    // Why the recording failed; empty when it did not (yet).
    QString ErrorText() const { return FErrorText; }
    // The encoder's command line as it was started.
    QString CommandLine() const { return FCommandLine; }
    // Region frames handed to the encoder, and frames skipped because the
    // encoder had not yet taken the previous one.
    int FramesWritten() const;
    int FramesDropped() const;
    // The private folder holding the region recording's FIFO; empty in
    // full-screen mode. Gone once the recording has ended.
    QString PipeFolder() const { return FPipeFolder; }

    void SetOnError(TRecordErrorEvent handler) { FOnError = std::move(handler); }

    // The PulseAudio source to record: the default source when it is a real
    // input, else the first real input listed; never a monitor of an
    // output. Empty when there is none or no sound server (asks the encoder,
    // at most 5 seconds).
    QString GetDriver() const;

    // The pieces of the command line, public for tests.
    // Sides rounded to the even neighbour whose half is even (101 gives 100,
    // 103 gives 104, 51 gives 52), at least 2.
    static QSize FrameSize(const QSize& regionSize);
    static QString FullScreenSource(const QString& display, const QRect& monitor, bool mouse);
    static QString RegionSource(const QString& pipePath, const QSize& frameSize);
    static QString LimitText(int limitSeconds);
    // The whole command line; an empty `audioSource` records no sound.
    static QString CommandText(const QString& ffmpeg, const QString& videoSource,
                               const QString& audioSource, int limitSeconds, const QString& output);
    // The source GetDriver picks from the encoder's listing of sources.
    static QString PulseSourceFromListing(const QString& listing);

signals:
    // The recording is over: IsRunning() has just turned false.
    void Ended();

private:
    // Frames of `regionSize` (rounded to even sides) go through a new FIFO
    // into a new encoder.
    void StartFrameEncoder(const QSize& regionSize);
    void StartEncoder(const QString& videoSource);
    void CmdNewLine(const QString& newLine, TOutputType outputType);
    void CmdTerminated();
    void VirtualTick();
    void StartStream();
    void StreamTick();
    void StreamFailed(const QString& message);
    QImage& FreeFrame();
    void WriteLog(const QString& line);
    // Ends a recording that failed before the encoder ran, as the runner's
    // end would: the error report and Ended arrive from the event loop.
    void FailStart(const QString& message);
    void Finish();
    void ReportError(const QString& message);
    void CleanUp();

    const TRecordOptions FOptions;
    std::unique_ptr<TDosCommand> FCMD;
    TScreen* FScreen = nullptr;
    std::unique_ptr<TFramePipe> FPipe;
    QTimer FTimer;
    QTimer FStopTimer;
    std::unique_ptr<TScreenStream> FStream;
    QDeadlineTimer FFirstFrameDeadline;
    bool FStreamReady = false;
    // Region frames: the one being painted and those queued for the encoder.
    std::vector<QImage> FFrames;
    QRect FScreenBounds;
    TFuncOfRect FRect;
    QString FDriver;
    QString FRecTime;
    QString FErrorText;
    QString FCommandLine;
    QString FPipeFolder;
    QString FLastMessage;
    QFile FLog;
    bool FLogFailed = false;
    bool FIsRunning = false;
    bool FStarted = false;
    bool FStopping = false;
    bool FKilledEmpty = false;
    bool FStopTimedOut = false;
    int FPipeFramesWritten = 0;
    int FPipeFramesDropped = 0;
    TRecordErrorEvent FOnError;
};
