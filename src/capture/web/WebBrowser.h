#pragma once

#include <QImage>
#include <QString>
#include <QtPlugin>
#include <chrono>
#include <functional>

class QWidget;

// The browser control of the web page window, as the rest of the program
// sees it. The engine behind it lives in a plugin that is loaded the first
// time the web page area is chosen (see WebEngine.h), so this header is all
// the two sides share: it must stay header-only and free of Qt meta-objects.
//
// A browser is a widget owned by its parent; it lives and dies with it.
// Every call and every event happens on the user-interface thread.
class TWebBrowser
{
public:
    // The history commands whose state the engine reports.
    enum class TCommand
    {
        NavigateForward = 1,
        NavigateBack = 2
    };

    virtual ~TWebBrowser() = default;

    // The widget that shows the page.
    virtual QWidget* Widget() = 0;

    // Loads `address` as given: no scheme is added and nothing is trimmed.
    // Failures show the engine's own error page; nothing is reported.
    virtual void Navigate(const QString& address) = 0;
    virtual void GoBack() = 0;
    virtual void GoForward() = 0;
    // The address of the top-level page; empty before the first load.
    virtual QString LocationURL() const = 0;
    // True while the top-level page is loading.
    virtual bool Busy() const = 0;

    // The user agent the engine sends with every request; empty restores the
    // engine's own.
    virtual void SetUserAgent(const QString& value) = 0;

    // Renders the whole page shown, not only the visible part, and returns it
    // (device pixels, no cursor). The widget is enlarged to the page for the
    // time of the capture and given back its place in every case. Returns a
    // null image when no page is loaded or the engine stops answering for
    // `timeout`; never throws. Runs a local event loop (user input excluded)
    // until the engine has measured and painted the page.
    virtual QImage CaptureWholePage(std::chrono::milliseconds timeout) = 0;

    // Engine events. A command's state (can go back, can go forward) changed.
    std::function<void(TCommand, bool)> OnCommandStateChange;
    // The top-level page finished loading (also after an error page).
    std::function<void()> OnDocumentComplete;
    // The top-level address changed, including in-page navigation.
    std::function<void()> OnLocationChange;
    // The top-level page's title changed.
    std::function<void(const QString&)> OnTitleChange;
};

// What the engine plugin offers.
class TWebEngineFactory
{
public:
    virtual ~TWebEngineFactory() = default;

    // A new browser showing nothing yet (no address), a child of `parent`.
    // Windows the page asks to open are refused.
    virtual TWebBrowser* CreateWebBrowser(QWidget* parent) = 0;
};

// The interface id carries a revision: a plugin built against another
// revision of this header is refused by the loader instead of misbehaving.
#define TWebEngineFactory_iid "org.dastrane.Vorantu.TWebEngineFactory/1"
Q_DECLARE_INTERFACE(TWebEngineFactory, TWebEngineFactory_iid)
