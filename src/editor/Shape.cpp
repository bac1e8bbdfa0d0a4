#include "editor/Shape.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace {

// Room for antialiasing beyond the geometric outline.
constexpr qreal Fringe = 2;

int HighlighterWidth(const TShape& shape)
{
    return shape.Width * 4;
}

qreal ArrowHead(const TShape& shape)
{
    return qMax<qreal>(12, shape.Width * 4);
}

qreal StepRadius(const TShape& shape)
{
    return shape.FontSize * 0.9;
}

QFont TextFont(const TShape& shape)
{
    QFont font;
    font.setPixelSize(qMax(1, shape.FontSize));
    if (shape.Kind == TTool::Step)
        font.setBold(true);
    return font;
}

QRectF TextRect(const TShape& shape)
{
    const QFontMetricsF metrics(TextFont(shape));
    const QSizeF size = metrics.size(Qt::TextSingleLine, shape.Text);
    return QRectF(shape.Points.value(0), QSizeF(qMax<qreal>(size.width(), 1), metrics.height()));
}

qreal DistanceToSegment(const QPointF& p, const QPointF& a, const QPointF& b)
{
    const QPointF ab = b - a;
    const qreal length2 = QPointF::dotProduct(ab, ab);
    if (length2 <= 0)
        return QLineF(p, a).length();
    const qreal t = qBound<qreal>(0, QPointF::dotProduct(p - a, ab) / length2, 1);
    return QLineF(p, a + ab * t).length();
}

QRectF PointsRect(const QList<QPointF>& points)
{
    if (points.isEmpty())
        return {};
    qreal left = points[0].x(), right = left, top = points[0].y(), bottom = top;
    for (const QPointF& p : points) {
        left = qMin(left, p.x());
        right = qMax(right, p.x());
        top = qMin(top, p.y());
        bottom = qMax(bottom, p.y());
    }
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

QPainterPath Polyline(const QList<QPointF>& points)
{
    QPainterPath path;
    if (points.isEmpty())
        return path;
    path.moveTo(points[0]);
    for (qsizetype i = 1; i < points.size(); ++i)
        path.lineTo(points[i]);
    return path;
}

} // namespace

QRectF TShape::Box() const
{
    if (Points.isEmpty())
        return {};
    return QRectF(Points[0], Points.value(1, Points[0])).normalized();
}

QRect TShape::Bounds() const
{
    const qreal half = Width / 2.0 + Fringe;
    QRectF bounds;
    switch (Kind) {
    case TTool::Pixelate:
    case TTool::Blur:
    case TTool::Crop: {
        // The pixels under both corners belong to the area, as in any
        // selection; so does every pixel the box touches.
        const QRectF box = Box();
        return QRect(QPoint(int(std::floor(box.left())), int(std::floor(box.top()))),
                     QPoint(int(std::floor(box.right())), int(std::floor(box.bottom()))));
    }
    case TTool::Rectangle:
    case TTool::Ellipse:
    case TTool::Line:
        bounds = Box().adjusted(-half, -half, half, half);
        break;
    case TTool::Arrow: {
        const qreal margin = qMax(half, ArrowHead(*this)) + Fringe;
        bounds = Box().adjusted(-margin, -margin, margin, margin);
        break;
    }
    case TTool::Pen:
        bounds = PointsRect(Points).adjusted(-half, -half, half, half);
        break;
    case TTool::Highlighter: {
        const qreal wide = HighlighterWidth(*this) / 2.0 + Fringe;
        bounds = PointsRect(Points).adjusted(-wide, -wide, wide, wide);
        break;
    }
    case TTool::Text:
        bounds = TextRect(*this).adjusted(-Fringe, -Fringe, Fringe, Fringe);
        break;
    case TTool::Step: {
        const qreal r = StepRadius(*this) + Fringe;
        bounds = QRectF(Points.value(0) - QPointF(r, r), QSizeF(2 * r, 2 * r));
        break;
    }
    case TTool::Select:
        break;
    }
    return bounds.toAlignedRect();
}

bool TShape::Hit(const QPointF& at, qreal slack) const
{
    switch (Kind) {
    case TTool::Line:
    case TTool::Arrow:
        return Points.size() >= 2 &&
               DistanceToSegment(at, Points[0], Points[1]) <= Width / 2.0 + slack;
    case TTool::Pen:
    case TTool::Highlighter: {
        const qreal reach = (Kind == TTool::Pen ? Width : HighlighterWidth(*this)) / 2.0 + slack;
        if (Points.size() == 1)
            return QLineF(at, Points[0]).length() <= reach;
        for (qsizetype i = 1; i < Points.size(); ++i) {
            if (DistanceToSegment(at, Points[i - 1], Points[i]) <= reach)
                return true;
        }
        return false;
    }
    default:
        return QRectF(Bounds()).adjusted(-slack, -slack, slack, slack).contains(at);
    }
}

void TShape::Move(const QPointF& delta)
{
    for (QPointF& p : Points)
        p += delta;
}

bool TShape::Degenerate() const
{
    switch (Kind) {
    case TTool::Rectangle:
    case TTool::Ellipse:
    case TTool::Pixelate:
    case TTool::Blur:
    case TTool::Crop:
        return Box().width() < 3 || Box().height() < 3;
    case TTool::Line:
    case TTool::Arrow:
        return Points.size() < 2 || QLineF(Points[0], Points[1]).length() < 3;
    case TTool::Text:
        return Text.isEmpty();
    default:
        return Points.isEmpty();
    }
}

void PaintShape(QPainter& painter, const TShape& shape)
{
    if (shape.Points.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QPen pen(shape.Color, shape.Width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    switch (shape.Kind) {
    case TTool::Rectangle:
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(shape.Box());
        break;
    case TTool::Ellipse:
        painter.drawEllipse(shape.Box());
        break;
    case TTool::Line:
        painter.drawLine(shape.Points[0], shape.Points.value(1, shape.Points[0]));
        break;
    case TTool::Arrow: {
        const QPointF from = shape.Points[0];
        const QPointF to = shape.Points.value(1, from);
        const QLineF line(from, to);
        const qreal length = line.length();
        if (length <= 0)
            break;
        const qreal head = qMin(ArrowHead(shape), length);
        const QPointF unit = (to - from) / length;
        const QPointF normal(-unit.y(), unit.x());
        const QPointF base = to - unit * head;
        // The shaft stops inside the head so its round cap never pokes out of the tip.
        painter.drawLine(from, to - unit * (head * 0.6));
        painter.setPen(Qt::NoPen);
        painter.setBrush(shape.Color);
        painter.drawPolygon(
            QPolygonF({to, base + normal * (head * 0.5), base - normal * (head * 0.5)}));
        break;
    }
    case TTool::Pen:
        if (shape.Points.size() == 1)
            painter.drawPoint(shape.Points[0]);
        else
            painter.drawPath(Polyline(shape.Points));
        break;
    case TTool::Highlighter: {
        // One path in one stroke: where it crosses itself the tint does not darken.
        QColor tint = shape.Color;
        tint.setAlpha(110);
        painter.setPen(
            QPen(tint, HighlighterWidth(shape), Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
        if (shape.Points.size() == 1)
            painter.drawPoint(shape.Points[0]);
        else
            painter.drawPath(Polyline(shape.Points));
        break;
    }
    case TTool::Text:
        painter.setFont(TextFont(shape));
        painter.drawText(TextRect(shape), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         shape.Text);
        break;
    case TTool::Step: {
        const qreal r = StepRadius(shape);
        const QPointF centre = shape.Points[0];
        painter.setPen(Qt::NoPen);
        painter.setBrush(shape.Color);
        painter.drawEllipse(centre, r, r);
        painter.setPen(shape.Color.lightness() > 150 ? Qt::black : Qt::white);
        painter.setFont(TextFont(shape));
        painter.drawText(QRectF(centre - QPointF(r, r), QSizeF(2 * r, 2 * r)), Qt::AlignCenter,
                         QString::number(shape.Number));
        break;
    }
    default:
        break;
    }
    painter.restore();
}

void ApplyFilter(QImage& image, const TShape& shape, const QPoint& origin)
{
    if (!shape.IsFilter() || image.depth() != 32)
        return;
    const QRect area = shape.Bounds().translated(-origin) & image.rect();
    if (area.isEmpty())
        return;
    const int block = qBound(4, shape.Width * 3, 64);
    // Blocks spread evenly over the area instead of a remainder strip at the
    // edge, which could be one pixel wide and keep the original pixels.
    const int columns = qMax(1, (area.width() + block / 2) / block);
    const int rows = qMax(1, (area.height() + block / 2) / block);
    QImage coarse(columns, rows, QImage::Format_RGB32);
    for (int row = 0; row < rows; ++row) {
        const int y0 = area.top() + row * area.height() / rows;
        const int y1 = area.top() + (row + 1) * area.height() / rows;
        for (int column = 0; column < columns; ++column) {
            const int x0 = area.left() + column * area.width() / columns;
            const int x1 = area.left() + (column + 1) * area.width() / columns;
            quint64 red = 0, green = 0, blue = 0;
            for (int y = y0; y < y1; ++y) {
                const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                for (int x = x0; x < x1; ++x) {
                    red += qRed(line[x]);
                    green += qGreen(line[x]);
                    blue += qBlue(line[x]);
                }
            }
            const quint64 count = quint64(y1 - y0) * quint64(x1 - x0);
            const QRgb mean = qRgb(int((red + count / 2) / count), int((green + count / 2) / count),
                                   int((blue + count / 2) / count));
            if (shape.Kind == TTool::Pixelate) {
                for (int y = y0; y < y1; ++y) {
                    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                    std::fill(line + x0, line + x1, mean);
                }
            } else {
                coarse.setPixel(column, row, mean);
            }
        }
    }
    if (shape.Kind == TTool::Blur) {
        // Smoothly enlarged block means: soft like a blur, yet made only of
        // the coarse grid, so there is nothing to deconvolve back.
        const QImage soft =
            coarse.scaled(area.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < area.height(); ++y) {
            const auto* from = reinterpret_cast<const QRgb*>(soft.constScanLine(y));
            auto* to = reinterpret_cast<QRgb*>(image.scanLine(area.top() + y)) + area.left();
            for (int x = 0; x < area.width(); ++x)
                to[x] = from[x] | 0xFF000000u;
        }
    }
}

QImage Flatten(const QImage& picture, const std::vector<TShape>& shapes, const QRect& crop)
{
    QImage out;
    if (picture.format() == QImage::Format_RGB32) {
        // Shared until the first shape paints into it.
        out = picture;
    } else if (picture.depth() == 32) {
        // The fourth byte of a capture is never transparency.
        out = picture.copy();
        out.reinterpretAsFormat(QImage::Format_RGB32);
        for (int y = 0; y < out.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < out.width(); ++x)
                line[x] |= 0xFF000000u;
        }
    } else {
        out = picture.convertToFormat(QImage::Format_RGB32);
    }
    QPainter painter;
    for (const TShape& shape : shapes) {
        if (shape.Kind == TTool::Crop)
            continue;
        if (shape.IsFilter()) {
            if (painter.isActive())
                painter.end();
            ApplyFilter(out, shape);
        } else {
            if (!painter.isActive())
                painter.begin(&out);
            PaintShape(painter, shape);
        }
    }
    if (painter.isActive())
        painter.end();
    if (!crop.isEmpty())
        out = out.copy(crop & out.rect());
    return out;
}
