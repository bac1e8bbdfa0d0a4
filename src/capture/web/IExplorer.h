#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <chrono>

class QLineEdit;
class QToolButton;
class TWebBrowser;

// The user agent every page of the web page window sees.
inline const QString IExplorerUserAgent = QStringLiteral(
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/128.0.0.0 Safari/537.36 Edg/128.0.0.0");

// How long a whole-page capture waits for the engine to take one piece of
// the page before it gives up.
inline constexpr std::chrono::milliseconds WebCaptureTimeout{20000};

// The web page window of the web page area: an address bar with back and
// forward buttons above a browser. The user loads a page here and each
// capture renders the whole of it. The window has no owner, so it stays
// visible while the main window is hidden, and frees itself when closed.
//
// The main window makes it when the web page area is chosen (Create), shows
// it, and lets it go by closing it. Nothing of it runs before that: the
// engine is loaded by the first Create. User-interface thread only.
class TFrmIExplorer : public QWidget
{
    Q_OBJECT
public:
    // A new window, hidden, its browser loading "about:blank". Loads the
    // engine on first use; nullptr with `error` set when the engine cannot
    // be loaded.
    static TFrmIExplorer* Create(QString* error = nullptr);
    ~TFrmIExplorer() override;

    // The browser control the capture reads.
    TWebBrowser& WB() const { return *FWB; }

    // The address typed in the field as it is navigated to: blanks and
    // control characters removed at both ends, nothing else changed.
    static QString TrimAddress(const QString& text);

signals:
    // The window is closing, whoever closed it. The main window answers by
    // returning the area to full screen and storing "area" 0; when it closes
    // the window itself because another area was chosen, it blocks this
    // signal first (QSignalBlocker) so the new area stays.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Alt+D, application-wide while the window exists.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFrmIExplorer();
    bool FormCreate(QString* error);

    void Edit1KeyPress();
    void BtnBackClick();
    void BtnForwardClick();
    void WBDocumentComplete();
    void WBTitleChange(const QString& title);

    TWebBrowser* FWB = nullptr;
    QWidget* Panel1;
    QWidget* Panel2;
    QWidget* Panel3;
    QWidget* Panel4;
    QToolButton* BtnBack;
    QToolButton* BtnForward;
    QLineEdit* Edit1;
};

// The web page area's capture: `bitmap` becomes the whole page shown in
// `window` (Format_RGB32, device pixels, no cursor). With no page loaded, or
// when the engine does not answer in time, `bitmap` is left empty; nothing
// is reported and nothing thrown. Returns once the picture is taken; see
// TWebBrowser::CaptureWholePage for the event loop it runs meanwhile.
void CaptureWebPage(QImage& bitmap, TFrmIExplorer& window);
