#pragma once

#include "app/MainControls.h"
#include "app/Status.h"
#include "capture/Area.h"
#include "output/Floating.h"
#include "platform/Platform.h"

#include <QImage>
#include <QRect>
#include <QWidget>

class QMenu;
class QSystemTrayIcon;
class QTimer;
class TController;
class TFrmHotKey;
class TFrmSize;

// The program's one permanent window: the area and destination selectors,
// the per-destination options, the colour and recording cards, the popup
// menu that holds every other setting, and the tray icon. The capture
// controller behind it joins an area to a destination. Closing it only
// hides it; the program ends through Quit(). User-interface thread only.
class TFrmVorantu : public QWidget, public TAreaOwner, public TFloatOwner
{
    Q_OBJECT
public:
    // `install` registers auto start before the settings are loaded ("/inst").
    TFrmVorantu(TPlatform& platform, bool install);
    ~TFrmVorantu() override;

    // Restores the window from the tray and brings it to the front.
    void ShowMainWindow();
    // Hides the window to the tray; the tray icon stays.
    void HideMainWindow();
    // A quit path: allows the close, then closes (refused while recording).
    void Quit();

    // The capture trigger of the hot key and the "capture" command.
    void Start();
    void CaptureStart();
    // Fills `bitmap` (and `rect`) from the areas the engine serves directly.
    void Capture(QImage& bitmap, QRect& rect);
    // Takes the colour the colour card shows.
    void CaptureColor();

    // The full path of the next output file, by the ticked naming item.
    QString NewFilename(const QString& ext);

    bool IsRecording() const override;
    void RecordStop() override;
    void AreaClosed() override;
    QString SavePath() const override { return FControls->FSavePath; }
    QString JpegQualityText() const override;
    QString WebPQualityText() const override;
    TStatus Status() const;
    bool CanClose() const { return FCanClose; }
    QString ProductPageAddress() const;
    QString HelpPageAddress(const QString& query) const;
    QSystemTrayIcon* Tray() const { return TrayIcon; }
    QMenu* TrayMenu() const { return FTrayMenu; }
    TController* Controller() const { return FController; }

    // Opens the product page (the credit line and its menu item).
    void LblCopyrightClick();

    static QString Version4();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void ChkLang();
    void ChkRegStartClick();
    void N1Click();
    void N4Click();
    void N10Click();
    void BtnOpenDirClick();
    void ApplyTitles(const QString& version);
    void NCaptureClick();
    void TmrDelayTimer();
    void SetRecordingState(bool recording);
    void N17Click();
    void N18Click();
    bool EnsureUploadServer();

    TPlatform& FPlatform;
    bool FCanClose = false;
    bool FShownOnce = false;
    // Components are the window's children; these only name them.
    TMainControls* FControls;
    TFrmHotKey* FFrmHotKey = nullptr;
    TFrmSize* FFrmSize = nullptr;
    // Deleted before the components it reads.
    TController* FController = nullptr;
    QSystemTrayIcon* TrayIcon = nullptr;
    // The tray's menu: Capture and Stop recording, then the window's menu.
    QMenu* FTrayMenu = nullptr;
    QAction* NCapture = nullptr;
    QAction* NStopRec = nullptr;
    // Counts a delayed tray capture down, one tick a second.
    QTimer* TmrDelay = nullptr;
    int FDelayLeft = 0;
    // The tray hint to return to after a countdown or a recording.
    QString FTrayHint;
};
