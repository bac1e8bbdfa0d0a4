#include "platform/NativeWindow.h"

#include "platform/ScreenScale.h"
#include "platform/x11/X11NativeWindow.h"
#include "platform/x11/Xcb.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

// Chosen per call, as the loader chooses: Qt's own connection on "xcb".
xcb_connection_t* Connection()
{
    return QGuiApplication::platformName() == QLatin1String("xcb") ? QtXcbConnection() : nullptr;
}

} // namespace

std::optional<QPoint> WindowOriginOnScreen(const QWidget* window)
{
    xcb_connection_t* connection = Connection();
    if (!connection)
        return std::nullopt;
    // internalWinId() rather than winId(): asking must not create a native window.
    return X11WindowOrigin(connection, xcb_window_t(window->internalWinId()));
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
    xcb_connection_t* connection = Connection();
    const qreal ratio = window->devicePixelRatioF();
    if (!connection || ratio == 1.0 || !window->internalWinId())
        return;
    X11PlaceWindow(connection, xcb_window_t(window->internalWinId()), physical);
}

QRect WindowRectOnScreen(const QWidget* window)
{
    if (xcb_connection_t* connection = Connection(); connection && window->internalWinId()) {
        if (const std::optional<QRect> rect =
                X11WindowRect(connection, xcb_window_t(window->internalWinId())))
            return *rect;
    }
    return PhysicalGeometry(window);
}

void SetWindowShape(QWidget* window, const QRegion& shape)
{
    xcb_connection_t* connection = Connection();
    if (!connection || !window->internalWinId()) {
        window->setMask(LocalFromPhysical(window, shape));
        return;
    }
    X11SetWindowShape(connection, xcb_window_t(window->internalWinId()), shape);
}

QRect WorkArea(const QScreen* screen)
{
    if (!screen)
        return QRect();
    xcb_connection_t* connection = Connection();
    if (!connection)
        return screen->availableGeometry();
    const QRect logical = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    const QRect physical(logical.topLeft(), logical.size() * ratio);
    QRect area = physical;
    for (const QRect& strut : X11Struts(connection)) {
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
    xcb_connection_t* connection = Connection();
    if (!connection) {
        window->activateWindow();
        return window->isVisible();
    }
    return X11FocusWindow(connection, xcb_window_t(window->internalWinId()));
}

bool CompositorRunning()
{
    xcb_connection_t* connection = Connection();
    return connection && X11CompositorRunning(connection);
}
