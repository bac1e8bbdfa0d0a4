#include "app/Controller.h"

#include "app/ColorCard.h"
#include "app/Feedback.h"
#include "app/MainControls.h"
#include "app/RecordControl.h"
#include "capture/Area.h"
#include "capture/Capture.h"
#include "capture/Drag.h"
#include "capture/Line.h"
#include "capture/web/IExplorer.h"
#include "editor/Editor.h"
#include "output/Floating.h"
#include "output/Save.h"
#include "output/Upload.h"
#include "output/ocr/Enlarge.h"
#include "platform/Platform.h"
#include "services/Config.h"
#include "services/MessageBox.h"
#include "services/Translate.h"
#include "services/Wait.h"

#include <QAction>
#include <QComboBox>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <exception>

namespace {

int QualityOf(const QComboBox* selector)
{
    bool ok = false;
    const int quality = selector->currentText().toInt(&ok);
    return ok ? quality : 90;
}

} // namespace

TController::TController(TPlatform& platform, TMainControls& controls, TFrmSize& size,
                         TAreaOwner& areaOwner, TFloatOwner& floatOwner, QWidget& window)
    : QObject(&window), FPlatform(platform), FControls(controls), FSize(size),
      FAreaOwner(areaOwner), FWindow(window)
{
    FRtOcr = new TRtOcr(this);
    FRtOcr->setObjectName(QStringLiteral("RtOcr"));
    FFeedback = new TFeedback(this);
    FCapture = std::make_unique<TCapture>(*FPlatform.Screen, *FPlatform.Windows);
    FRecord = std::make_unique<TRecordControl>(
        FControls, *FCapture, [this] { return FFrmArea.get(); }, this);
    FRecord->SetStreamSource(FPlatform.CreateScreenStream);
    FloatList = std::make_unique<TFloatList>(floatOwner);
    connect(FRecord.get(), &TRecordControl::RecordingChanged, this, &TController::RecordingChanged);
    connect(FRecord.get(), &TRecordControl::Recorded, FFeedback, &TFeedback::Recorded);
}

TController::~TController()
{
    FRecord.reset();
    if (FFrmEditor)
        delete FFrmEditor.data();
    if (FFrmLine)
        delete FFrmLine.data();
    if (FFrmIExplorer) {
        const QSignalBlocker blocker(FFrmIExplorer.data());
        delete FFrmIExplorer.data();
    }
    FFrmArea.reset();
    FloatList.reset();
}

bool TController::IsRecording() const
{
    return FRecord->IsRecording();
}

void TController::RecordStop()
{
    FRecord->RecordStop();
}

void TController::PlaySound()
{
    if (FPlatform.Sound)
        FPlatform.Sound->Play();
}

void TController::ChkAreaChange()
{
    FControls.ChkArea->setEnabled(false);
    FControls.PnlMain->setCurrentWidget(FControls.Card1);
    CloseAreaWindows();
    const int area = FControls.ChkArea->currentIndex();
    if (area == CaptureArea::Region) {
        if (!FFrmArea)
            FFrmArea = std::make_unique<TFrmArea>(FSize, FAreaOwner);
        FFrmArea->show();
    } else if (area == CaptureArea::WindowControl) {
        if (!FFrmLine)
            FFrmLine = new TFrmLine(
                *FPlatform.Screen, *FPlatform.Windows,
                [this] { return FControls.ChkArea->currentIndex(); }, &FWindow);
        FFrmLine->show();
    } else if (area == CaptureArea::WebPage) {
        if (!FFrmIExplorer) {
            QString error;
            FFrmIExplorer = TFrmIExplorer::Create(&error);
            if (FFrmIExplorer) {
                connect(FFrmIExplorer.data(), &TFrmIExplorer::Closed, this,
                        [this] { FAreaOwner.AreaClosed(); });
            } else {
                ShowMessageBox(Translate(FControls.Caption()), error, TBoxIcon::Error);
                // Without the browser every later capture would take nothing
                // and say nothing: back to full screen, as closing it does.
                FAreaOwner.AreaClosed();
            }
        }
        if (FFrmIExplorer)
            FFrmIExplorer->show();
    } else if (area == CaptureArea::ColorPicker) {
        FControls.PnlMain->setCurrentWidget(FControls.Card2);
    }
    FControls.Card2->SetActive(FControls.PnlMain->currentWidget() == FControls.Card2);
    // Only the areas without a window of their own come back at the next start.
    TConfig config(ProgramConfigPath);
    WriteSetting(config, Setting::Area, area >= 0 && area <= 3 ? area : 0);
    FControls.ChkArea->setEnabled(true);
}

void TController::CloseAreaWindows()
{
    if (FFrmArea && FFrmArea->isVisible())
        FFrmArea->close();
    if (FFrmLine && FFrmLine->isVisible())
        FFrmLine->close();
    if (FFrmIExplorer && FFrmIExplorer->isVisible()) {
        // Another area was chosen: the new one stays.
        const QSignalBlocker blocker(FFrmIExplorer.data());
        FFrmIExplorer->close();
    }
}

void TController::AreaClosed()
{
    {
        const QSignalBlocker blocker(FControls.ChkArea);
        FControls.ChkArea->setCurrentIndex(CaptureArea::FullScreen);
    }
    FControls.PnlMain->setCurrentWidget(FControls.Card1);
    FControls.Card2->SetActive(false);
    TConfig config(ProgramConfigPath);
    WriteSetting(config, Setting::Area, 0);
}

void TController::BitmapToTXTFile(const QImage& bitmap, TBusy busy)
{
    const RtOcr::TLanguages& languages = FControls.Languages;
    int index = FControls.ChkOCR_lang->currentIndex();
    if (index < 0 || index >= languages.size())
        index = 0;
    if (languages.isEmpty())
        throw RtOcr::ERtOcrError(QStringLiteral("Language not available"));
    // The engine reads small letters poorly, so it gets them enlarged; large
    // ones it reads as well without, in a fraction of the time. Enlarging a
    // full screen takes tens of milliseconds: off the user-interface thread.
    QImage picture;
    Wait([&] {
        picture =
            PictureForRecognition(bitmap, languages[index].Script, TRtOcr::MaxImageDimension());
    });
    FRtOcr->SetPicture(picture);
    // The recognition finishes later on its own; the controller stays busy
    // until its completion has run, or until the job is dropped unrun.
    FRtOcr->Recognize(languages[index], [this, busy](const RtOcr::TResult& result) {
        BitmapToTXTFileCompleted(result);
        busy->Release();
    });
}

void TController::BitmapToTXTFileCompleted(const RtOcr::TResult& result)
{
    try {
        if (result.Status != RtOcr::stCompleted) {
            // The reason on a line of its own, as in the other failure boxes.
            FControls.ShowFailure(result.Error.isEmpty() ? QStringLiteral("OCR failed.")
                                                         : QStringLiteral("OCR failed.") +
                                                               QLatin1Char('\r') + result.Error);
        } else {
            QByteArray text;
            for (const RtOcr::TLine& line : result.Lines)
                text += line.Text.toUtf8() + "\r\n";
            const QString fileName = FControls.NewFilename(QStringLiteral("txt"));
            QSaveFile file(fileName);
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() ||
                !file.commit())
                throw std::runtime_error(
                    QStringLiteral("%1: %2").arg(fileName, file.errorString()).toStdString());
            if (FControls.ChkSound3->isChecked())
                PlaySound();
            FFeedback->Recognised(fileName, QString::fromUtf8(text));
        }
    } catch (const std::exception& e) {
        // A recognised text that cannot be written is reported, not lost silently.
        FControls.ShowFailure(QString::fromUtf8(e.what()));
    }
}

void TController::Start()
{
    const int area = FControls.ChkArea->currentIndex();
    const int destination = FControls.ChkSaveTo->currentIndex();
    if (area != CaptureArea::ColorPicker) {
        const bool unsupported =
            (destination == CaptureDestination::Mp4 && (area >= CaptureArea::Drag || area < 0)) ||
            (destination == CaptureDestination::Floating && area == CaptureArea::WebPage);
        if (unsupported) {
            ShowMessageBox(Translate(FControls.Caption()),
                           Translate(QStringLiteral("지원하지 않는 캡쳐영역입니다.")),
                           TBoxIcon::Information);
            return;
        }
    }
    if (destination == CaptureDestination::Mp4) {
        if (Status() == stIdle)
            FRecord->RecordStart(MakeBusy());
        else
            FRecord->RecordStop();
        return;
    }
    if (Status() == stIdle) {
        CaptureStart();
    } else if (FFrmEditor) {
        // The trigger is dropped while an edit is open; showing the editor
        // tells the user why nothing was captured.
        FFrmEditor->showNormal();
        FFrmEditor->raise();
        FFrmEditor->activateWindow();
    }
}

void TController::Capture(QImage& bitmap, QRect& rect)
{
    bitmap = QImage();
    FCapture->FShowCursor = FControls.ChkMouse->isChecked();
    switch (FControls.ChkArea->currentIndex()) {
    case CaptureArea::FullScreen:
        FCapture->Capture(bitmap, 0, rect);
        break;
    case CaptureArea::Region:
        if (FFrmArea) {
            rect = FFrmArea->GetRect();
            FCapture->Capture(bitmap, rect);
        }
        break;
    case CaptureArea::WebPage:
        if (FFrmIExplorer)
            CaptureWebPage(bitmap, *FFrmIExplorer);
        break;
    case CaptureArea::ActiveWindow:
    case CaptureArea::WindowControl: {
        const TWindowId window =
            FControls.ChkArea->currentIndex() == CaptureArea::ActiveWindow
                ? FPlatform.Windows->ActiveWindow()
                : FPlatform.Windows->WindowAt(FPlatform.Screen->CursorPosition());
        // Where Windows sees only some windows, none named may still be a
        // window the user means: capturing the monitor instead would
        // deliver the wrong picture without a word.
        if (window == 0 && FPlatform.PickPicture) {
            if (std::optional<QImage> picked = FPlatform.PickPicture()) {
                bitmap = *picked;
                rect = QRect(QPoint(0, 0), bitmap.size());
            }
            break;
        }
        FCapture->Capture(bitmap, window, rect);
        break;
    }
    default:
        break;
    }
}

void TController::CaptureStart()
{
    const TBusy busy = MakeBusy();
    const int area = FControls.ChkArea->currentIndex();
    const int destination = FControls.ChkSaveTo->currentIndex();
    if (FControls.ChkSound2->isChecked() && area != CaptureArea::Drag)
        PlaySound();

    QImage bitmap;
    QRect rect;
    try {
        if (area == CaptureArea::Drag) {
            TFrmDrag drag(*FPlatform.Screen);
            drag.Capture(bitmap, rect);
            drag.exec();
            if (bitmap.isNull())
                return;
            // After the selection, so the sound does not come before the user has chosen.
            if (FControls.ChkSound2->isChecked())
                PlaySound();
        } else if (area == CaptureArea::ColorPicker) {
            FControls.Card2->CaptureColor();
        } else {
            Capture(bitmap, rect);
        }
    } catch (const std::exception& e) {
        // A failure while the area is grabbed is reported like any other.
        FControls.ShowFailure(QString::fromUtf8(e.what()));
        return;
    }
    if (bitmap.isNull())
        return;

    if (destination == CaptureDestination::Edit)
        OpenEditor(bitmap, rect, busy);
    else
        Deliver(destination, bitmap, rect, busy);
}

bool TController::Deliver(int destination, const QImage& bitmap, const QRect& rect,
                          const TBusy& busy)
{
    try {
        QString fileName;
        switch (destination) {
        case CaptureDestination::Png:
            fileName = FControls.NewFilename(QStringLiteral("png"));
            BitmapToPNGFile(bitmap, fileName);
            break;
        case CaptureDestination::Jpg:
            fileName = FControls.NewFilename(QStringLiteral("jpg"));
            BitmapToJPGFile(bitmap, fileName,
                            std::uint8_t(qBound(0, QualityOf(FControls.ChkJPEG_qual), 100)));
            break;
        case CaptureDestination::Gif:
            fileName = FControls.NewFilename(QStringLiteral("gif"));
            BitmapToGIFFile(bitmap, fileName);
            break;
        case CaptureDestination::Bmp:
            fileName = FControls.NewFilename(QStringLiteral("bmp"));
            BitmapToBMPFile(bitmap, fileName);
            break;
        case CaptureDestination::WebP:
            fileName = FControls.NewFilename(QStringLiteral("webp"));
            BitmapToWebPFile(bitmap, fileName, QualityOf(FControls.ChkWebP_qual));
            break;
        case CaptureDestination::Clipboard:
            BitmapToClipboard(bitmap);
            break;
        case CaptureDestination::Printer:
            BitmapToPrinter(bitmap, FWindow.logicalDpiX());
            break;
        case CaptureDestination::Txt:
            BitmapToTXTFile(bitmap, busy);
            return true;
        case CaptureDestination::Upload:
            break;
        case CaptureDestination::Floating:
            FloatList->FloatCreate(bitmap, rect);
            break;
        default:
            break;
        }
        if (FControls.ChkAutoCopy->isChecked() && destination != CaptureDestination::Clipboard)
            BitmapToClipboard(bitmap);
        if (FControls.ChkSound3->isChecked())
            PlaySound();
        // The upload runs its own event loop; the controller stays busy meanwhile.
        if (destination == CaptureDestination::Upload) {
            if (EnsureUploadServer && !EnsureUploadServer())
                return false;
            const QString link = CaptureUpload(bitmap, &FWindow);
            if (link.isEmpty())
                return false;
            FFeedback->Uploaded(link, bitmap);
        } else if (!fileName.isEmpty()) {
            FFeedback->Saved(fileName, bitmap);
        } else if (destination == CaptureDestination::Clipboard) {
            FFeedback->Copied(bitmap);
        } else if (destination == CaptureDestination::Printer) {
            FFeedback->Printed(bitmap);
        }
    } catch (const std::exception& e) {
        FControls.ShowFailure(QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TController::OpenEditor(const QImage& bitmap, const QRect& rect, TBusy busy)
{
    QList<TEditorDestination> destinations;
    for (int index = CaptureDestination::Png; index <= CaptureDestination::Floating; ++index) {
        // The recording is no picture destination; the optional ones only where they work.
        if (index == CaptureDestination::Mp4 ||
            (index == CaptureDestination::WebP && !WebPLibraryAvailable()) ||
            (index == CaptureDestination::Txt && FControls.Languages.isEmpty()))
            continue;
        destinations.append({index, FControls.ChkSaveTo->itemText(index)});
    }
    // The editor keeps the token, so the capture is busy until the editor is gone.
    FFrmEditor =
        new TFrmEditor(bitmap, rect, FControls.Caption(), destinations, CaptureDestination::Png,
                       [this, busy](int destination, const QImage& picture, const QRect& where) {
                           return Deliver(destination, picture, where, busy);
                       });
    FFrmEditor->show();
    FFrmEditor->raise();
    FFrmEditor->activateWindow();
}
