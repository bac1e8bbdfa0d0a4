#include "capture/web/engine/EngineBrowser.h"

#include "capture/web/engine/PageCapture.h"

#include <QAction>
#include <QPointer>
#include <QWebEngineProfile>

namespace {

std::shared_ptr<QWebEngineProfile> SharedProfile()
{
    static std::weak_ptr<QWebEngineProfile> shared;
    std::shared_ptr<QWebEngineProfile> profile = shared.lock();
    if (!profile) {
        profile = std::make_shared<QWebEngineProfile>(QStringLiteral("Web"));
        shared = profile;
    }
    return profile;
}

} // namespace

TEngineBrowser::TEngineBrowser(QWidget* parent)
    : QWebEngineView(parent), FProfile(SharedProfile()),
      FPage(std::make_unique<QWebEnginePage>(FProfile.get()))
{
    setPage(FPage.get());
    FollowCommand(QWebEnginePage::Back, TCommand::NavigateBack);
    FollowCommand(QWebEnginePage::Forward, TCommand::NavigateForward);
    connect(this, &QWebEngineView::loadStarted, this, [this] { FBusy = true; });
    connect(this, &QWebEngineView::loadFinished, this, [this] {
        FBusy = false;
        if (OnDocumentComplete)
            OnDocumentComplete();
    });
    connect(this, &QWebEngineView::urlChanged, this, [this] {
        if (OnLocationChange)
            OnLocationChange();
    });
    connect(this, &QWebEngineView::titleChanged, this, [this](const QString& title) {
        if (OnTitleChange)
            OnTitleChange(title);
    });
}

TEngineBrowser::~TEngineBrowser()
{
    // The page reports its last address change while it goes; nobody is
    // left to hear it.
    disconnect(this, nullptr, nullptr, nullptr);
}

void TEngineBrowser::FollowCommand(QWebEnginePage::WebAction action, TCommand command)
{
    QAction* item = pageAction(action);
    connect(item, &QAction::enabledChanged, this, [this, command](bool enabled) {
        if (OnCommandStateChange)
            OnCommandStateChange(command, enabled);
    });
}

void TEngineBrowser::Navigate(const QString& address)
{
    load(QUrl(address));
}

void TEngineBrowser::GoBack()
{
    back();
}

void TEngineBrowser::GoForward()
{
    forward();
}

QString TEngineBrowser::LocationURL() const
{
    return url().toString();
}

void TEngineBrowser::SetUserAgent(const QString& value)
{
    FProfile->setHttpUserAgent(value);
}

QImage TEngineBrowser::CaptureWholePage(std::chrono::milliseconds timeout)
{
    // The capture runs an event loop; a second one on the same view would
    // fight the first over the view's size.
    if (FCapturing)
        return {};
    FCapturing = true;
    // The window may be closed while the capture waits for the engine.
    const QPointer<TEngineBrowser> self(this);
    QImage image = CaptureWebPage(*this, timeout);
    if (self)
        FCapturing = false;
    return image;
}

QWebEngineView* TEngineBrowser::createWindow(QWebEnginePage::WebWindowType)
{
    return nullptr;
}
