#pragma once

#include "capture/web/WebBrowser.h"

#include <QWebEngineView>
#include <memory>

class QWebEngineProfile;

// The browser control on Qt WebEngine. Its pages share one persistent
// profile (cookies and cache survive the window, as a browser's would),
// which lives exactly as long as some browser does.
class TEngineBrowser final : public QWebEngineView, public TWebBrowser
{
    Q_OBJECT
public:
    explicit TEngineBrowser(QWidget* parent);
    ~TEngineBrowser() override;

    QWidget* Widget() override { return this; }
    void Navigate(const QString& address) override;
    void GoBack() override;
    void GoForward() override;
    QString LocationURL() const override;
    bool Busy() const override { return FBusy; }
    void SetUserAgent(const QString& value) override;
    QImage CaptureWholePage(std::chrono::milliseconds timeout) override;

protected:
    // Pop-ups and links aimed at a new window open nothing.
    QWebEngineView* createWindow(QWebEnginePage::WebWindowType type) override;

private:
    void FollowCommand(QWebEnginePage::WebAction action, TCommand command);

    // Declared before the page: members go in reverse order, and a page
    // must go before its profile.
    std::shared_ptr<QWebEngineProfile> FProfile;
    std::unique_ptr<QWebEnginePage> FPage;
    bool FBusy = false;
    bool FCapturing = false;
};
