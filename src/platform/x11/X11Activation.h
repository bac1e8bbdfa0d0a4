#pragma once

#include <xcb/xcb.h>

// The X11 side of Activation.h; `connection` is borrowed.

// The root's _NET_ACTIVE_WINDOW; XCB_WINDOW_NONE when unset or None.
xcb_window_t X11ActiveWindow(xcb_connection_t* connection);

// The server's current time, read from a property change on a window of a
// private connection, so that no event is taken from `connection`'s queue.
// XCB_CURRENT_TIME when the server cannot be reached.
xcb_timestamp_t X11ServerTime();

// Asks the window manager to activate `window` as a pager would on the
// user's behalf: _NET_ACTIVE_WINDOW, source indication 2, stamped `time`.
void X11RequestActivation(xcb_connection_t* connection, xcb_window_t window, xcb_timestamp_t time);
