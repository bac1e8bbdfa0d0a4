#pragma once

#include <QImage>

// An 8-bit indexed copy of a truecolour picture for formats limited to 256
// colours. The palette (at most `maxColours`, at most 256) comes from octree
// quantisation of the picture's colours; each pixel is then mapped to it with
// Floyd-Steinberg error diffusion, so smooth gradients come out dithered
// rather than in bands. A picture that already has few enough colours keeps
// them exactly and gets no dithering noise. The fourth byte is ignored.
QImage QuantizeOctree(const QImage& picture, int maxColours = 256);
