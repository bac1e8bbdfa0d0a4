#pragma once

#include "app/Status.h"
#include "platform/ScreenStream.h"

#include <QObject>
#include <QString>
#include <functional>

class QTimer;
class TCapture;
class TFrmArea;
class TMainControls;
class TRecorder;

// The encoder program: "ffmpeg" beside the executable, else on the PATH;
// empty when there is none.
QString EncoderPath();

// One screen recording at a time, from the trigger that starts it to the
// one that stops it: the recording card with its clock, the region window's
// clock, and the controller kept busy for as long as the encoder runs.
// User-interface thread only.
class TRecordControl : public QObject
{
    Q_OBJECT
public:
    // The current region window, or none; asked at every frame.
    using TRegionWindow = std::function<TFrmArea*()>;

    // `controls` and `capture` must outlive the control.
    TRecordControl(TMainControls& controls, TCapture& capture, TRegionWindow regionWindow,
                   QObject* parent);
    ~TRecordControl() override;

    // Where recordings must read the screen from a screen cast (Wayland
    // sessions); applies from the next recording on.
    void SetStreamSource(TScreenStreamFactory source) { FStreamSource = std::move(source); }

    bool IsRecording() const { return FRecorder != nullptr; }
    // Records the area the selector shows (the monitor under the pointer, or
    // the region window) into the next MP4 file; `busy` is held until the
    // encoder has ended. Says why in a box when it cannot start.
    void RecordStart(TBusy busy);
    // Asks the encoder to finish its file; the clock stops once it has.
    void RecordStop();

signals:
    // A recorder came into being (true) or went (false).
    void RecordingChanged(bool recording);
    // A recording's file is complete; `length` as the clock showed it last.
    void Recorded(const QString& fileName, const QString& length);

private:
    void TmrRecTimer();

    TMainControls& FControls;
    TCapture& FCapture;
    TRegionWindow FRegionWindow;
    QTimer* TmrRec;
    // The running recording; deleted (later) once its encoder has ended.
    TRecorder* FRecorder = nullptr;
    TBusy FBusy;
    QString FLastTime;
    TScreenStreamFactory FStreamSource;
};
