#include "platform/x11/X11Windows.h"

#include "platform/x11/Xcb.h"

#include <QList>

namespace {

// Extents are four numbers: left, right, top, bottom.
struct TExtents
{
    int Left = 0;
    int Right = 0;
    int Top = 0;
    int Bottom = 0;
};

std::optional<TExtents> ReadExtents(xcb_connection_t* connection, xcb_window_t window,
                                    xcb_atom_t property)
{
    const QList<quint32> values = XcbCardinals(connection, window, property, XCB_ATOM_CARDINAL);
    if (values.size() < 4)
        return std::nullopt;
    // A broken client may write anything; a frame wider than the screen is not an extent.
    for (const quint32 value : values.first(4)) {
        if (value > 32767)
            return std::nullopt;
    }
    return TExtents{int(values[0]), int(values[1]), int(values[2]), int(values[3])};
}

} // namespace

TX11Windows::TX11Windows(xcb_connection_t* connection)
    : FConnection(connection), FRoot(XcbRootWindow(connection)),
      FNetActiveWindow(XcbAtom(connection, "_NET_ACTIVE_WINDOW")),
      FNetFrameExtents(XcbAtom(connection, "_NET_FRAME_EXTENTS")),
      FGtkFrameExtents(XcbAtom(connection, "_GTK_FRAME_EXTENTS")),
      FWmState(XcbAtom(connection, "WM_STATE"))
{}

TWindowId TX11Windows::ActiveWindow()
{
    const QList<quint32> values =
        XcbCardinals(FConnection, FRoot, FNetActiveWindow, XCB_ATOM_WINDOW);
    return values.isEmpty() ? 0 : values.first();
}

bool TX11Windows::IsClient(xcb_window_t window) const
{
    // The window manager marks every client it manages with WM_STATE.
    return XcbHasProperty(FConnection, window, FWmState);
}

xcb_window_t TX11Windows::FindClient(xcb_window_t frame) const
{
    // Breadth first: the client sits right under the frame or one level below
    // it, while decorations may nest deeper.
    QList<xcb_window_t> level{frame};
    while (!level.isEmpty()) {
        QList<xcb_window_t> next;
        for (const xcb_window_t window : level) {
            if (IsClient(window))
                return window;
            const auto tree =
                VORANTU_XCB_REPLY(xcb_query_tree, FConnection, xcb_query_tree(FConnection, window));
            if (!tree)
                continue;
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
                next.append(children[i]);
        }
        level = next;
    }
    return XCB_WINDOW_NONE;
}

TWindowId TX11Windows::WindowAt(const QPoint& position)
{
    // TranslateCoordinates names the viewable child that holds a point (input
    // shapes respected), for any point rather than only the pointer's.
    if (position.x() < 0 || position.y() < 0 || position.x() > 32767 || position.y() > 32767)
        return 0;
    QList<xcb_window_t> chain;
    xcb_window_t parent = FRoot;
    for (int depth = 0; depth < 64; ++depth) {
        const auto reply = VORANTU_XCB_REPLY(xcb_translate_coordinates, FConnection,
                                             xcb_translate_coordinates(FConnection, FRoot, parent,
                                                                       int16_t(position.x()),
                                                                       int16_t(position.y())));
        if (!reply || reply->child == XCB_WINDOW_NONE)
            break;
        const auto attributes =
            VORANTU_XCB_REPLY(xcb_get_window_attributes, FConnection,
                              xcb_get_window_attributes(FConnection, reply->child));
        // An input-only window shows nothing; what shows is its parent.
        if (!attributes || attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
            break;
        chain.append(reply->child);
        parent = reply->child;
    }
    if (chain.isEmpty())
        return 0;
    for (const xcb_window_t window : chain) {
        if (IsClient(window))
            return chain.last();
    }
    // Not inside a client: a decoration of a frame, or a window nobody manages.
    const xcb_window_t client = FindClient(chain.first());
    return client != XCB_WINDOW_NONE ? client : chain.last();
}

std::optional<QRect> TX11Windows::VisibleFrame(TWindowId window)
{
    if (window == 0 || window > 0xFFFFFFFFu)
        return std::nullopt;
    const auto id = xcb_window_t(window);
    const auto geometry =
        VORANTU_XCB_REPLY(xcb_get_geometry, FConnection, xcb_get_geometry(FConnection, id));
    const auto origin = VORANTU_XCB_REPLY(xcb_translate_coordinates, FConnection,
                                          xcb_translate_coordinates(FConnection, id, FRoot, 0, 0));
    if (!geometry || !origin)
        return std::nullopt;
    const int border = geometry->border_width;
    QRect rect(origin->dst_x - border, origin->dst_y - border, geometry->width + 2 * border,
               geometry->height + 2 * border);
    if (const std::optional<TExtents> frame = ReadExtents(FConnection, id, FNetFrameExtents))
        rect.adjust(-frame->Left, -frame->Top, frame->Right, frame->Bottom);
    if (const std::optional<TExtents> shadow = ReadExtents(FConnection, id, FGtkFrameExtents)) {
        const QRect visible =
            rect.adjusted(shadow->Left, shadow->Top, -shadow->Right, -shadow->Bottom);
        if (!visible.isEmpty())
            rect = visible;
    }
    return rect;
}
