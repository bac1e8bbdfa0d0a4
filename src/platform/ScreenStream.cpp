#include "platform/ScreenStream.h"

#include <QPainter>
#include <cstring>

void CopyFromStream(const QImage& frame, const QRect& bounds, const QRect& rect, QImage& target)
{
    const QRect area = QRect(QPoint(0, 0), rect.size()).intersected(target.rect());
    if (area.isEmpty())
        return;
    const QRect shown = rect.intersected(bounds);
    if (shown != rect || frame.isNull()) {
        QPainter painter(&target);
        painter.fillRect(area, Qt::black);
    }
    if (shown.isEmpty() || frame.isNull())
        return;
    // Where `shown` lies in the target and in the frame's pixels.
    const QRect to = shown.translated(-rect.topLeft()).intersected(area);
    if (to.isEmpty())
        return;
    const QRect from = QRect(to.topLeft() + rect.topLeft() - bounds.topLeft(), to.size());
    if (frame.size() == bounds.size() && frame.format() == target.format()) {
        // The common case, one pixel per root pixel: rows copied as they are.
        const qsizetype bytes = qsizetype(from.width()) * 4;
        for (int y = 0; y < to.height(); ++y)
            std::memcpy(target.scanLine(to.top() + y) + qsizetype(to.left()) * 4,
                        frame.constScanLine(from.top() + y) + qsizetype(from.left()) * 4, bytes);
        return;
    }
    const double sx = double(frame.width()) / bounds.width();
    const double sy = double(frame.height()) / bounds.height();
    const QRectF source(from.left() * sx, from.top() * sy, from.width() * sx, from.height() * sy);
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(to), frame, source);
}
