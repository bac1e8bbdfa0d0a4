#pragma once

#include "app/FileName.h"
#include "output/ocr/RtOcr.h"
#include "services/Config.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QStackedWidget;
class QWidget;
class TColorCard;
class TScreen;

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
// Not a place of its own: the editor opens, and sends on to one of the above.
inline constexpr int Edit = 11;
} // namespace CaptureDestination

// The codes of the language menu, in menu order.
inline const QStringList LanguageCodes = {"ko", "en", "ja", "ru", "it", "fr", "zh"};

// The main window's components and its popup menu, with their object names,
// their settings and their translation. It stores a menu choice the moment
// it is made; the items that act (open, quit, the hot key dialog...) are
// wired by the window. Lives as long as the window, which owns every
// component. User-interface thread only.
class TMainControls : public QObject
{
    Q_OBJECT
public:
    TMainControls(QWidget& window, TScreen& screen);

    // Fills the components from the stored settings and translates them.
    void LoadConfig();
    // Ticks the language `code` (one of LanguageCodes), translates the
    // window into it and stores it.
    void SetLanguage(const QString& code);
    // The box naming a missing library or program, then its help page.
    void ShowMissingFile(const QString& fileName, const QString& helpQuery);
    // The encoder that records MP4 is gone: the box and help of choosing MP4
    // without it.
    void ShowMissingEncoder();
    // Shows the options of the chosen destination, refusing one whose
    // library or program is missing (the box, the help page, back to PNG).
    void ChkSaveToChange();

    // The full path of the next output file, by the ticked naming item.
    QString NewFilename(const QString& ext) const;
    // The ticked maximum recording time; 0 when unlimited.
    int RecordLimitSeconds() const;
    QString Caption() const;
    // The capture failure box, with `message` as the reason.
    void ShowFailure(const QString& message);
    QString HelpPageAddress(const QString& query) const;
    void PopupAtCursor();
    // The tray Capture item's ticked delay in seconds; 0 for none.
    int CaptureDelaySeconds() const;
    // Shows the save folder's path on the items that open and set it.
    void ShowSavePath();

    // The text recognition languages behind ChkOCR_lang.
    RtOcr::TLanguages Languages;
    QString Language;
    QString FSavePath;

    QLabel* LblArea;
    QComboBox* ChkArea;
    QStackedWidget* PnlMain;
    QWidget* Card1;
    TColorCard* Card2;
    QWidget* Card3;
    QLabel* LblSaveTo;
    QComboBox* ChkSaveTo;
    QComboBox* ChkJPEG_qual;
    QComboBox* ChkWebP_qual;
    QComboBox* ChkOCR_lang;
    QPushButton* BtnOpenDir;
    QWidget* ShpRec;
    QLabel* Label1;
    QLabel* LvlRecTime;
    QLabel* LblCopyright;

    QMenu* Menu;
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
    QList<QAction*> DelayItems;
    QAction* ChkNotify;
    QAction* N17; // the upload server dialog
    QAction* N18; // the manual shipped with the program

signals:
    // A left click on the credit line.
    void CopyrightClicked();
    // Another language was ticked; the window itself is translated already.
    void LanguageChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls(TScreen& screen);
    void BuildMenu();
    void GroupClick(QAction* item, const QList<QAction*>& group, const TSetting<int>& setting,
                    const QString& prefix);

    QWidget& FWindow;
};
