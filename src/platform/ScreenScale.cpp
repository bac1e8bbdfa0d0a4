#include "platform/ScreenScale.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace {

// A screen's rectangle in physical pixels: Qt scales only its size.
QRect PhysicalScreen(const QScreen* screen)
{
    const QRect geometry = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    return QRect(geometry.topLeft(),
                 QSize(qRound(geometry.width() * ratio), qRound(geometry.height() * ratio)));
}

qreal Ratio(const QWidget* widget)
{
    const qreal ratio = widget ? widget->devicePixelRatioF() : 1.0;
    return ratio > 0 ? ratio : 1.0;
}

} // namespace

QScreen* ScreenOfPhysical(const QRect& physical)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    const QPoint centre = physical.center();
    for (QScreen* screen : screens) {
        if (PhysicalScreen(screen).contains(centre))
            return screen;
    }
    QScreen* best = QGuiApplication::primaryScreen();
    qint64 bestArea = 0;
    for (QScreen* screen : screens) {
        const QRect common = PhysicalScreen(screen) & physical;
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen;
        }
    }
    return best;
}

QRect LogicalFromPhysical(const QRect& physical)
{
    const QScreen* screen = ScreenOfPhysical(physical);
    if (!screen)
        return physical;
    const qreal ratio = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    const QPoint offset = physical.topLeft() - origin;
    return QRect(origin + QPoint(qRound(offset.x() / ratio), qRound(offset.y() / ratio)),
                 QSize(qRound(physical.width() / ratio), qRound(physical.height() / ratio)));
}

QRect PhysicalGeometry(const QWidget* window)
{
    const QRect geometry = window->geometry();
    const QScreen* screen = window->screen();
    if (!screen)
        return geometry;
    const qreal ratio = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    const QPoint offset = geometry.topLeft() - origin;
    return QRect(origin + QPoint(qRound(offset.x() * ratio), qRound(offset.y() * ratio)),
                 QSize(qRound(geometry.width() * ratio), qRound(geometry.height() * ratio)));
}

void SetPhysicalGeometry(QWidget* window, const QRect& physical)
{
    window->setGeometry(LogicalFromPhysical(physical));
}

QPoint PhysicalFromLocal(const QWidget* widget, const QPointF& local)
{
    const qreal ratio = Ratio(widget);
    return QPoint(int(std::floor(local.x() * ratio + 0.5)),
                  int(std::floor(local.y() * ratio + 0.5)));
}

QRegion LocalFromPhysical(const QWidget* widget, const QRegion& physical)
{
    const qreal ratio = Ratio(widget);
    if (ratio == 1.0)
        return physical;
    QRegion local;
    for (const QRect& r : physical) {
        const int left = int(std::floor(r.left() / ratio));
        const int top = int(std::floor(r.top() / ratio));
        const int right = int(std::ceil((r.right() + 1) / ratio));
        const int bottom = int(std::ceil((r.bottom() + 1) / ratio));
        local += QRect(left, top, right - left, bottom - top);
    }
    return local;
}

QRegion PhysicalFromLocal(const QWidget* widget, const QRegion& local)
{
    const qreal ratio = Ratio(widget);
    if (ratio == 1.0)
        return local;
    QRegion physical;
    for (const QRect& r : local) {
        const int left = int(std::floor(r.left() * ratio));
        const int top = int(std::floor(r.top() * ratio));
        const int right = int(std::ceil((r.right() + 1) * ratio));
        const int bottom = int(std::ceil((r.bottom() + 1) * ratio));
        physical += QRect(left, top, right - left, bottom - top);
    }
    return physical;
}

void PaintInPhysicalPixels(QPainter& painter, const QWidget* widget)
{
    const qreal ratio = Ratio(widget);
    painter.setTransform(QTransform::fromScale(1.0 / ratio, 1.0 / ratio));
}

int PhysicalLength(const QWidget* widget, int at96)
{
    const qreal scale = Ratio(widget) * (widget ? widget->logicalDpiX() : 96) / 96.0;
    const int length = int(std::floor(at96 * scale + 0.5));
    return at96 > 0 ? qMax(1, length) : length;
}
