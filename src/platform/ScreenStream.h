#pragma once

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>

// A live picture of one monitor from the desktop's screen-cast service, for
// desktops where the display server shows this program nothing but its own
// windows (Wayland sessions: X11 grabs and x11grab read black there). Frames
// come only when the screen changes; the newest stays readable until the
// next replaces it. User-interface thread only, except where said.
class TScreenStream : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Asks the desktop for a monitor's stream, with the cursor drawn in the
    // frames when `cursor` and the desktop can. Ready or Failed follows from
    // the event loop, each at most once; the user may be asked first.
    virtual void Open(bool cursor) = 0;
    // Once Ready: the streamed monitor in X11 root coordinates.
    virtual QRect Bounds() const = 0;
    // The newest frame (Format_RGB32, in the stream's own pixels, which may
    // be more than Bounds() has on scaled monitors) and a count that grows
    // with every new frame; a null image and 0 before the first.
    virtual QImage Latest(quint64* serial = nullptr) const = 0;

signals:
    // Frames may come now.
    void Ready();
    // The stream could not start (before Ready) or is over (after it: the
    // user stopped sharing, the desktop went); `message` says why.
    void Failed(const QString& message);
};

// Makes an unopened stream; empty where X11 sees the screen itself.
using TScreenStreamFactory = std::function<std::unique_ptr<TScreenStream>()>;

// Copies the screen rectangle `rect` (X11 root coordinates) from `frame`,
// which shows `bounds` at whatever pixel size it has, into `target` at (0, 0),
// scaled to rect's size where the frame's pixels are not the root's. Parts
// of `rect` outside `bounds` or outside the target are not painted, except
// that parts outside `bounds` are opaque black. `target` is Format_RGB32.
void CopyFromStream(const QImage& frame, const QRect& bounds, const QRect& rect, QImage& target);
