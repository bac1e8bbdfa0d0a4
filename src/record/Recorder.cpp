#include "record/Recorder.h"

#include "platform/ScreenCopy.h"
#include "record/FramePipe.h"
#include "services/Text.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QThread>
#include <algorithm>

namespace {

const QString InitialRecTime = QStringLiteral("00:00:00.00");

// Region frames that may wait for the encoder, the one it is reading
// included: about 100 ms at the frame rate, enough for the encoder's uneven
// pace; an encoder slower than that for longer drops frames instead.
constexpr int FramesQueued = 3;

// Always in quotation marks, as the encoder's command line has its paths,
// and escaped so the runner's splitting gives the text back unchanged.
QString Quoted(const QString& text)
{
    const QString quoted = QuoteArgument(text);
    if (quoted.startsWith(u'"'))
        return quoted;
    // No blank and no quotation mark inside, so only trailing backslashes
    // need doubling to keep the closing quotation mark.
    qsizetype trailing = 0;
    while (trailing < text.size() && text.at(text.size() - 1 - trailing) == u'\\')
        ++trailing;
    return u'"' + text + QString(trailing, u'\\') + u'"';
}

// ffmpeg's status lines ("frame= ... time=00:00:01.23 bitrate= ...").
bool IsStatusLine(const QString& line)
{
    const QString trimmed = line.trimmed();
    return trimmed.isEmpty() || trimmed.startsWith(QStringLiteral("frame=")) ||
           trimmed.startsWith(QStringLiteral("size="));
}

QString X11Display()
{
    const QString display = qEnvironmentVariable("DISPLAY");
    return display.isEmpty() ? QStringLiteral(":0") : display;
}

} // namespace

TRecorder::TRecorder(TRecordOptions options, QObject* owner)
    : QObject(owner), FOptions(std::move(options))
{
    FTimer.setInterval(30);
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, &TRecorder::VirtualTick);
    FStopTimer.setSingleShot(true);
    connect(&FStopTimer, &QTimer::timeout, this, [this] {
        if (FCMD && FCMD->IsRunning()) {
            FStopTimedOut = true;
            FCMD->Stop();
        }
    });
}

TRecorder::~TRecorder()
{
    FTimer.stop();
    // Nothing of the stream's is being handled now, so it can go at once
    // (closing the desktop's session); later frames would be lost anyway.
    FStream.reset();
    if (FCMD && FCMD->IsRunning()) {
        if (FPipe && FPipe->FramesWritten() == 0 && !FPipe->Busy()) {
            // No frame yet: nothing to keep, and the encoder may be waiting
            // for the FIFO to open, where it reads no key.
            FCMD.reset();
            QFile::remove(FOptions.Output);
        } else {
            // Finish the file rather than kill the encoder, which would leave
            // an MP4 without its index: the frame in progress is completed,
            // the end of the stream and "q" tell the encoder to finish.
            if (FPipe) {
                FPipe->Finish(1000);
                FPipe->Close();
            }
            try {
                FCMD->SendLine(QStringLiteral("q"), false);
            } catch (const EDosCommand&) {
                // The run is ending anyway.
            }
            const QDeadlineTimer deadline(10000);
            while (FCMD->EndStatus() == TEndStatus::esStill_Active && !deadline.hasExpired())
                QThread::msleep(20);
        }
    }
    // Kills whatever is left of the encoder and joins the runner's threads.
    FCMD.reset();
    CleanUp();
}

int TRecorder::FramesWritten() const
{
    return FPipe ? FPipe->FramesWritten() : FPipeFramesWritten;
}

int TRecorder::FramesDropped() const
{
    return FPipe ? FPipe->FramesDropped() : FPipeFramesDropped;
}

QSize TRecorder::FrameSize(const QSize& regionSize)
{
    const auto even = [](int side) {
        if (side < 2)
            return 2;
        int half = side / 2;
        // An odd side has a half of n.5: to the even neighbour of the two.
        if (side % 2 != 0 && half % 2 != 0)
            ++half;
        return 2 * half;
    };
    return {even(regionSize.width()), even(regionSize.height())};
}

QString TRecorder::FullScreenSource(const QString& display, const QRect& monitor, bool mouse)
{
    QString source = QStringLiteral("-video_size %1x%2").arg(monitor.width()).arg(monitor.height());
    if (!mouse)
        source += QStringLiteral(" -draw_mouse 0");
    return QStringLiteral("-f x11grab -framerate 30 ") + source +
           QStringLiteral(" -i %1+%2,%3").arg(display).arg(monitor.left()).arg(monitor.top());
}

QString TRecorder::RegionSource(const QString& pipePath, const QSize& frameSize)
{
    // Frames come when the recorder takes them, not at a steady rate, so
    // each is stamped with the time it arrives.
    return QStringLiteral("-f rawvideo -framerate 30 -pixel_format bgra -video_size %1x%2 "
                          "-use_wallclock_as_timestamps 1 -i ")
               .arg(frameSize.width())
               .arg(frameSize.height()) +
           Quoted(pipePath);
}

QString TRecorder::LimitText(int limitSeconds)
{
    return limitSeconds > 0 ? QStringLiteral("-t %1").arg(limitSeconds) : QString();
}

QString TRecorder::CommandText(const QString& ffmpeg, const QString& videoSource,
                               const QString& audioSource, int limitSeconds, const QString& output)
{
    QString text = QStringLiteral("-rtbufsize 150M {audio_f} {video_f} {audio_c} {video_c} "
                                  "{video_t} -vf \"scale=trunc(iw/2)*2:trunc(ih/2)*2\" -y ") +
                   Quoted(output);
    // Each placeholder once, in this order, so a value that happens to hold
    // a later placeholder's name is never replaced in turn.
    const auto replaceFirst = [&text](const QString& placeholder, const QString& value) {
        const qsizetype at = text.indexOf(placeholder);
        if (at >= 0)
            text.replace(at, placeholder.size(), value);
    };
    replaceFirst(QStringLiteral("{video_f}"), videoSource);
    replaceFirst(QStringLiteral("{video_c}"),
                 QStringLiteral("-c:v libx264 -preset ultrafast -r 30 -tune zerolatency -crf 25 "
                                "-pix_fmt yuv420p"));
    replaceFirst(QStringLiteral("{video_t}"), LimitText(limitSeconds));
    if (!audioSource.isEmpty()) {
        replaceFirst(QStringLiteral("{audio_f}"),
                     QStringLiteral("-f pulse -i ") + Quoted(audioSource));
        replaceFirst(QStringLiteral("{audio_c}"), QStringLiteral("-c:a aac -ac 2 -b:a 128k"));
    }
    replaceFirst(QStringLiteral("{audio_f}"), QString());
    replaceFirst(QStringLiteral("{audio_c}"), QString());
    return Quoted(ffmpeg) + u' ' + text;
}

QString TRecorder::PulseSourceFromListing(const QString& listing)
{
    // Lines after the header read "<mark> <name> [<description>]", with a
    // media list after it in newer versions; the mark is "*" for the default.
    QString first;
    bool inList = false;
    for (QString line : listing.split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.startsWith(QStringLiteral("Auto-detected sources for"))) {
            inList = true;
            continue;
        }
        if (!inList || line.size() < 3 || line.at(1) != u' ' ||
            (line.at(0) != u'*' && line.at(0) != u' '))
            continue;
        const qsizetype end = line.indexOf(QStringLiteral(" ["), 2);
        if (end < 0)
            continue;
        const QString name = line.mid(2, end - 2).trimmed();
        // A monitor records what the speakers play, not an input.
        if (name.isEmpty() || name.endsWith(QStringLiteral(".monitor")))
            continue;
        if (line.at(0) == u'*')
            return name;
        if (first.isEmpty())
            first = name;
    }
    return first;
}

QString TRecorder::GetDriver() const
{
    QProcess listing;
    listing.setProcessChannelMode(QProcess::MergedChannels);
    listing.setStandardInputFile(QProcess::nullDevice());
    listing.start(FOptions.FFMpeg, {QStringLiteral("-hide_banner"), QStringLiteral("-sources"),
                                    QStringLiteral("pulse")});
    if (!listing.waitForStarted(5000))
        return {};
    if (!listing.waitForFinished(5000)) {
        listing.kill();
        listing.waitForFinished(1000);
        return {};
    }
    return PulseSourceFromListing(QString::fromUtf8(listing.readAll()));
}

void TRecorder::Start(TScreen& screen, TFuncOfRect rect)
{
    if (FStarted)
        throw ERecordError("The recorder has already been started");
    FStarted = true;
    FIsRunning = true;
    FScreen = &screen;
    FRect = std::move(rect);
    if (FOptions.Stream) {
        StartStream();
        return;
    }

    const QRect first = FRect ? FRect() : QRect();
    for (const QRect& monitor : screen.Monitors())
        FScreenBounds = FScreenBounds.united(monitor);
    StartFrameEncoder(first.size());
}

void TRecorder::StartFrameEncoder(const QSize& regionSize)
{
    FFrames.clear();
    FFrames.emplace_back(FrameSize(regionSize), QImage::Format_RGB32);
    FPipe = std::make_unique<TFramePipe>(FramesQueued);
    if (!FPipe->Create()) {
        FailStart(FPipe->ErrorText());
        return;
    }
    FPipeFolder = FPipe->Folder();
    FPipe->OnBroken = [this] {
        FTimer.stop();
    };
    // Ticking before the encoder starts: a start that fails stops it again.
    FTimer.start();
    StartEncoder(RegionSource(FPipe->Path(), FFrames.front().size()));
}

void TRecorder::Start(TScreen& screen)
{
    if (FStarted)
        throw ERecordError("The recorder has already been started");
    FStarted = true;
    FIsRunning = true;
    if (FOptions.Stream) {
        StartStream();
        return;
    }
    const QList<QRect> monitors = screen.Monitors();
    const int index = MonitorNearestCursor(screen);
    if (index < 0 || index >= monitors.size()) {
        FailStart(QStringLiteral("There is no monitor to record"));
        return;
    }
    StartEncoder(FullScreenSource(X11Display(), monitors[index], FOptions.Mouse));
}

void TRecorder::StartStream()
{
    FStream = FOptions.Stream();
    if (!FStream) {
        FailStart(QStringLiteral("There is no screen cast to record from"));
        return;
    }
    connect(FStream.get(), &TScreenStream::Ready, this, [this] {
        FStreamReady = true;
        FFirstFrameDeadline.setRemainingTime(std::max(FOptions.FirstFrameTimeoutMs, 0));
        FTimer.start();
    });
    connect(FStream.get(), &TScreenStream::Failed, this, &TRecorder::StreamFailed);
    FStream->Open(FOptions.Mouse);
}

void TRecorder::StreamFailed(const QString& message)
{
    if (!FIsRunning || !FStream)
        return;
    if (FCMD && FCMD->IsRunning()) {
        // The user stopped sharing or the desktop went: the frames so far
        // make a proper file, finished as a stop would.
        qInfo("The recording's screen cast ended: %s", qPrintable(message));
        Stop();
        return;
    }
    FailStart(message);
}

void TRecorder::StreamTick()
{
    if (FStopping)
        return;
    quint64 serial = 0;
    const QImage latest = FStream->Latest(&serial);
    if (!FPipe) {
        // The encoder starts with the first frame, so a recording never
        // begins with pictures the screen did not show.
        if (serial == 0) {
            if (FFirstFrameDeadline.hasExpired())
                FailStart(QStringLiteral("The screen cast sent no picture within %1 seconds")
                              .arg(FOptions.FirstFrameTimeoutMs / 1000.0));
            return;
        }
        StartFrameEncoder(FRect ? FRect().size() : latest.size());
        return;
    }
    if (!FPipe->IsOpen() && !FPipe->TryOpen())
        return;
    if (FPipe->Full()) {
        FPipe->CountDropped();
        return;
    }
    const QSize frameSize = FFrames.front().size();
    if (!FRect && latest.size() == frameSize && latest.format() == QImage::Format_RGB32) {
        // The stream never writes into a frame it has handed out, so the
        // whole monitor goes to the encoder without a copy.
        FPipe->Send(latest);
        return;
    }
    QImage& frame = FreeFrame();
    if (FRect) {
        const QRect rect = FRect();
        const QRect copied(rect.topLeft(), rect.size().boundedTo(frame.size()));
        if (copied.size() != frame.size())
            frame.fill(Qt::black);
        CopyFromStream(latest, FStream->Bounds(), copied, frame);
    } else {
        // The monitor's resolution changed: its top-left part, the rest black.
        if (latest.width() < frame.width() || latest.height() < frame.height())
            frame.fill(Qt::black);
        CopyFromStream(latest, latest.rect(), frame.rect().intersected(latest.rect()), frame);
    }
    FPipe->Send(frame);
}

void TRecorder::StartEncoder(const QString& videoSource)
{
    FRecTime = InitialRecTime;
    FIsRunning = true;

    // The encoder cannot write into a folder that does not exist, and the
    // file name comes from a save folder that is never created beforehand.
    const QString folder = QFileInfo(FOptions.Output).absolutePath();
    if (FOptions.Output.isEmpty() || !QDir().mkpath(folder)) {
        FailStart(QStringLiteral("Cannot create the folder \"%1\"").arg(folder));
        return;
    }

    FDriver = FOptions.Audio ? GetDriver() : QString();
    FCommandLine =
        CommandText(FOptions.FFMpeg, videoSource, FDriver, FOptions.LimitSeconds, FOptions.Output);

    FCMD = std::make_unique<TDosCommand>();
    FCMD->SetOnNewLine(
        [this](TDosCommand*, const QString& line, TOutputType type) { CmdNewLine(line, type); });
    FCMD->SetOnTerminated([this](TDosCommand*) { CmdTerminated(); });
    FCMD->SetOnExecuteError([this](TDosCommand*, const std::exception& e, bool& handled) {
        FErrorText =
            TDosCommand::ExceptionClassName(e) + QStringLiteral(": ") + QString::fromUtf8(e.what());
        // Unhandled, the runner shows its own error box.
        if (FOnError)
            FOnError(this, FErrorText, handled);
    });
    FCMD->SetCommandLine(FCommandLine);
    try {
        FCMD->Execute();
    } catch (const std::exception& e) {
        FCMD.reset();
        FailStart(TDosCommand::ExceptionClassName(e) + QStringLiteral(": ") +
                  QString::fromUtf8(e.what()));
    }
}

void TRecorder::FailStart(const QString& message)
{
    FErrorText = message;
    CleanUp();
    QMetaObject::invokeMethod(
        this,
        [this] {
            QPointer<TRecorder> self(this);
            ReportError(FErrorText);
            if (self)
                Finish();
        },
        Qt::QueuedConnection);
}

void TRecorder::Stop()
{
    if (FStream && !FCMD && FIsRunning && !FStopping) {
        // Still waiting for the desktop or the first frame: there is nothing
        // to finish, and the session closes with the stream.
        FStopping = true;
        CleanUp();
        QMetaObject::invokeMethod(this, &TRecorder::Finish, Qt::QueuedConnection);
        return;
    }
    if (!FCMD || !FCMD->IsRunning() || FStopping)
        return;
    FStopping = true;
    FTimer.stop();
    if (FPipe && FPipe->FramesWritten() == 0 && !FPipe->Busy()) {
        // The encoder has no frame yet and may still be waiting for the FIFO
        // to open, where it reads no key: nothing is lost by ending it.
        FKilledEmpty = true;
        FCMD->Stop();
        return;
    }
    FCMD->SendLine(QStringLiteral("q"), false);
    FStopTimer.start(std::max(FOptions.StopTimeoutSeconds, 0) * 1000);
    // The encoder reads keys only between frames; the end of the stream
    // ends it even while it waits for the next frame.
    if (FPipe)
        FPipe->CloseWhenSent();
}

void TRecorder::VirtualTick()
{
    if (FStream) {
        StreamTick();
        return;
    }
    if (!FPipe || !FScreen || !FRect || FStopping)
        return;
    if (!FPipe->IsOpen() && !FPipe->TryOpen())
        return;
    if (FPipe->Full()) {
        FPipe->CountDropped();
        return;
    }
    QImage& frame = FreeFrame();
    const QRect rect = FRect();
    const QRect copied(rect.topLeft(), rect.size().boundedTo(frame.size()));
    // Pixels the copy does not reach (a smaller region, the region partly
    // off the screen) would keep an earlier frame's content.
    if (copied.size() != frame.size() || !FScreenBounds.contains(copied))
        frame.fill(Qt::black);
    if (!copied.isEmpty())
        CopyScreen(*FScreen, frame, copied, FOptions.Mouse);
    FPipe->Send(frame);
}

QImage& TRecorder::FreeFrame()
{
    // Frames still queued in the pipe are shared with it; painting into one
    // would copy it first. A free one is reused, else one more is made, up
    // to one more than the pipe can queue, so there is always a free one.
    for (QImage& frame : FFrames) {
        if (frame.isDetached())
            return frame;
    }
    FFrames.emplace_back(FFrames.front().size(), FFrames.front().format());
    return FFrames.back();
}

void TRecorder::CmdNewLine(const QString& newLine, TOutputType outputType)
{
    const QString time = TextBetween(newLine, QStringLiteral("time="), QStringLiteral(" "));
    if (!time.isEmpty())
        FRecTime = time;
    if (outputType == TOutputType::otEntireLine && !IsStatusLine(newLine))
        FLastMessage = newLine.trimmed();
    if (FOptions.Logging && !FLogFailed)
        WriteLog(newLine);
}

void TRecorder::WriteLog(const QString& line)
{
    QString failure;
    if (!FLog.isOpen()) {
        const QString folder = QFileInfo(FOptions.Output).absolutePath();
        FLog.setFileName(QDir(folder).filePath(QStringLiteral("ffmpeg.log")));
        if (!QDir().mkpath(folder) || !FLog.open(QIODevice::WriteOnly | QIODevice::Append))
            failure = FLog.errorString();
    }
    if (failure.isEmpty()) {
        QByteArray bytes = line.toUtf8();
        bytes.append('\n');
        if (FLog.write(bytes) != bytes.size() || !FLog.flush()) {
            failure = FLog.errorString();
            FLog.close();
        }
    }
    if (failure.isEmpty())
        return;
    // Told once: every further line would fail the same way, and the
    // recording itself goes on.
    FLogFailed = true;
    ReportError(QStringLiteral("Cannot write the log \"%1\": %2").arg(FLog.fileName(), failure));
}

void TRecorder::CmdTerminated()
{
    const TEndStatus status = FCMD->EndStatus();
    const std::uint32_t exitCode = FCMD->ExitCode();
    CleanUp();
    QString failure;
    if (FKilledEmpty) {
        // The encoder never had a frame; what it left is no recording.
        QFile::remove(FOptions.Output);
    } else if (FStopTimedOut && status == TEndStatus::esStop) {
        failure = QStringLiteral("ffmpeg did not finish within %1 seconds of the stop and was "
                                 "ended; \"%2\" may be incomplete")
                      .arg(FOptions.StopTimeoutSeconds)
                      .arg(FOptions.Output);
    } else if (FErrorText.isEmpty() && status == TEndStatus::esProcess && exitCode != 0) {
        failure = QStringLiteral("ffmpeg ended with exit code %1").arg(exitCode);
        if (!FLastMessage.isEmpty())
            failure += QStringLiteral(": ") + FLastMessage;
    }
    if (!failure.isEmpty()) {
        FErrorText = failure;
        QPointer<TRecorder> self(this);
        ReportError(failure);
        if (!self)
            return;
    }
    Finish();
}

void TRecorder::Finish()
{
    FIsRunning = false;
    emit Ended();
}

void TRecorder::ReportError(const QString& message)
{
    bool handled = false;
    if (FOnError)
        FOnError(this, message, handled);
    if (!handled)
        TDosCommand::ShowExecuteError(ERecordError(message.toStdString()));
}

void TRecorder::CleanUp()
{
    FTimer.stop();
    FStopTimer.stop();
    // May run inside one of the stream's own signals.
    if (FStream)
        FStream.release()->deleteLater();
    if (FPipe) {
        FPipeFramesWritten = FPipe->FramesWritten();
        FPipeFramesDropped = FPipe->FramesDropped();
        FPipe.reset();
    }
    FLog.close();
}
