#pragma once

#include "app/FileName.h"
#include "capture/Area.h"
#include "output/Floating.h"
#include "output/ocr/RtOcr.h"
#include "platform/Instance.h"
#include "platform/Platform.h"

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <memory>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QStackedWidget;
class QSystemTrayIcon;
class QTimer;
class TCapture;
class TFrmHotKey;
class TRecorder;
class TFrmIExplorer;
class TFrmLine;
class TFrmSize;

// The controller status: the one guard against overlapping captures, since
// nested event loops (modal windows, message boxes, waits) let new triggers
// arrive while a capture runs.
enum TStatus
{
    stIdle = 0,
    stBusy = 1
};

// The capture area selector's items.
namespace CaptureArea {
inline constexpr int FullScreen = 0;
inline constexpr int Region = 1;
inline constexpr int Drag = 2;
inline constexpr int ActiveWindow = 3;
inline constexpr int WindowControl = 4;
inline constexpr int WebPage = 5;
inline constexpr int ColorPicker = 6;
} // namespace CaptureArea

// The destination selector's items.
namespace CaptureDestination {
inline constexpr int Png = 0;
inline constexpr int Jpg = 1;
inline constexpr int Gif = 2;
inline constexpr int Bmp = 3;
inline constexpr int WebP = 4;
inline constexpr int Mp4 = 5;
inline constexpr int Txt = 6;
inline constexpr int Clipboard = 7;
inline constexpr int Upload = 8;
inline constexpr int Printer = 9;
inline constexpr int Floating = 10;
} // namespace CaptureDestination

// The program's one permanent window: the area and destination selectors,
// the per-destination options, the colour and recording cards, the popup
// menu that holds every other setting, the tray icon, and the capture
// controller that joins an area to a destination. Closing it only hides it;
// the program ends through Quit(). User-interface thread only.
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

    // Runs one request of the command socket; the result is the reply.
    int HandleCommand(const TCommandRequest& request);

    // The capture trigger of the hot key and the "capture" command.
    void Start();
    void CaptureStart();
    // Fills `bitmap` (and `rect`) from the areas the engine serves directly.
    void Capture(QImage& bitmap, QRect& rect);
    void CaptureColor();

    // The full path of the next output file, by the ticked naming item.
    QString NewFilename(const QString& ext);

    bool IsRecording() const override { return FRecorder != nullptr; }
    void RecordStop() override;
    void AreaClosed() override;
    QString SavePath() const override { return FSavePath; }
    QString JpegQualityText() const override;
    QString WebPQualityText() const override;
    TStatus Status() const { return FStatus; }
    bool CanClose() const { return FCanClose; }
    QString ProductPageAddress() const;
    QString HelpPageAddress(const QString& query) const;
    QSystemTrayIcon* Tray() const { return TrayIcon; }
    QMenu* PopupMenu() const { return Menu; }

    static QString Version4();
    static QString Version3();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void BuildMenu();
    void LoadConfig();
    void SaveConfig(const QString& name, int value);
    void SaveConfig(const QString& name, bool value);
    void SaveConfig(const QString& name, const QString& value);

    void ChkAreaChange();
    void ChkSaveToChange();
    void ShowMissingFile(const QString& fileName, const QString& helpQuery);
    bool WebPLibraryPresent() const;
    bool EncoderPresent() const;

    void GroupClick(QAction* item, const QList<QAction*>& group, const QString& setting,
                    const QString& prefix);
    void ToggleClick(QAction* item, const QString& setting);
    void ChkRegStartClick();
    void ChkLang(QAction* item);
    void N4Click();
    void N10Click();
    void BtnOpenDirClick();
    void LblCopyrightClick();
    void PopupAtCursor();
    void ApplyTitles(const QString& version);

    void TmrColorTimer();
    void N5Click();
    void N7Click();

    void RecordStart();
    void TmrRecTimer();
    void BitmapToTXTFile(const QImage& bitmap);
    void BitmapToTXTFileCompleted(const RtOcr::TResult& result);
    QString EncoderPath() const;
    void CloseAreaWindows();
    void ShowFailure(const QString& message);
    void PlaySound();
    QString Caption() const;

    // Fields in the order the program's state is made.
    TPlatform& FPlatform;
    std::unique_ptr<TCapture> FCapture;
    // The running recording; deleted (later) once its encoder has ended.
    TRecorder* FRecorder = nullptr;
    TStatus FStatus = stIdle;
    bool FCanClose = false;
    bool FShownOnce = false;
    QSystemTrayIcon* TrayIcon = nullptr;
    RtOcr::TLanguages Languages; // the text recognition languages behind ChkOCR_lang
    QString Language;
    QString FSavePath;

    TFrmHotKey* FFrmHotKey = nullptr;
    TFrmSize* FFrmSize = nullptr;
    std::unique_ptr<TFrmArea> FFrmArea;
    // Closing the picker deletes it.
    QPointer<TFrmLine> FFrmLine;
    std::unique_ptr<TFloatList> FloatList;
    // Frees itself when closed.
    QPointer<TFrmIExplorer> FFrmIExplorer;

    // Controls.
    QLabel* LblArea;
    QComboBox* ChkArea;
    QStackedWidget* PnlMain;
    QWidget* Card1;
    QWidget* Card2;
    QWidget* Card3;
    QLabel* LblSaveTo;
    QComboBox* ChkSaveTo;
    QComboBox* ChkJPEG_qual;
    QComboBox* ChkWebP_qual;
    QComboBox* ChkOCR_lang;
    QPushButton* BtnOpenDir;
    QFrame* ShpColor;
    QLabel* LblColor;
    QListWidget* LstColor;
    QWidget* ShpRec;
    QLabel* Label1;
    QLabel* LvlRecTime;
    QLabel* LblCopyright;
    QTimer* TmrColor;
    QTimer* TmrRec;
    // Loads its models on the first recognition, not here.
    TRtOcr* FRtOcr;

    // Menus.
    QMenu* Menu;
    QMenu* Pick;
    QAction* N12;
    QAction* N4;
    QAction* ChkSound1;
    QAction* ChkSound2;
    QAction* ChkSound3;
    QAction* ChkMouse;
    QAction* ChkAutoCopy;
    QList<QAction*> RecLimitItems;
    QAction* ChkMouse_Rec;
    QAction* ChkAudio;
    QAction* ChkLog;
    QList<QAction*> LangItems;
    QAction* ChkAppend1;
    QAction* ChkAppend2;
    QAction* ChkAppend3;
    QAction* N1;
    QAction* ChkRegStart;
    QAction* N9;
    QAction* N10;
    QAction* N5;
    QAction* N7;
};

// The codes of the language menu, in menu order.
inline const QStringList LanguageCodes = {"ko", "en", "ja", "ru", "it", "fr", "zh"};
