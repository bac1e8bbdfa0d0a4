#include "capture/Capture.h"

#include <QPainter>
#include <climits>

TCapture::TCapture(TScreen& screen, TWindows& windows) : FScreen(screen), FWindows(windows) {}

void TCapture::PrepareBitmap(QImage& bitmap, const QSize& size)
{
    const bool fits = bitmap.size() == size && (bitmap.format() == QImage::Format_RGB32 ||
                                                bitmap.format() == QImage::Format_ARGB32);
    if (!fits)
        bitmap = size.isEmpty() ? QImage() : QImage(size, QImage::Format_RGB32);
}

void TCapture::CaptureCanvas(QImage& canvas, const QRect& rect)
{
    if (rect.isEmpty() || canvas.isNull())
        return;
    // A fresh canvas holds leftover memory, which must never reach a file.
    if (!FScreen.Grab(rect, canvas))
        BlackenOutside(canvas, rect, QRegion());
    if (FShowCursor)
        DrawMouse(canvas, rect.left(), rect.top());
}

void TCapture::Capture(QImage& bitmap, const QRect& rect)
{
    PrepareBitmap(bitmap, rect.size().expandedTo(QSize(0, 0)));
    CaptureCanvas(bitmap, rect);
}

void TCapture::Capture(QImage& bitmap, TWindowId window, QRect& rect)
{
    if (window != 0) {
        if (const std::optional<QRect> frame = FWindows.VisibleFrame(window))
            rect = *frame;
    } else {
        const QList<QRect> monitors = FScreen.Monitors();
        const int index = MonitorIndex();
        if (index >= 0 && index < monitors.size())
            rect = monitors[index];
    }
    Capture(bitmap, rect);
}

void TCapture::DrawMouse(QImage& canvas, int left, int top)
{
    const std::optional<TCursorImage> cursor = FScreen.Cursor();
    if (!cursor || cursor->Image.isNull())
        return;
    const QPoint at = cursor->Position - QPoint(left, top) - cursor->HotSpot;
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(at, cursor->Image);
}

int TCapture::MonitorIndex() const
{
    const QList<QRect> monitors = FScreen.Monitors();
    const QPoint cursor = FScreen.CursorPosition();
    int best = monitors.isEmpty() ? -1 : 0;
    qint64 bestDistance = LLONG_MAX;
    for (int i = 0; i < monitors.size(); ++i) {
        const QRect& m = monitors[i];
        if (m.contains(cursor))
            return i;
        const qint64 dx = cursor.x() < m.left()    ? m.left() - cursor.x()
                          : cursor.x() > m.right() ? cursor.x() - m.right()
                                                   : 0;
        const qint64 dy = cursor.y() < m.top()      ? m.top() - cursor.y()
                          : cursor.y() > m.bottom() ? cursor.y() - m.bottom()
                                                    : 0;
        const qint64 distance = dx * dx + dy * dy;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}
