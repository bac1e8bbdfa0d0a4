#include "capture/Capture.h"

#include "platform/ScreenCopy.h"

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
    CopyScreen(FScreen, canvas, rect, FShowCursor);
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
    DrawCursor(FScreen, canvas, QPoint(left, top));
}

int TCapture::MonitorIndex() const
{
    return MonitorNearestCursor(FScreen);
}
