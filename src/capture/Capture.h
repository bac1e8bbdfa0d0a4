#pragma once

#include "platform/Screen.h"
#include "platform/Windows.h"

#include <QImage>
#include <QRect>

// The one object that copies screen pixels into pictures. The main window
// makes one for its whole life; the controller uses it for every still
// capture and the recorder for every frame, so it keeps the display
// resources it needs and reuses the caller's picture when its size and format
// already fit. Pictures are 32 bits per pixel (Format_RGB32: bytes blue,
// green, red, 0xFF). User-interface thread only.
class TCapture
{
public:
    TCapture(TScreen& screen, TWindows& windows);

    // Paint the mouse cursor into every capture. The controller sets it from
    // the "include mouse cursor" menu before each capture.
    bool FShowCursor = true;

    // Copies the screen rectangle `rect` to (0, 0) of `canvas`, which must
    // already be at least that large, then the cursor when FShowCursor.
    void CaptureCanvas(QImage& canvas, const QRect& rect);

    // Sizes `bitmap` to `rect` (reallocating only when size or format differ)
    // and captures the rectangle into it.
    void Capture(QImage& bitmap, const QRect& rect);

    // Captures what the user sees of `window`, or for window 0 the whole
    // monitor nearest the cursor, and returns the captured screen rectangle
    // in `rect`. A window that is gone leaves `rect` as passed and captures that.
    void Capture(QImage& bitmap, TWindowId window, QRect& rect);

    // Paints the current cursor, hot spot first, onto `canvas` whose (0, 0)
    // is the screen position (`left`, `top`).
    void DrawMouse(QImage& canvas, int left, int top);

    // The monitor nearest the cursor, as an index into the monitor list.
    int MonitorIndex() const;

    TScreen& Screen() { return FScreen; }

private:
    static void PrepareBitmap(QImage& bitmap, const QSize& size);

    TScreen& FScreen;
    TWindows& FWindows;
};
