#include "platform/NativeWindow.h"

#include "platform/ScreenScale.h"
#include "platform/null/NullPlatform.h"
#include "platform/x11/X11NativeWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

TNativeWindows* Installed = nullptr;

TNativeWindows& Native()
{
    if (Installed)
        return *Installed;
    // Chosen per call, as the loader chooses: Qt's own connection on "xcb".
    static TX11NativeWindows x11;
    static TNullNativeWindows none;
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return x11;
    return none;
}

} // namespace

TNativeWindows::~TNativeWindows()
{
    if (Installed == this)
        Installed = nullptr;
}

void UseNativeWindows(TNativeWindows* windows)
{
    Installed = windows;
}

std::optional<QPoint> WindowOriginOnScreen(const QWidget* window)
{
    return Native().Origin(window);
}

void SyncWindowPosition(QWidget* window)
{
    if (!window->isVisible())
        return;
    const std::optional<QPoint> real = WindowOriginOnScreen(window);
    if (!real)
        return;
    // The server speaks physical pixels, Qt its own units.
    const QPoint logical =
        LogicalFromPhysical(QRect(*real, PhysicalGeometry(window).size())).topLeft();
    if (logical != window->geometry().topLeft())
        window->move(logical);
}

void PlaceWindow(QWidget* window, const QRect& physical)
{
    SetPhysicalGeometry(window, physical);
    if (window->devicePixelRatioF() == 1.0 || !window->internalWinId())
        return;
    Native().Place(window, physical);
}

QRect WindowRectOnScreen(const QWidget* window)
{
    if (const std::optional<QRect> rect = Native().Rect(window))
        return *rect;
    return PhysicalGeometry(window);
}

void SetWindowShape(QWidget* window, const QRegion& shape)
{
    if (!window->internalWinId() || !Native().SetShape(window, shape))
        window->setMask(LocalFromPhysical(window, shape));
}

bool SetWindowInputShape(QWidget* window, const QRegion& shape)
{
    return window->internalWinId() && Native().SetInputShape(window, shape);
}

void KeepWindowAbove(QWidget* window, bool keep)
{
    if (window->internalWinId())
        Native().KeepAbove(window, keep);
}

QRect WorkArea(const QScreen* screen)
{
    if (!screen)
        return QRect();
    const std::optional<QList<QRect>> struts = Native().Struts();
    if (!struts)
        return screen->availableGeometry();
    const QRect logical = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    const QRect physical(logical.topLeft(), logical.size() * ratio);
    QRect area = physical;
    for (const QRect& strut : *struts) {
        const QRect common = strut & physical;
        if (common.isEmpty())
            continue;
        // Each strut sits on one edge of the root; it takes that side.
        if (common.left() == physical.left() && common.height() >= common.width() &&
            common.right() < physical.center().x())
            area.setLeft(qMax(area.left(), common.right() + 1));
        else if (common.right() == physical.right() && common.height() >= common.width() &&
                 common.left() > physical.center().x())
            area.setRight(qMin(area.right(), common.left() - 1));
        else if (common.top() == physical.top() && common.bottom() < physical.center().y())
            area.setTop(qMax(area.top(), common.bottom() + 1));
        else if (common.bottom() == physical.bottom() && common.top() > physical.center().y())
            area.setBottom(qMin(area.bottom(), common.top() - 1));
    }
    const QPoint origin = physical.topLeft();
    const QPoint offset = area.topLeft() - origin;
    return QRect(origin + QPoint(qRound(offset.x() / ratio), qRound(offset.y() / ratio)),
                 QSize(qRound(area.width() / ratio), qRound(area.height() / ratio)));
}

bool FocusWindow(QWidget* window)
{
    if (const std::optional<bool> focused = Native().Focus(window))
        return *focused;
    window->activateWindow();
    return window->isVisible();
}

bool CompositorRunning()
{
    return Native().CompositorRunning();
}
