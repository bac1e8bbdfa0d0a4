#pragma once

#include <QPoint>
#include <QRect>
#include <QtGlobal>
#include <optional>

// An X window id; 0 is no window.
using TWindowId = quint64;

// Windows of other programs. User-interface thread only.
class TWindows
{
public:
    virtual ~TWindows() = default;

    // The window the user works in (the root's _NET_ACTIVE_WINDOW); 0 when none.
    virtual TWindowId ActiveWindow() = 0;

    // The deepest viewable window under `position`. On a window manager's
    // decoration (title bar, border) it is the managed client window of that
    // frame, as a title bar belongs to its window; 0 over the bare desktop.
    virtual TWindowId WindowAt(const QPoint& position) = 0;

    // What the user sees of `window`, in root coordinates: for a managed
    // top-level client its frame (client grown by _NET_FRAME_EXTENTS) less the
    // invisible shadow a client draws itself (_GTK_FRAME_EXTENTS); for any
    // other window its own rectangle. nullopt when the window is gone.
    virtual std::optional<QRect> VisibleFrame(TWindowId window) = 0;
};
