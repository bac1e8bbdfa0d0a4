#include "capture/web/engine/PageCapture.h"

#include <QBoxLayout>
#include <QEventLoop>
#include <QLayout>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVariant>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <cmath>
#include <functional>
#include <optional>

namespace {

using namespace std::chrono_literals;

// How often the engine is asked whether it has caught up.
constexpr auto PollInterval = 15ms;
// Pictures taken this far apart must agree before the page counts as
// painted: the engine rasterises a newly enlarged page in tiles and may
// show a tile's background first.
constexpr auto SettleInterval = 40ms;
// The view is never made larger than this in either direction when the
// OpenGL limits cannot be read. Most GPUs paint at least this much in one
// piece.
constexpr int SafePaintLimit = 8192;

// Reads a page's extents. Runs in an isolated world of our own so the page's
// scripts neither see it nor can redefine what it calls.
const QString MeasureScript = QStringLiteral(R"(
(function () {
    function extent(element) {
        return element ? [element.scrollWidth, element.scrollHeight] : null;
    }
    var result = {body: null, root: null, frames: [], scroll: [window.scrollX, window.scrollY]};
    try { result.body = extent(document.body); } catch (e) {}
    try { result.root = extent(document.documentElement); } catch (e) {}
    var count = 0;
    try { count = window.frames.length; } catch (e) {}
    for (var i = 0; i < count; ++i) {
        try {
            var frame = extent(window.frames[i].document.documentElement);
            if (frame)
                result.frames.push(frame);
        } catch (e) {}
    }
    return result;
})()
)");

const QString VisibleScript = QStringLiteral("document.visibilityState === 'visible'");
const QString ViewportScript = QStringLiteral("[window.innerWidth, window.innerHeight]");
// The part of the viewport the page shows in, without its scroll bars.
const QString ClientScript =
    QStringLiteral("[window.visualViewport.width, window.visualViewport.height]");
const QString ScrollScript = QStringLiteral("[window.scrollX, window.scrollY]");
const QString ScrollToScript =
    QStringLiteral("window.scrollTo({left: %1, top: %2, behavior: 'instant'})");
// Two animation frames after the request, the engine has produced a frame
// of what the page shows now.
const QString RequestFrameScript =
    QStringLiteral("window.vorantuFramed = false;"
                   "requestAnimationFrame(function () {"
                   "    requestAnimationFrame(function () { window.vorantuFramed = true; });"
                   "});");
const QString FramedScript = QStringLiteral("window.vorantuFramed === true");

bool HasDocument(const QWebEngineView& view)
{
    const QUrl url = view.url();
    return !url.isEmpty() && !url.matches(QUrl(QStringLiteral("about:blank")),
                                          QUrl::RemoveQuery | QUrl::RemoveFragment);
}

// A width and height from the script's [width, height]; none when the value
// is missing or not a pair of numbers. Sizes beyond LargestExtent are cut
// down to it.
std::optional<QSize> ExtentOf(const QVariant& value)
{
    const QVariantList pair = value.toList();
    if (pair.size() != 2)
        return std::nullopt;
    int sides[2];
    for (int i = 0; i < 2; ++i) {
        bool ok = false;
        const double side = pair[i].toDouble(&ok);
        if (!ok || !std::isfinite(side) || side < 0)
            return std::nullopt;
        sides[i] = int(std::ceil(std::min(side, double(LargestExtent))));
    }
    return QSize(sides[0], sides[1]);
}

std::optional<QPoint> PointOf(const QVariant& value)
{
    const std::optional<QSize> pair = ExtentOf(value);
    return pair ? std::optional<QPoint>(QPoint(pair->width(), pair->height())) : std::nullopt;
}

// The size to render the page at, in CSS pixels; none when nothing could be
// measured.
std::optional<QSize> PageExtent(const QVariantMap& measured)
{
    bool any = false;
    int width = 0;
    int height = 0;
    auto grow = [&](const QSize& extent, int widthRoom) {
        any = true;
        width = std::max(width, extent.width() + widthRoom);
        height = std::max(height, extent.height());
    };
    if (const auto body = ExtentOf(measured.value(QStringLiteral("body"))))
        grow(*body, EdgeWidth + ScrollBarWidth + WidthMargin);
    if (const auto root = ExtentOf(measured.value(QStringLiteral("root"))))
        grow(*root, 0);
    for (const QVariant& frame : measured.value(QStringLiteral("frames")).toList()) {
        if (const auto extent = ExtentOf(frame))
            grow(*extent, 0);
    }
    if (!any)
        return std::nullopt;
    if (width < MinimumExtent)
        width = FallbackWidth;
    if (height < MinimumExtent)
        height = FallbackHeight;
    return QSize(std::min(width, LargestExtent), std::min(height, LargestExtent));
}

// The largest square, in device pixels, the view can show in one piece: the
// view is painted through an OpenGL texture and framebuffer of its size, and
// a larger one comes out black.
int PaintLimit()
{
    static const int limit = [] {
        QOpenGLContext* previous = QOpenGLContext::currentContext();
        QSurface* previousSurface = previous ? previous->surface() : nullptr;
        QOpenGLContext context;
        QOffscreenSurface surface;
        if (!context.create())
            return SafePaintLimit;
        surface.setFormat(context.format());
        surface.create();
        if (!context.makeCurrent(&surface))
            return SafePaintLimit;
        QOpenGLFunctions* gl = context.functions();
        GLint texture = 0;
        GLint renderBuffer = 0;
        GLint viewport[2] = {0, 0};
        gl->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
        gl->glGetIntegerv(0x84E8 /* GL_MAX_RENDERBUFFER_SIZE */, &renderBuffer);
        gl->glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
        context.doneCurrent();
        if (previous)
            previous->makeCurrent(previousSurface);
        int result = 0;
        for (GLint value : {texture, renderBuffer, viewport[0], viewport[1]}) {
            if (value > 0)
                result = result ? std::min(result, int(value)) : int(value);
        }
        return result > 0 ? result : SafePaintLimit;
    }();
    return limit;
}

// Takes a widget out of its parent's layout so it can be given any size,
// and puts it back in the same place, with its old geometry, when
// destroyed. A widget outside any layout just gets its geometry back.
class TLayoutHold
{
public:
    explicit TLayoutHold(QWidget& widget) : FWidget(&widget), FGeometry(widget.geometry())
    {
        if (QWidget* parent = widget.parentWidget(); parent && parent->layout())
            Find(parent->layout());
        if (!FLayout)
            return;
        if (auto* box = qobject_cast<QBoxLayout*>(FLayout.data()))
            FStretch = box->stretch(FIndex);
        FAlignment = FLayout->itemAt(FIndex)->alignment();
        FLayout->removeWidget(&widget);
    }

    ~TLayoutHold()
    {
        if (!FWidget)
            return;
        FWidget->setGeometry(FGeometry);
        if (!FLayout)
            return;
        if (auto* box = qobject_cast<QBoxLayout*>(FLayout.data()))
            box->insertWidget(FIndex, FWidget, FStretch, FAlignment);
        else
            FLayout->addWidget(FWidget);
        FLayout->activate();
    }

    TLayoutHold(const TLayoutHold&) = delete;
    TLayoutHold& operator=(const TLayoutHold&) = delete;

private:
    void Find(QLayout* layout)
    {
        const int index = layout->indexOf(FWidget.data());
        if (index >= 0) {
            FLayout = layout;
            FIndex = index;
            return;
        }
        for (int i = 0; i < layout->count() && !FLayout; ++i) {
            if (QLayout* inner = layout->itemAt(i)->layout())
                Find(inner);
        }
    }

    QPointer<QWidget> FWidget;
    QRect FGeometry;
    QPointer<QLayout> FLayout;
    int FIndex = -1;
    int FStretch = 0;
    Qt::Alignment FAlignment;
};

// The engine paints a page only while its window shows. A minimized or
// hidden window is shown for the time of the capture and put back as it was.
class TShowHold
{
public:
    explicit TShowHold(QWidget& window)
        : FWindow(&window), FWasHidden(!window.isVisible()), FWasMinimized(window.isMinimized())
    {
        if (FWasMinimized || FWasHidden)
            window.showNormal();
    }

    ~TShowHold()
    {
        if (!FWindow)
            return;
        if (FWasHidden)
            FWindow->hide();
        else if (FWasMinimized)
            FWindow->showMinimized();
    }

    TShowHold(const TShowHold&) = delete;
    TShowHold& operator=(const TShowHold&) = delete;

private:
    QPointer<QWidget> FWindow;
    bool FWasHidden;
    bool FWasMinimized;
};

// One capture, as a chain of engine round trips driven by a local event
// loop: measure; enlarge the view to the page; wait until the engine has
// laid out and painted it; take the picture; restore. A page larger than
// the view can be painted at once is taken in pieces, the view scrolled to
// each in turn.
class TPageCapture
{
public:
    TPageCapture(QWebEngineView& view, std::chrono::milliseconds timeout)
        : FView(&view), FTimeout(timeout)
    {
        FLimit.setSingleShot(true);
        QObject::connect(&FLimit, &QTimer::timeout, &FLoop, &QEventLoop::quit);
        QObject::connect(&view, &QObject::destroyed, &FLoop, &QEventLoop::quit);
    }

    QImage Run()
    {
        const TShowHold shown(*FView->window());
        FLimit.start(FTimeout);
        WaitUntilVisible();
        if (!FDone)
            FLoop.exec(QEventLoop::ExcludeUserInputEvents);
        // Whatever happened, the view gets its layout back before the
        // caller sees the picture.
        FHold.reset();
        // A capture that ran out of time has no complete picture to give.
        return FComplete ? FResult : QImage();
    }

private:
    template <typename F> void Script(const QString& source, F&& then)
    {
        if (!FView)
            return Finish();
        const QPointer<QObject> guard(&FGuard);
        FView->page()->runJavaScript(source, QWebEngineScript::ApplicationWorld,
                                     [guard, then = std::forward<F>(then)](const QVariant& result) {
                                         if (guard)
                                             then(result);
                                     });
    }

    void Later(std::chrono::milliseconds delay, std::function<void()> then)
    {
        QTimer::singleShot(delay, &FGuard, std::move(then));
    }

    double Scale() const { return FZoom * FView->devicePixelRatioF(); }

    void WaitUntilVisible()
    {
        Script(VisibleScript, [this](const QVariant& visible) {
            if (visible.toBool())
                Script(MeasureScript, [this](const QVariant& result) { Measured(result.toMap()); });
            else
                Later(PollInterval, [this] { WaitUntilVisible(); });
        });
    }

    void Measured(const QVariantMap& measured)
    {
        const std::optional<QSize> extent = PageExtent(measured);
        if (!extent || !FView)
            return Finish();
        FPage = *extent;
        FScroll = PointOf(measured.value(QStringLiteral("scroll"))).value_or(QPoint());
        FZoom = FView->zoomFactor();
        FResult = QImage(int(std::ceil(FPage.width() * Scale())),
                         int(std::ceil(FPage.height() * Scale())), QImage::Format_RGB32);
        if (FResult.isNull())
            return Finish();
        FResult.fill(Qt::white);

        const int limit = int(PaintLimit() / FView->devicePixelRatioF());
        const QSize size(std::min(int(std::ceil(FPage.width() * FZoom)), limit),
                         std::min(int(std::ceil(FPage.height() * FZoom)), limit));
        FHold.emplace(*FView);
        FView->resize(size);
        WaitForViewport(size, [this] {
            Script(ClientScript, [this](const QVariant& client) {
                const std::optional<QSize> shown = ExtentOf(client);
                if (!shown || shown->isEmpty())
                    return Finish();
                FClient = *shown;
                FNext = QPoint(0, 0);
                TakePiece();
            });
        });
    }

    // Calls `then` once the page's viewport is `size` (widget pixels).
    void WaitForViewport(QSize size, std::function<void()> then)
    {
        Script(ViewportScript, [this, size, then](const QVariant& result) {
            const std::optional<QSize> viewport = ExtentOf(result);
            const bool reached = viewport &&
                                 std::abs(viewport->width() * FZoom - size.width()) <= 1 &&
                                 std::abs(viewport->height() * FZoom - size.height()) <= 1;
            if (reached)
                then();
            else
                Later(PollInterval, [this, size, then] { WaitForViewport(size, then); });
        });
    }

    // Scrolls to the piece at FNext (CSS pixels; the last piece in a
    // direction ends at the page's end) and takes it.
    void TakePiece()
    {
        FLimit.start(FTimeout);
        const QPoint target(std::min(FNext.x(), std::max(0, FPage.width() - FClient.width())),
                            std::min(FNext.y(), std::max(0, FPage.height() - FClient.height())));
        Script(ScrollToScript.arg(target.x()).arg(target.y()),
               [this, target](const QVariant&) { WaitForScroll(target, 0); });
    }

    // A page that cannot scroll that far stays where it can; what it shows
    // there is taken.
    void WaitForScroll(QPoint target, int tries)
    {
        Script(ScrollScript, [this, target, tries](const QVariant& result) {
            const QPoint at = PointOf(result).value_or(QPoint());
            if (at == target || tries >= 10) {
                // A page that does not scroll there gives nothing new.
                if (FTaken && at == FAt)
                    return NextPiece();
                FAt = at;
                RequestFrame();
            } else {
                Later(PollInterval, [this, target, tries] { WaitForScroll(target, tries + 1); });
            }
        });
    }

    void RequestFrame()
    {
        Script(RequestFrameScript, [this](const QVariant&) { WaitForFrame(); });
    }

    void WaitForFrame()
    {
        Script(FramedScript, [this](const QVariant& framed) {
            if (framed.toBool())
                Later(SettleInterval, [this] { Grab(); });
            else
                Later(PollInterval, [this] { WaitForFrame(); });
        });
    }

    void Grab()
    {
        if (!FView)
            return Finish();
        QImage picture = FView->grab().toImage();
        if (picture.isNull() || picture != FPrevious) {
            FPrevious = std::move(picture);
            Later(SettleInterval, [this] { Grab(); });
            return;
        }
        FPrevious = QImage();
        // Device pixels throughout: the piece is copied pixel for pixel.
        picture.setDevicePixelRatio(1);
        const double scale = Scale();
        const QRect shown(0, 0, int(std::lround(FClient.width() * scale)),
                          int(std::lround(FClient.height() * scale)));
        QPainter painter(&FResult);
        painter.drawImage(
            QPoint(int(std::lround(FAt.x() * scale)), int(std::lround(FAt.y() * scale))), picture,
            shown);
        painter.end();
        FTaken = true;
        NextPiece();
    }

    void NextPiece()
    {
        if (FNext.x() + FClient.width() < FPage.width()) {
            FNext.rx() += FClient.width();
            return TakePiece();
        }
        if (FNext.y() + FClient.height() < FPage.height()) {
            FNext = QPoint(0, FNext.y() + FClient.height());
            return TakePiece();
        }
        Done();
    }

    void Done()
    {
        // The room for the border and the scroll bar goes again.
        const int cut = int(std::lround((EdgeWidth + ScrollBarWidth) * Scale()));
        FResult = FResult.copy(0, 0, std::max(0, FResult.width() - cut), FResult.height());
        FComplete = true;
        RestoreScroll();
    }

    // Back at its own size the page would be scrolled to the top, or to the
    // last piece; the user finds it where they left it.
    void RestoreScroll()
    {
        FHold.reset();
        if (!FView || (FScroll.isNull() && FAt.isNull()))
            return Finish();
        WaitForViewport(FView->size(), [this] {
            Script(ScrollToScript.arg(FScroll.x()).arg(FScroll.y()),
                   [this](const QVariant&) { Finish(); });
        });
    }

    void Finish()
    {
        FDone = true;
        FLoop.quit();
    }

    QPointer<QWebEngineView> FView;
    std::chrono::milliseconds FTimeout;
    // Callbacks and timers of this capture end with it, even when the
    // engine answers after the time limit.
    QObject FGuard;
    QEventLoop FLoop;
    QTimer FLimit;
    std::optional<TLayoutHold> FHold;
    double FZoom = 1;
    QSize FPage;    // CSS pixels
    QSize FClient;  // CSS pixels of the page one piece shows
    QPoint FScroll; // where the user had scrolled to
    QPoint FNext;   // the next piece wanted
    QPoint FAt;     // where the current piece really is
    QImage FPrevious;
    QImage FResult;
    bool FTaken = false;    // a piece is in FResult
    bool FComplete = false; // every piece is
    bool FDone = false;
};

} // namespace

QImage CaptureWebPage(QWebEngineView& view, std::chrono::milliseconds timeout)
{
    if (!HasDocument(view))
        return {};
    TPageCapture capture(view, timeout);
    return capture.Run();
}
