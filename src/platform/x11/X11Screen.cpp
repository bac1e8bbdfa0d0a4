#include "platform/x11/X11Screen.h"

#include <QGuiApplication>
#include <QScreen>
#include <bit>
#include <cmath>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/randr.h>
#include <xcb/render.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

// A System V shared memory segment the X server writes images into. The
// segment is marked for removal as soon as the server has attached it, so the
// kernel frees it even when this process dies without detaching.
class TX11Screen::TSharedSegment
{
public:
    static std::unique_ptr<TSharedSegment> Create(xcb_connection_t* connection, size_t size)
    {
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0)
            return nullptr;
        void* address = shmat(id, nullptr, SHM_RDONLY);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return nullptr;
        }
        const xcb_shm_seg_t segment = xcb_generate_id(connection);
        const TXcbReply<xcb_generic_error_t> error(
            xcb_request_check(connection, xcb_shm_attach_checked(connection, segment, id, false)));
        shmctl(id, IPC_RMID, nullptr);
        if (error) {
            shmdt(address);
            return nullptr;
        }
        return std::unique_ptr<TSharedSegment>(
            new TSharedSegment(connection, segment, static_cast<uchar*>(address), size));
    }

    ~TSharedSegment()
    {
        xcb_shm_detach(FConnection, FSegment);
        xcb_flush(FConnection);
        shmdt(FAddress);
    }
    TSharedSegment(const TSharedSegment&) = delete;
    TSharedSegment& operator=(const TSharedSegment&) = delete;

    xcb_shm_seg_t Id() const { return FSegment; }
    const uchar* Data() const { return FAddress; }
    size_t Size() const { return FSize; }

private:
    TSharedSegment(xcb_connection_t* connection, xcb_shm_seg_t segment, uchar* address, size_t size)
        : FConnection(connection), FSegment(segment), FAddress(address), FSize(size)
    {}

    xcb_connection_t* FConnection;
    xcb_shm_seg_t FSegment;
    uchar* FAddress;
    size_t FSize;
};

namespace {

bool ExtensionPresent(xcb_connection_t* connection, xcb_extension_t* extension)
{
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(connection, extension);
    return data && data->present;
}

// An 8-bit channel from a pixel value under `mask`, widened when the visual
// carries fewer bits.
int Channel(quint32 value, quint32 mask)
{
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const quint32 raw = (value & mask) >> shift;
    if (bits >= 8)
        return int(raw >> (bits - 8));
    return int(raw * 255 / ((1u << bits) - 1));
}

} // namespace

TX11Screen::TX11Screen(xcb_connection_t* connection, TTransfer transfer, int keepSegmentMs)
    : FConnection(connection), FRoot(XcbRootWindow(connection)), FTransfer(transfer)
{
    FReleaseSegment.setSingleShot(true);
    FReleaseSegment.setInterval(keepSegmentMs);
    QObject::connect(&FReleaseSegment, &QTimer::timeout, [this] { FSegment.reset(); });

    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_screen_t* screen = XcbDefaultScreen(connection);
    if (screen) {
        const xcb_format_t* formats = xcb_setup_pixmap_formats(setup);
        for (int i = 0; i < xcb_setup_pixmap_formats_length(setup); ++i) {
            if (formats[i].depth == screen->root_depth) {
                FLayout.BitsPerPixel = formats[i].bits_per_pixel;
                FLayout.ScanlinePadBits = formats[i].scanline_pad;
            }
        }
        FLayout.MostSignificantFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
        for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem;
             xcb_depth_next(&depths)) {
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
                 xcb_visualtype_next(&visuals)) {
                const xcb_visualtype_t* visual = visuals.data;
                if (visual->visual_id != screen->root_visual)
                    continue;
                FLayout.RedMask = visual->red_mask;
                FLayout.GreenMask = visual->green_mask;
                FLayout.BlueMask = visual->blue_mask;
                FLayout.Valid = (visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
                                 visual->_class == XCB_VISUAL_CLASS_DIRECT_COLOR);
            }
        }
        FLayout.Valid = FLayout.Valid &&
                        (FLayout.BitsPerPixel == 16 || FLayout.BitsPerPixel == 24 ||
                         FLayout.BitsPerPixel == 32) &&
                        FLayout.ScanlinePadBits >= 8;
    }

    if (FTransfer == TTransfer::SharedMemory) {
        const bool shm = ExtensionPresent(connection, &xcb_shm_id) &&
                         VORANTU_XCB_REPLY(xcb_shm_query_version, connection,
                                           xcb_shm_query_version(connection)) != nullptr;
        if (!shm)
            FTransfer = TTransfer::GetImage;
    }

    // XFixes answers only clients that announced the version they speak.
    FHasXFixes = ExtensionPresent(connection, &xcb_xfixes_id) &&
                 VORANTU_XCB_REPLY(xcb_xfixes_query_version, connection,
                                   xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION,
                                                            XCB_XFIXES_MINOR_VERSION)) != nullptr;

    // Monitors as rectangles of the root need RandR 1.5.
    if (ExtensionPresent(connection, &xcb_randr_id)) {
        const auto version = VORANTU_XCB_REPLY(xcb_randr_query_version, connection,
                                               xcb_randr_query_version(connection, 1, 5));
        FHasRandRMonitors =
            version && (version->major_version > 1 ||
                        (version->major_version == 1 && version->minor_version >= 5));
    }
}

TX11Screen::~TX11Screen() = default;

QList<QRect> TX11Screen::RandRMonitors() const
{
    QList<QRect> monitors;
    if (!FHasRandRMonitors)
        return monitors;
    const auto reply = VORANTU_XCB_REPLY(xcb_randr_get_monitors, FConnection,
                                         xcb_randr_get_monitors(FConnection, FRoot, true));
    if (!reply)
        return monitors;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
         xcb_randr_monitor_info_next(&it))
        monitors.append(QRect(it.data->x, it.data->y, it.data->width, it.data->height));
    return monitors;
}

QList<QRect> TX11Screen::Monitors() const
{
    // Qt keeps each screen's origin in device pixels and scales only its
    // size, which it rounds to its own units: at a fractional scale that
    // can be a pixel off (1024 / 1.5 = 683, 683 * 1.5 = 1025). The server's
    // monitor of the same origin has the exact size.
    const QList<QRect> exact = RandRMonitors();
    QList<QRect> monitors;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        QRect monitor(geometry.topLeft(),
                      QSize(qRound(geometry.width() * ratio), qRound(geometry.height() * ratio)));
        const int slack = int(std::ceil(ratio));
        for (const QRect& candidate : exact) {
            if (candidate.topLeft() == monitor.topLeft() &&
                qAbs(candidate.width() - monitor.width()) <= slack &&
                qAbs(candidate.height() - monitor.height()) <= slack)
                monitor = candidate;
        }
        monitors.append(monitor);
    }
    return monitors;
}

QRect TX11Screen::RootBounds() const
{
    // Asked each time: RandR grows and shrinks the root while we run.
    const auto reply =
        VORANTU_XCB_REPLY(xcb_get_geometry, FConnection, xcb_get_geometry(FConnection, FRoot));
    return reply ? QRect(0, 0, reply->width, reply->height) : QRect();
}

int TX11Screen::Stride(int width) const
{
    const int pad = FLayout.ScanlinePadBits;
    return int((qint64(width) * FLayout.BitsPerPixel + pad - 1) / pad * pad / 8);
}

std::optional<TX11Screen::TPixels> TX11Screen::Fetch(const QRect& rect, xcb_drawable_t drawable)
{
    if (FTransfer == TTransfer::SharedMemory) {
        if (std::optional<TPixels> pixels = FetchShared(rect, drawable ? drawable : FRoot))
            return pixels;
    }
    return FetchImage(rect, drawable);
}

std::optional<TX11Screen::TPixels> TX11Screen::FetchShared(const QRect& rect,
                                                           xcb_drawable_t drawable)
{
    const size_t size = size_t(Stride(rect.width())) * size_t(rect.height());
    if (!FSegment || FSegment->Size() < size) {
        FSegment.reset();
        FSegment = TSharedSegment::Create(FConnection, size);
        if (!FSegment) {
            // A remote display or a server that may not read our memory.
            FTransfer = TTransfer::GetImage;
            return std::nullopt;
        }
    }
    const auto reply = VORANTU_XCB_REPLY(
        xcb_shm_get_image, FConnection,
        xcb_shm_get_image(FConnection, drawable, int16_t(rect.x()), int16_t(rect.y()),
                          uint16_t(rect.width()), uint16_t(rect.height()), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, FSegment->Id(), 0));
    if (!reply)
        return std::nullopt;
    TPixels pixels;
    pixels.Data = FSegment->Data();
    FReleaseSegment.start();
    pixels.Stride = Stride(rect.width());
    return pixels;
}

std::optional<TX11Screen::TPixels> TX11Screen::FetchImage(const QRect& rect,
                                                          xcb_drawable_t drawable) const
{
    TPixels pixels;
    pixels.Reply = VORANTU_XCB_REPLY(xcb_get_image, FConnection,
                                     xcb_get_image(FConnection, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                                   drawable ? drawable : FRoot, int16_t(rect.x()),
                                                   int16_t(rect.y()), uint16_t(rect.width()),
                                                   uint16_t(rect.height()), ~0u));
    if (!pixels.Reply)
        return std::nullopt;
    pixels.Stride = Stride(rect.width());
    if (xcb_get_image_data_length(pixels.Reply.get()) < qint64(pixels.Stride) * rect.height())
        return std::nullopt;
    pixels.Data = xcb_get_image_data(pixels.Reply.get());
    return pixels;
}

QRgb TX11Screen::Convert(const uchar* pixel) const
{
    const int bytes = FLayout.BitsPerPixel / 8;
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i) {
        const int shift = FLayout.MostSignificantFirst ? (bytes - 1 - i) * 8 : i * 8;
        value |= quint32(pixel[i]) << shift;
    }
    return qRgb(Channel(value, FLayout.RedMask), Channel(value, FLayout.GreenMask),
                Channel(value, FLayout.BlueMask));
}

bool TX11Screen::NativeLayout() const
{
    // The usual local layout is QImage's own RGB32 but for the padding byte.
    return FLayout.Valid && FLayout.BitsPerPixel == 32 && !FLayout.MostSignificantFirst &&
           FLayout.RedMask == 0xFF0000 && FLayout.GreenMask == 0xFF00 && FLayout.BlueMask == 0xFF &&
           QSysInfo::ByteOrder == QSysInfo::LittleEndian;
}

void TX11Screen::ConvertRows(const TPixels& pixels, const QSize& size, QImage& target,
                             const QPoint& at) const
{
    const bool native = NativeLayout();
    const int bytes = FLayout.BitsPerPixel / 8;
    for (int y = 0; y < size.height(); ++y) {
        const uchar* source = pixels.Data + qint64(y) * pixels.Stride;
        auto* line = reinterpret_cast<QRgb*>(target.scanLine(at.y() + y)) + at.x();
        if (native) {
            const auto* words = reinterpret_cast<const quint32*>(source);
            for (int x = 0; x < size.width(); ++x)
                line[x] = words[x] | 0xFF000000u;
        } else {
            for (int x = 0; x < size.width(); ++x)
                line[x] = Convert(source + x * bytes);
        }
    }
}

QRegion TX11Screen::Shown() const
{
    // The root may be larger than the monitors (a taller one beside a
    // shorter one); what lies in the gap is not on any screen either.
    const QRect root = RootBounds();
    QRegion shown;
    for (const QRect& monitor : Monitors())
        shown += monitor & root;
    return shown.isEmpty() ? QRegion(root) : shown;
}

bool TX11Screen::Grab(const QRect& rect, QImage& target)
{
    const QImage::Format format = target.format();
    const bool fits = (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                       format == QImage::Format_ARGB32_Premultiplied) &&
                      target.width() >= rect.width() && target.height() >= rect.height();
    if (!FLayout.Valid || !fits || rect.isEmpty())
        return false;
    const QRegion shown = Shown();
    const QRect inside = (shown & rect).boundingRect();
    if (!inside.isEmpty()) {
        const std::optional<TPixels> pixels = Fetch(inside);
        if (!pixels)
            return false;
        ConvertRows(*pixels, inside.size(), target, inside.topLeft() - rect.topLeft());
    }
    BlackenOutside(target, rect, shown);
    return true;
}

QPoint TX11Screen::CursorPosition() const
{
    const auto reply =
        VORANTU_XCB_REPLY(xcb_query_pointer, FConnection, xcb_query_pointer(FConnection, FRoot));
    return reply ? QPoint(reply->root_x, reply->root_y) : QPoint();
}

std::optional<TCursorImage> TX11Screen::Cursor() const
{
    if (!FHasXFixes)
        return std::nullopt;
    const auto reply = VORANTU_XCB_REPLY(xcb_xfixes_get_cursor_image, FConnection,
                                         xcb_xfixes_get_cursor_image(FConnection));
    if (!reply || reply->width == 0 || reply->height == 0 ||
        xcb_xfixes_get_cursor_image_cursor_image_length(reply.get()) <
            int(reply->width) * int(reply->height))
        return std::nullopt;
    TCursorImage cursor;
    // XFixes sends premultiplied ARGB words, which is QImage's own layout.
    cursor.Image = QImage(reply->width, reply->height, QImage::Format_ARGB32_Premultiplied);
    const uint32_t* source = xcb_xfixes_get_cursor_image_cursor_image(reply.get());
    for (int y = 0; y < reply->height; ++y)
        std::memcpy(cursor.Image.scanLine(y), source + y * reply->width, reply->width * 4u);
    cursor.HotSpot = QPoint(reply->xhot, reply->yhot);
    cursor.Position = QPoint(reply->x, reply->y);
    return cursor;
}

std::optional<QRgb> TX11Screen::Pixel(const QPoint& position)
{
    if (!FLayout.Valid || !RootBounds().contains(position))
        return std::nullopt;
    const std::optional<TPixels> pixels = FetchImage(QRect(position, QSize(1, 1)));
    if (!pixels)
        return std::nullopt;
    return Convert(pixels->Data);
}

// The frozen screen as a pixmap of the server. The window is drawn from it
// by the server: a copy, and outside the selection 40 % black over the copy
// with RENDER, which leaves b x 153 / 255 rounded to nearest: b x 0.6
// exactly. Both are among the server's fastest paths, and drawing straight
// into the window needs no second screen-sized pixmap of fresh memory.
class TX11Screen::TSnapshot : public TScreenSnapshot
{
public:
    TSnapshot(TX11Screen& screen, const QSize& size, xcb_pixmap_t frozen, xcb_gcontext_t gc)
        : FScreen(screen), FSize(size), FFrozen(frozen), FGc(gc)
    {}

    ~TSnapshot() override
    {
        xcb_connection_t* connection = FScreen.FConnection;
        if (FPicture)
            xcb_render_free_picture(connection, FPicture);
        xcb_free_gc(connection, FGc);
        xcb_free_pixmap(connection, FFrozen);
        xcb_flush(connection);
    }
    TSnapshot(const TSnapshot&) = delete;
    TSnapshot& operator=(const TSnapshot&) = delete;

    bool Attach(quintptr window) override
    {
        xcb_connection_t* connection = FScreen.FConnection;
        const xcb_window_t id = xcb_window_t(window);
        const xcb_screen_t* screen = XcbDefaultScreen(connection);
        const auto attributes = VORANTU_XCB_REPLY(xcb_get_window_attributes, connection,
                                                  xcb_get_window_attributes(connection, id));
        if (!screen || !attributes || attributes->visual != screen->root_visual)
            return false;
        // Nothing of the window's own is painted over what Show draws; at
        // the map the window keeps the screen's pixels until then.
        const uint32_t background = XCB_BACK_PIXMAP_NONE;
        xcb_change_window_attributes(connection, id, XCB_CW_BACK_PIXMAP, &background);
        FPicture = xcb_generate_id(connection);
        xcb_render_create_picture(connection, FPicture, id, *FScreen.FRenderFormat, 0, nullptr);
        xcb_flush(connection);
        FWindow = id;
        return true;
    }

    void Show(const QRegion& area, const QRect& selection) override
    {
        if (!FWindow)
            return;
        xcb_connection_t* connection = FScreen.FConnection;
        const QRegion visible = area & QRect(QPoint(0, 0), FSize);
        QList<xcb_rectangle_t> dimmed;
        for (const QRect& r : visible) {
            xcb_copy_area(connection, FFrozen, FWindow, FGc, int16_t(r.x()), int16_t(r.y()),
                          int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()),
                          uint16_t(r.height()));
        }
        for (const QRect& r : visible.subtracted(selection))
            dimmed.append(
                {int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
        if (!dimmed.isEmpty()) {
            const xcb_render_color_t shade = {0, 0, 0, 0x6666};
            xcb_render_fill_rectangles(connection, XCB_RENDER_PICT_OP_OVER, FPicture, shade,
                                       uint32_t(dimmed.size()), dimmed.constData());
        }
        xcb_flush(connection);
    }

    bool Read(const QRect& rect, QImage& target) override
    {
        const QImage::Format format = target.format();
        const bool fits = (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                           format == QImage::Format_ARGB32_Premultiplied) &&
                          target.width() >= rect.width() && target.height() >= rect.height();
        if (!fits || rect.isEmpty() || !QRect(QPoint(0, 0), FSize).contains(rect))
            return false;
        const std::optional<TPixels> pixels = FScreen.Fetch(rect, FFrozen);
        if (!pixels)
            return false;
        FScreen.ConvertRows(*pixels, rect.size(), target, QPoint(0, 0));
        return true;
    }

private:
    TX11Screen& FScreen;
    QSize FSize;
    xcb_pixmap_t FFrozen;
    xcb_gcontext_t FGc;
    xcb_window_t FWindow = 0;
    xcb_render_picture_t FPicture = 0;
};

namespace {

quint32 RenderFormatOf(xcb_connection_t* connection, xcb_visualid_t visual)
{
    if (!ExtensionPresent(connection, &xcb_render_id) ||
        !VORANTU_XCB_REPLY(xcb_render_query_version, connection,
                           xcb_render_query_version(connection, 0, 11)))
        return 0;
    const auto formats = VORANTU_XCB_REPLY(xcb_render_query_pict_formats, connection,
                                           xcb_render_query_pict_formats(connection));
    if (!formats)
        return 0;
    for (auto screens = xcb_render_query_pict_formats_screens_iterator(formats.get()); screens.rem;
         xcb_render_pictscreen_next(&screens)) {
        for (auto depths = xcb_render_pictscreen_depths_iterator(screens.data); depths.rem;
             xcb_render_pictdepth_next(&depths)) {
            for (auto visuals = xcb_render_pictdepth_visuals_iterator(depths.data); visuals.rem;
                 xcb_render_pictvisual_next(&visuals)) {
                if (visuals.data->visual == visual)
                    return visuals.data->format;
            }
        }
    }
    return 0;
}

// A pixmap of the root's depth; 0 when the server cannot make one (too large).
xcb_pixmap_t CreatePixmap(xcb_connection_t* connection, quint8 depth, xcb_window_t root,
                          const QSize& size)
{
    const xcb_pixmap_t pixmap = xcb_generate_id(connection);
    const TXcbReply<xcb_generic_error_t> error(xcb_request_check(
        connection, xcb_create_pixmap_checked(connection, depth, pixmap, root,
                                              uint16_t(size.width()), uint16_t(size.height()))));
    return error ? 0 : pixmap;
}

} // namespace

std::unique_ptr<TScreenSnapshot> TX11Screen::Snapshot(const QRect& rect)
{
    // RENDER dims each byte exactly as the overlay's own arithmetic does only
    // on 8-bit channels.
    const xcb_screen_t* screen = XcbDefaultScreen(FConnection);
    if (!screen || !NativeLayout() || rect.isEmpty() || rect.width() > 32767 ||
        rect.height() > 32767)
        return nullptr;
    if (!FRenderFormat)
        FRenderFormat = RenderFormatOf(FConnection, screen->root_visual);
    if (*FRenderFormat == 0)
        return nullptr;

    const xcb_pixmap_t frozen = CreatePixmap(FConnection, screen->root_depth, FRoot, rect.size());
    if (!frozen)
        return nullptr;
    // Child windows are part of the root's picture, as for a grab.
    const xcb_gcontext_t gc = xcb_generate_id(FConnection);
    const uint32_t values[] = {screen->black_pixel, XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    xcb_create_gc(FConnection, gc, frozen,
                  XCB_GC_FOREGROUND | XCB_GC_SUBWINDOW_MODE | XCB_GC_GRAPHICS_EXPOSURES, values);
    auto snapshot = std::make_unique<TSnapshot>(*this, rect.size(), frozen, gc);

    xcb_copy_area(FConnection, FRoot, frozen, gc, int16_t(rect.x()), int16_t(rect.y()), 0, 0,
                  uint16_t(rect.width()), uint16_t(rect.height()));
    QList<xcb_rectangle_t> hidden;
    for (const QRect& r : QRegion(rect).subtracted(Shown()))
        hidden.append({int16_t(r.x() - rect.x()), int16_t(r.y() - rect.y()), uint16_t(r.width()),
                       uint16_t(r.height())});
    if (!hidden.isEmpty())
        xcb_poly_fill_rectangle(FConnection, frozen, gc, uint32_t(hidden.size()),
                                hidden.constData());
    xcb_flush(FConnection);
    return snapshot;
}
