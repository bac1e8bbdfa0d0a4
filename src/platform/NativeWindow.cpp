#include "platform/NativeWindow.h"

#include "platform/ScreenScale.h"
#include "platform/x11/X11NativeWindow.h"
#include "platform/x11/Xcb.h"

#include <QGuiApplication>
#include <QWidget>
#include <cmath>

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
    if (!connection || ratio == std::floor(ratio) || !window->internalWinId())
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
