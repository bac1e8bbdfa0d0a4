#pragma once

#include "platform/Windows.h"

#include <xcb/xcb.h>

// Windows on an X11 display with an EWMH window manager.
class TX11Windows : public TWindows
{
public:
    // `connection` is borrowed and must outlive this object.
    explicit TX11Windows(xcb_connection_t* connection);

    TWindowId ActiveWindow() override;
    TWindowId WindowAt(const QPoint& position) override;
    std::optional<QRect> VisibleFrame(TWindowId window) override;

private:
    bool IsClient(xcb_window_t window) const;
    xcb_window_t FindClient(xcb_window_t frame) const;

    xcb_connection_t* FConnection;
    xcb_window_t FRoot;
    xcb_atom_t FNetActiveWindow;
    xcb_atom_t FNetFrameExtents;
    xcb_atom_t FGtkFrameExtents;
    xcb_atom_t FWmState;
};
