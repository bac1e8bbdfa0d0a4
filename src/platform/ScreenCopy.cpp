#include "platform/ScreenCopy.h"

#include <QPainter>
#include <climits>

void CopyScreen(TScreen& screen, QImage& canvas, const QRect& rect, bool withCursor)
{
    if (rect.isEmpty() || canvas.isNull())
        return;
    // A fresh canvas holds leftover memory, which must never reach a file.
    if (!screen.Grab(rect, canvas))
        BlackenOutside(canvas, rect, QRegion());
    if (withCursor)
        DrawCursor(screen, canvas, rect.topLeft());
}

void DrawCursor(const TScreen& screen, QImage& canvas, const QPoint& origin)
{
    const std::optional<TCursorImage> cursor = screen.Cursor();
    if (!cursor || cursor->Image.isNull())
        return;
    const QPoint at = cursor->Position - origin - cursor->HotSpot;
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(at, cursor->Image);
}

int MonitorNearestCursor(const TScreen& screen)
{
    const QList<QRect> monitors = screen.Monitors();
    const QPoint cursor = screen.CursorPosition();
    int best = monitors.isEmpty() ? -1 : 0;
    qint64 bestDistance = LLONG_MAX;
    for (int i = 0; i < monitors.size(); ++i) {
        const QRect& m = monitors[i];
        if (m.contains(cursor))
            return i;
        const qint64 dx = cursor.x() < m.left()    ? m.left() - cursor.x()
                          : cursor.x() > m.right() ? cursor.x() - m.right()
                                                   : 0;
        const qint64 dy = cursor.y() < m.top()      ? m.top() - cursor.y()
                          : cursor.y() > m.bottom() ? cursor.y() - m.bottom()
                                                    : 0;
        const qint64 distance = dx * dx + dy * dy;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}
