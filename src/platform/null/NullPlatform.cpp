#include "platform/null/NullPlatform.h"

namespace {
const QRect NullMonitor(0, 0, 1920, 1080);
} // namespace

QRgb TNullScreen::PatternAt(const QPoint& position)
{
    return qRgb(position.x() & 0xFF, position.y() & 0xFF, (position.x() ^ position.y()) & 0xFF);
}

QList<QRect> TNullScreen::Monitors() const
{
    return {NullMonitor};
}

bool TNullScreen::Grab(const QRect& rect, QImage& target)
{
    const QImage::Format format = target.format();
    const bool fits = (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                       format == QImage::Format_ARGB32_Premultiplied) &&
                      target.width() >= rect.width() && target.height() >= rect.height();
    if (!fits || rect.isEmpty())
        return false;
    const QRect inside = rect & NullMonitor;
    BlackenOutside(target, rect, NullMonitor);
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(target.scanLine(y - rect.top()));
        for (int x = inside.left(); x <= inside.right(); ++x)
            line[x - rect.left()] = PatternAt(QPoint(x, y));
    }
    return true;
}

std::optional<QRgb> TNullScreen::Pixel(const QPoint& position)
{
    if (!NullMonitor.contains(position))
        return std::nullopt;
    return PatternAt(position);
}

bool TNullGlobalHotKey::Register(quint16 code)
{
    Unregister();
    const int key = code & HotKeyCode::KeyMask;
    const bool known = key == HotKeyCode::PrintScreen || key == HotKeyCode::Delete ||
                       (key >= 0x41 && key <= 0x5A) || (key >= 0x30 && key <= 0x39) ||
                       (key >= 0x70 && key <= 0x7B);
    if (known)
        FCode = code;
    return known;
}

void TNullGlobalHotKey::Press()
{
    if (FCode != 0)
        emit Activated();
}
