#pragma once

#include "platform/Screen.h"

#include <QImage>
#include <QPoint>
#include <QRect>

// Copying screen pixels the way every capture and every recorded frame needs
// them, on top of a TScreen: the capture engine and the recorder share these,
// so a frame of a recording and a still capture of the same rectangle agree.

// Copies the screen rectangle `rect` to (0, 0) of `canvas`, which must
// already be at least that large, then paints the cursor when `withCursor`.
// A screen that cannot be read leaves the rectangle black.
void CopyScreen(TScreen& screen, QImage& canvas, const QRect& rect, bool withCursor);

// Paints the current cursor, hot spot first, onto `canvas` whose (0, 0) is
// the screen point `origin`.
void DrawCursor(const TScreen& screen, QImage& canvas, const QPoint& origin);

// The monitor nearest the cursor, as an index into screen.Monitors(); -1
// when there is no monitor.
int MonitorNearestCursor(const TScreen& screen);
