#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QString>
#include <vector>

class QPainter;

// What a press on the editor's canvas does. The shape kinds are the tools
// that leave something on the picture.
enum class TTool
{
    Select,
    Rectangle,
    Ellipse,
    Line,
    Arrow,
    Pen,
    Highlighter,
    Text,
    Step,
    Pixelate,
    Blur,
    Crop
};

// One annotation, kept as a vector object in picture pixels (the capture's
// physical pixels) until the picture is flattened, so it can be selected,
// moved, restyled or deleted at any time before.
struct TShape
{
    TTool Kind = TTool::Rectangle;
    // Box shapes, lines and arrows: start and end. Pens: the whole path.
    // Text and step markers: one anchor (the text's top-left corner, the
    // marker's centre).
    QList<QPointF> Points;
    QColor Color = Qt::red;
    // Stroke width; for pixelate and blur the strength.
    int Width = 4;
    QString Text;
    int FontSize = 24;
    int Number = 0;

    QRectF Box() const;
    // Every pixel the shape may change, antialiasing included.
    QRect Bounds() const;
    // Whether a press at `at` picks this shape, with `slack` picture pixels
    // of tolerance around thin strokes.
    bool Hit(const QPointF& at, qreal slack) const;
    void Move(const QPointF& delta);
    // Whether the shape is too small to mean anything (a click without a drag).
    bool Degenerate() const;
    bool IsFilter() const { return Kind == TTool::Pixelate || Kind == TTool::Blur; }
};

// Paints a drawn shape (not a filter) in picture coordinates.
void PaintShape(QPainter& painter, const TShape& shape);

// Replaces the pixels of `image` under a pixelate or blur shape; `origin` is
// the picture position of the image's top-left pixel. Both filters average
// the area down to a coarse grid first, so the original pixels cannot be
// recovered from the result: no block is ever a single source pixel.
void ApplyFilter(QImage& image, const TShape& shape, const QPoint& origin = QPoint());

// The shapes drawn onto a copy of `picture` in order, cut to `crop` (the
// whole picture when empty). Always 32 bits per pixel, opaque.
QImage Flatten(const QImage& picture, const std::vector<TShape>& shapes, const QRect& crop = {});
