#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QRgb>
#include <memory>
#include <optional>

// The mouse cursor as the display shows it: its picture (premultiplied ARGB),
// the hot spot inside the picture and the pointer's screen position.
struct TCursorImage
{
    QImage Image;
    QPoint HotSpot;
    QPoint Position;
};

// A copy of part of the screen that the display server keeps and shows in a
// window of this program, so that its pixels need not travel to the process
// and back to be shown: at 4K that is 33 MB each way. Coordinates are pixels
// of the snapshot from its top-left. Lives no longer than its TScreen and is
// used on the user-interface thread only.
class TScreenSnapshot
{
public:
    virtual ~TScreenSnapshot() = default;

    // Lets the native window `window`, not yet mapped and placed exactly over
    // the snapshot, show it dimmed (every colour byte b as b x 0.6 rounded to
    // nearest) wherever the server paints the window on its own, from the
    // moment it is mapped. False when the window cannot show it (another pixel
    // depth); the snapshot must not be used then.
    virtual bool Attach(quintptr window) = 0;

    // Draws `area` into the attached window: the snapshot itself inside
    // `selection` and the dimmed snapshot elsewhere.
    virtual void Show(const QRegion& area, const QRect& selection) = 0;

    // Copies `rect` of the undimmed snapshot into `target` at (0, 0), under
    // the same rules as TScreen::Grab.
    virtual bool Read(const QRect& rect, QImage& target) = 0;
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

    // Freezes the screen rectangle `rect` in the display server (parts on no
    // monitor black, as Grab makes them); null where the display cannot keep
    // one, and the caller grabs the pixels instead.
    virtual std::unique_ptr<TScreenSnapshot> Snapshot(const QRect&) { return nullptr; }
};

// Sets the pixels of `target` (whose (0, 0) is the screen point
// rect.topLeft()) that lie inside `rect` but outside `shown` to opaque black.
// A fresh picture holds whatever memory was there before, and that must
// never reach a file, the clipboard or an upload.
void BlackenOutside(QImage& target, const QRect& rect, const QRegion& shown);
