#include "platform/x11/Xcb.h"

#include <QGuiApplication>

xcb_connection_t* QtXcbConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

int XcbDefaultScreenNumber()
{
    // Qt does not hand out the screen number it connected to; it is the one
    // DISPLAY names, as for any client that connected with the default display.
    char* host = nullptr;
    int display = 0;
    int screenNumber = 0;
    if (!xcb_parse_display(nullptr, &host, &display, &screenNumber))
        return 0;
    std::free(host);
    return screenNumber;
}

xcb_screen_t* XcbDefaultScreen(xcb_connection_t* connection)
{
    int screenNumber = XcbDefaultScreenNumber();
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    xcb_screen_t* first = it.rem > 0 ? it.data : nullptr;
    for (; it.rem > 0; --screenNumber, xcb_screen_next(&it)) {
        if (screenNumber == 0)
            return it.data;
    }
    return first;
}

xcb_window_t XcbRootWindow(xcb_connection_t* connection)
{
    const xcb_screen_t* screen = XcbDefaultScreen(connection);
    return screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
}

xcb_atom_t XcbAtom(xcb_connection_t* connection, const char* name)
{
    const auto reply = VORANTU_XCB_REPLY(
        xcb_intern_atom, connection,
        xcb_intern_atom(connection, false, static_cast<uint16_t>(qstrlen(name)), name));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QList<quint32> XcbCardinals(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                            xcb_atom_t type)
{
    QList<quint32> values;
    if (property == XCB_ATOM_NONE)
        return values;
    const auto reply =
        VORANTU_XCB_REPLY(xcb_get_property, connection,
                          xcb_get_property(connection, false, window, property, type, 0, 64));
    if (!reply || reply->type != type || reply->format != 32)
        return values;
    const auto* data = static_cast<const quint32*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    values.reserve(count);
    for (int i = 0; i < count; ++i)
        values.append(data[i]);
    return values;
}

bool XcbHasProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property)
{
    if (property == XCB_ATOM_NONE)
        return false;
    const auto reply = VORANTU_XCB_REPLY(
        xcb_get_property, connection,
        xcb_get_property(connection, false, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
    return reply && reply->type != XCB_ATOM_NONE;
}
