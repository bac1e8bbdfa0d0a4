#include "app/RecordControl.h"

#include "app/MainControls.h"
#include "capture/Area.h"
#include "capture/Capture.h"
#include "record/Recorder.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTimer>
#include <exception>

QString EncoderPath()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

TRecordControl::TRecordControl(TMainControls& controls, TCapture& capture,
                               TRegionWindow regionWindow, QObject* parent)
    : QObject(parent), FControls(controls), FCapture(capture),
      FRegionWindow(std::move(regionWindow))
{
    TmrRec = new QTimer(this);
    TmrRec->setObjectName(QStringLiteral("TmrRec"));
    TmrRec->setInterval(100);
    connect(TmrRec, &QTimer::timeout, this, &TRecordControl::TmrRecTimer);
}

TRecordControl::~TRecordControl()
{
    // The recorder finishes its file before it goes.
    delete FRecorder;
}

void TRecordControl::RecordStart(TBusy busy)
{
    const QString encoder = EncoderPath();
    if (encoder.isEmpty()) {
        // Removed since MP4 was chosen: said as plainly as at the choice,
        // rather than a trigger that silently does nothing.
        FControls.ShowMissingEncoder();
        return;
    }
    QString output;
    try {
        output = FControls.NewFilename(QStringLiteral("mp4"));
    } catch (const std::exception& e) {
        FControls.ShowFailure(QString::fromUtf8(e.what()));
        return;
    }

    FBusy = std::move(busy);
    FControls.ChkArea->setEnabled(false);
    FControls.PnlMain->setCurrentWidget(FControls.Card3);

    TRecordOptions options;
    options.Audio = FControls.ChkAudio->isChecked();
    options.Mouse = FControls.ChkMouse_Rec->isChecked();
    options.Logging = FControls.ChkLog->isChecked();
    options.FFMpeg = encoder;
    options.Output = output;
    options.LimitSeconds = FControls.RecordLimitSeconds();
    options.Stream = FStreamSource;
    FRecorder = new TRecorder(options, this);
    FLastTime.clear();
    emit RecordingChanged(true);
    if (FControls.ChkArea->currentIndex() == CaptureArea::Region && FRegionWindow())
        FRecorder->Start(FCapture.Screen(), [this] {
            TFrmArea* region = FRegionWindow();
            return region ? region->GetRect() : QRect();
        });
    else
        FRecorder->Start(FCapture.Screen());
    // A start that failed has already said why; the first tick tidies up.
    TmrRec->start();
}

void TRecordControl::RecordStop()
{
    if (FRecorder)
        FRecorder->Stop();
}

void TRecordControl::TmrRecTimer()
{
    if (!FRecorder)
        return;
    TFrmArea* region = FRegionWindow();
    if (FRecorder->IsRunning()) {
        const QString time = FRecorder->RecTime().left(8);
        FLastTime = time;
        FControls.LvlRecTime->setText(time);
        if (region)
            region->SetRecTime(time, true);
        return;
    }
    TmrRec->stop();
    const QString output = FRecorder->Options().Output;
    FRecorder->deleteLater();
    FRecorder = nullptr;
    FControls.ChkArea->setEnabled(true);
    FControls.PnlMain->setCurrentWidget(FControls.Card1);
    FControls.LvlRecTime->setText(QStringLiteral("00:00:00"));
    if (region)
        region->SetRecTime(QStringLiteral("00:00:00"), false);
    FBusy.reset();
    emit RecordingChanged(false);
    // A start that failed leaves no file (or an empty one) to speak of.
    if (QFileInfo(output).size() > 0)
        emit Recorded(output, FLastTime.isEmpty() ? QStringLiteral("00:00:00") : FLastTime);
}
