#include "platform/x11/X11Activation.h"

#include "platform/x11/Xcb.h"

#include <memory>

xcb_window_t X11ActiveWindow(xcb_connection_t* connection)
{
    static const xcb_atom_t active = XcbAtom(connection, "_NET_ACTIVE_WINDOW");
    const QList<quint32> values =
        XcbCardinals(connection, XcbRootWindow(connection), active, XCB_ATOM_WINDOW);
    return values.isEmpty() ? xcb_window_t(XCB_WINDOW_NONE) : xcb_window_t(values.first());
}

xcb_timestamp_t X11ServerTime()
{
    struct TDisconnect
    {
        void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
    };
    // Qt's own connection delivers its events to Qt; the PropertyNotify that
    // carries the time must be read where nobody else waits for events.
    std::unique_ptr<xcb_connection_t, TDisconnect> connection(xcb_connect(nullptr, nullptr));
    if (xcb_connection_has_error(connection.get()))
        return XCB_CURRENT_TIME;
    const xcb_window_t root = XcbRootWindow(connection.get());
    const xcb_window_t window = xcb_generate_id(connection.get());
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection.get(), 0, window, root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    xcb_change_property(connection.get(), XCB_PROP_MODE_APPEND, window, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(connection.get());
    // The server answers the change with exactly one event on this fresh
    // connection; a broken connection ends the wait with null.
    while (TXcbReply<xcb_generic_event_t> event{xcb_wait_for_event(connection.get())}) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY)
            return reinterpret_cast<xcb_property_notify_event_t*>(event.get())->time;
    }
    return XCB_CURRENT_TIME;
}

void X11RequestActivation(xcb_connection_t* connection, xcb_window_t window, xcb_timestamp_t time)
{
    if (window == XCB_WINDOW_NONE)
        return;
    static const xcb_atom_t active = XcbAtom(connection, "_NET_ACTIVE_WINDOW");
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = active;
    message.data.data32[0] = 2; // a pager: the user chose this window directly
    message.data.data32[1] = time;
    message.data.data32[2] = XCB_WINDOW_NONE;
    xcb_send_event(connection, false, XcbRootWindow(connection),
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}
