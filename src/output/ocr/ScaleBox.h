#pragma once

#include <QImage>

// Area-averaging ("box") resampling. Each pixel of the result is the average
// of the source pixels under it, each weighted by how much of it they cover,
// rounded to the nearest value. Enlarging by a whole factor therefore repeats
// every pixel exactly; other factors blend two neighbours where a result
// pixel straddles their border.
//
// The result is Format_RGB32, or Format_ARGB32_Premultiplied when the
// picture has an alpha channel; its stated resolution grows with the size.
// A null picture or a size below 1 gives a null image. Safe on any thread.
QImage ScaleBox(const QImage& picture, int width, int height);

// Three times as wide and as high: what text recognition is given of a
// capture, since the engine reads screen-sized letters poorly.
QImage ScaleBox3x(const QImage& picture);
