#pragma once

#include "platform/Screen.h"
#include "platform/x11/Xcb.h"

#include <QTimer>
#include <memory>
#include <xcb/xcb.h>

// The screen of an X11 display, read from the root window.
class TX11Screen : public TScreen
{
public:
    // How pixels travel from the X server: through a shared memory segment
    // (MIT-SHM, local displays) or inside the reply (GetImage, any display).
    enum class TTransfer
    {
        SharedMemory,
        GetImage
    };

    // `connection` is borrowed and must outlive the screen. Asking for
    // SharedMemory still gives GetImage where the server cannot share memory
    // with this process (no MIT-SHM, a remote display). The shared segment
    // is kept for the grabs that follow one another (a recording, a burst of
    // captures) and let go `keepSegmentMs` after the last one, so an idle
    // program does not hold a screen's worth of memory.
    explicit TX11Screen(xcb_connection_t* connection, TTransfer transfer = TTransfer::SharedMemory,
                        int keepSegmentMs = 5000);
    ~TX11Screen() override;
    TX11Screen(const TX11Screen&) = delete;
    TX11Screen& operator=(const TX11Screen&) = delete;

    QList<QRect> Monitors() const override;
    bool Grab(const QRect& rect, QImage& target) override;
    QPoint CursorPosition() const override;
    std::optional<TCursorImage> Cursor() const override;
    std::optional<QRgb> Pixel(const QPoint& position) override;
    std::unique_ptr<TScreenSnapshot> Snapshot(const QRect& rect) override;

    // The transfer grabs use now; SharedMemory falls back to GetImage for
    // good once the server refuses a segment.
    TTransfer Transfer() const { return FTransfer; }

private:
    struct TPixelLayout
    {
        bool Valid = false;
        int BitsPerPixel = 0;
        int ScanlinePadBits = 0;
        bool MostSignificantFirst = false;
        quint32 RedMask = 0;
        quint32 GreenMask = 0;
        quint32 BlueMask = 0;
    };
    class TSharedSegment;
    class TSnapshot;

    // The root's pixels of a rectangle inside the root, row after row
    // `Stride` bytes apart. Valid until the next fetch: they live in the
    // GetImage reply held here or in the shared segment.
    struct TPixels
    {
        const uchar* Data = nullptr;
        int Stride = 0;
        TXcbReply<xcb_get_image_reply_t> Reply;
    };

    QRect RootBounds() const;
    QList<QRect> RandRMonitors() const;
    int Stride(int width) const;
    // The visible part of the root: the monitors inside it, or all of it.
    QRegion Shown() const;
    // Fetch from `drawable` (the root unless given) at `rect` of it.
    std::optional<TPixels> Fetch(const QRect& rect, xcb_drawable_t drawable = 0);
    std::optional<TPixels> FetchShared(const QRect& rect, xcb_drawable_t drawable);
    std::optional<TPixels> FetchImage(const QRect& rect, xcb_drawable_t drawable = 0) const;
    bool NativeLayout() const;
    QRgb Convert(const uchar* pixel) const;
    void ConvertRows(const TPixels& pixels, const QSize& size, QImage& target,
                     const QPoint& at) const;

    xcb_connection_t* FConnection;
    xcb_window_t FRoot;
    TPixelLayout FLayout;
    TTransfer FTransfer;
    bool FHasXFixes = false;
    bool FHasRandRMonitors = false;
    // The RENDER picture format of the root's visual, looked up at the first
    // snapshot; 0 when the server cannot render on it.
    std::optional<quint32> FRenderFormat;
    std::unique_ptr<TSharedSegment> FSegment;
    QTimer FReleaseSegment;
};
