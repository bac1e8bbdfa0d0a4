#pragma once

#include <QImage>
#include <QString>

// The usual height in pixels of the letters in `picture`, measured without
// the engine: in narrow vertical strips, a run of rows each differing from
// the row above is a line of letters (or part of one) seen from the side;
// the middle of the run lengths is the answer. 0 when the picture shows too
// little to tell. Safe on any thread.
int TextHeight(const QImage& picture);

// Below this TextHeight, letters of `script` (ISO 15924) are read better
// enlarged. Hangul and Han characters pack more strokes into a letter's
// height than Latin ones, so they need the enlargement up to a larger size.
int SmallTextHeight(const QString& script);

// The picture text recognition is given of a capture in `script`. Small
// letters are read far better when enlarged twice with a smooth (bilinear)
// filter: a repeated pixel keeps every stair of the letter's edge, and the
// engine read such letters worse than unenlarged ones. Larger letters are
// read as well as they are, in a quarter of the time. A picture whose text
// height cannot be told is enlarged: it shows little text, so the
// enlargement costs little. The stated resolution doubles with the size.
// Never larger than `maxDimension` on either side. Safe on any thread.
QImage PictureForRecognition(const QImage& capture, const QString& script, int maxDimension);
