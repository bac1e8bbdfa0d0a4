#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QRgb>
#include <optional>

// The mouse cursor as the display shows it: its picture (premultiplied ARGB),
// the hot spot inside the picture and the pointer's screen position.
struct TCursorImage
{
    QImage Image;
    QPoint HotSpot;
    QPoint Position;
};

// Pixels of the whole virtual screen, in physical screen pixels (X11 root
// window coordinates). One instance lives as long as the capture engine and
// holds whatever per-display resources it needs (shared memory segments,
// connections); captures reuse them. User-interface thread only.
class TScreen
{
public:
    virtual ~TScreen() = default;

    // The monitors' bounds in Qt's screen order (the primary first).
    virtual QList<QRect> Monitors() const = 0;

    // Copies the screen rectangle `rect` into `target` at (0, 0). `target`
    // must be at least rect's size, 32 bits per pixel (Format_RGB32 or
    // Format_ARGB32; the fourth byte is set to 0xFF). Parts of `rect` on no
    // monitor (off the screen, or in a gap of monitors of different sizes)
    // are opaque black, whatever `target` held. False when the screen could
    // not be read; `target` is then unchanged.
    virtual bool Grab(const QRect& rect, QImage& target) = 0;

    virtual QPoint CursorPosition() const = 0;

    // The current cursor picture; nullopt when the display cannot say.
    virtual std::optional<TCursorImage> Cursor() const = 0;

    // The colour of one screen pixel; nullopt outside the screen.
    virtual std::optional<QRgb> Pixel(const QPoint& position) = 0;
};

// Sets the pixels of `target` (whose (0, 0) is the screen point
// rect.topLeft()) that lie inside `rect` but outside `shown` to opaque black.
// A fresh picture holds whatever memory was there before, and that must
// never reach a file, the clipboard or an upload.
void BlackenOutside(QImage& target, const QRect& rect, const QRegion& shown);
