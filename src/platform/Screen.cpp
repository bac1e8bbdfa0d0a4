#include "platform/Screen.h"

void BlackenOutside(QImage& target, const QRect& rect, const QRegion& shown)
{
    const QRegion hidden = QRegion(rect).subtracted(shown);
    for (QRect part : hidden) {
        part = part.translated(-rect.topLeft()).intersected(target.rect());
        for (int y = part.top(); y <= part.bottom(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(target.scanLine(y));
            std::fill(line + part.left(), line + part.right() + 1, 0xFF000000u);
        }
    }
}
