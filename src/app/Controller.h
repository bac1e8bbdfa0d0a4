#pragma once

#include "app/Status.h"
#include "output/ocr/RtOcr.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <functional>
#include <memory>

class QWidget;
class TAreaOwner;
class TCapture;
class TFloatList;
class TFeedback;
class TFloatOwner;
class TFrmArea;
class TFrmEditor;
class TFrmIExplorer;
class TFrmLine;
class TFrmSize;
class TMainControls;
class TRecordControl;
struct TPlatform;

// The capture controller: joins the area the selector shows to the
// destination it shows, one capture at a time, and owns the area windows
// (region, control picker, web page) that the areas capture through.
// User-interface thread only.
class TController : public QObject
{
    Q_OBJECT
public:
    // Everything passed in must outlive the controller; `window` lends its
    // caption and resolution, `areaOwner` and `floatOwner` are told about
    // the region window and the floating windows.
    TController(TPlatform& platform, TMainControls& controls, TFrmSize& size, TAreaOwner& areaOwner,
                TFloatOwner& floatOwner, QWidget& window);
    ~TController() override;

    TStatus Status() const { return *FHolders > 0 ? stBusy : stIdle; }

    // The trigger: refuses an unsupported pair, starts or stops a
    // recording, else captures when idle.
    void Start();
    void CaptureStart();
    // Fills `bitmap` (and `rect`) from the areas the engine serves directly.
    void Capture(QImage& bitmap, QRect& rect);

    bool IsRecording() const;
    void RecordStop();

    // Opens the window of the area the selector shows and closes the others.
    void ChkAreaChange();
    // Back to full screen without closing anything (the area window closes itself).
    void AreaClosed();
    TFrmArea* RegionWindow() const { return FFrmArea.get(); }
    TFeedback* Feedback() const { return FFeedback; }

    // Asked before an upload; true when an upload server is set (it may
    // ask the user for one first). Without it uploads go to the stored host.
    std::function<bool()> EnsureUploadServer;

signals:
    // A recorder came into being (true) or went (false).
    void RecordingChanged(bool recording);

private:
    TBusy MakeBusy() { return std::make_shared<TBusyToken>(FHolders); }
    void CloseAreaWindows();
    void BitmapToTXTFile(const QImage& bitmap, TBusy busy);
    void BitmapToTXTFileCompleted(const RtOcr::TResult& result);
    void PlaySound();
    // The destination step of a capture (and of the editor's Send): false
    // when a failure was shown.
    bool Deliver(int destination, const QImage& bitmap, const QRect& rect, const TBusy& busy);
    void OpenEditor(const QImage& bitmap, const QRect& rect, TBusy busy);

    TPlatform& FPlatform;
    TMainControls& FControls;
    TFrmSize& FSize;
    TAreaOwner& FAreaOwner;
    QWidget& FWindow;
    std::unique_ptr<TCapture> FCapture;
    // How many busy tokens are alive.
    std::shared_ptr<int> FHolders = std::make_shared<int>(0);
    std::unique_ptr<TRecordControl> FRecord;
    std::unique_ptr<TFrmArea> FFrmArea;
    // Closing the picker deletes it.
    QPointer<TFrmLine> FFrmLine;
    std::unique_ptr<TFloatList> FloatList;
    // Frees itself when closed.
    QPointer<TFrmIExplorer> FFrmIExplorer;
    // Frees itself when closed; holds the capture's busy token until then.
    QPointer<TFrmEditor> FFrmEditor;
    // Loads its models on the first recognition, not here.
    TRtOcr* FRtOcr;
    TFeedback* FFeedback;
};
