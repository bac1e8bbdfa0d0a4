#pragma once

#include "platform/NativeWindow.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <optional>
#include <xcb/xcb.h>

// The X11 side of NativeWindow.h; `connection` is borrowed.

// The origin of `window` on the root; nullopt for no window or no answer.
std::optional<QPoint> X11WindowOrigin(xcb_connection_t* connection, xcb_window_t window);

// Sets the input focus to `window` with CurrentTime when it is viewable.
bool X11FocusWindow(xcb_connection_t* connection, xcb_window_t window);

// Asks for `window` (a top-level client) at `rect` of the root.
void X11PlaceWindow(xcb_connection_t* connection, xcb_window_t window, const QRect& rect);

// `window`'s rectangle on the root (border excluded); nullopt for no window or no answer.
std::optional<QRect> X11WindowRect(xcb_connection_t* connection, xcb_window_t window);

// Sets the bounding shape of `window` (input follows it) to `region`, window-local.
void X11SetWindowShape(xcb_connection_t* connection, xcb_window_t window, const QRegion& region);

// Sets the input shape of `window` alone to `region`, window-local.
void X11SetWindowInputShape(xcb_connection_t* connection, xcb_window_t window,
                            const QRegion& region);

// The parts of the root that panels and docks keep for themselves: one
// rectangle per strut (_NET_WM_STRUT_PARTIAL, else _NET_WM_STRUT) of every
// window the window manager lists in _NET_CLIENT_LIST.
QList<QRect> X11Struts(xcb_connection_t* connection);

// True when the _NET_WM_CM_S<n> selection of the default screen has an owner.
bool X11CompositorRunning(xcb_connection_t* connection);

// The requests through Qt's own connection, fetched at each call as Qt has it.
class TX11NativeWindows : public TNativeWindows
{
public:
    std::optional<QPoint> Origin(const QWidget* window) override;
    std::optional<QRect> Rect(const QWidget* window) override;
    bool Place(QWidget* window, const QRect& physical) override;
    bool SetShape(QWidget* window, const QRegion& shape) override;
    bool SetInputShape(QWidget* window, const QRegion& shape) override;
    bool KeepAbove(QWidget* window, bool keep) override;
    std::optional<QList<QRect>> Struts() override;
    std::optional<bool> Focus(QWidget* window) override;
    bool CompositorRunning() override;
};
