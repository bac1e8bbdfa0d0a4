#pragma once

#include <QImage>
#include <QMap>
#include <QString>

// Pictures the writers are tested and measured on. All are Format_RGB32
// unless said otherwise and the same on every run.

// A desktop-like picture: window frames and flat panels, a colour gradient
// and many lines of anti-aliased text. Far more than 256 colours.
QImage ScreenshotLike(int width, int height);

// Red grows to the right, green downwards, blue is fixed: every pixel of a
// 256 x 256 picture has its own colour.
QImage Gradient(int width, int height);

// Random pixels: compresses badly, so a PNG of it needs many IDAT chunks.
QImage Noise(int width, int height, quint32 seed = 1);

// The first picture of `path` as decoded by ffmpeg, in Format_ARGB32; null
// when ffmpeg cannot decode it. `stream` receives ffprobe's fields of the
// first video stream (codec_name, pix_fmt, width, height, ...).
QImage DecodeWithFfmpeg(const QString& path, QMap<QString, QString>* stream = nullptr);

// The mean absolute difference per colour channel of two pictures of the
// same size, over `block` x `block` averages (1: pixel by pixel). -1 when the
// sizes differ.
double MeanError(const QImage& a, const QImage& b, int block = 1);
