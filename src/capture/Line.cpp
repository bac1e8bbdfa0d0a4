#include "capture/Line.h"

#include "platform/NativeWindow.h"
#include "platform/ScreenScale.h"

#include <QCloseEvent>
#include <QPainter>
#include <QTimer>
#include <cstdlib>

namespace {

constexpr int AreaActiveWindow = 3;
constexpr int AreaWindowControl = 4;

} // namespace

void LineDDA(const QPoint& from, const QPoint& to, const std::function<void(int, int)>& pixel)
{
    // Bresenham over the longer axis; for the ring's straight segments this
    // is every point from `from` up to, not including, `to`.
    const int dx = std::abs(to.x() - from.x());
    const int dy = std::abs(to.y() - from.y());
    const int sx = from.x() < to.x() ? 1 : -1;
    const int sy = from.y() < to.y() ? 1 : -1;
    const int steps = qMax(dx, dy);
    int x = from.x();
    int y = from.y();
    int error = (dx > dy ? dx : -dy) / 2;
    for (int i = 0; i < steps; ++i) {
        pixel(x, y);
        const int e = error;
        if (e > -dx) {
            error -= dy;
            x += sx;
        }
        if (e < dy) {
            error += dx;
            y += sy;
        }
    }
}

TFrmLine::TFrmLine(TScreen& screen, TWindows& windows, std::function<int()> area,
                   QWidget* mainWindow)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput |
                           Qt::WindowDoesNotAcceptFocus),
      FScreen(screen), FWindows(windows), FArea(std::move(area)), FMainWindow(mainWindow),
      Timer1(new QTimer(this))
{
    setObjectName(QStringLiteral("TFrmLine"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
    DashPattern = 0;
    Delay = 0;
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(10);
    connect(Timer1, &QTimer::timeout, this, &TFrmLine::Timer1Timer);
    resize(2, 2);
}

TFrmLine::~TFrmLine() = default;

void TFrmLine::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Timer1->start();
}

void TFrmLine::closeEvent(QCloseEvent* event)
{
    Timer1->stop();
    QWidget::closeEvent(event);
}

bool TFrmLine::event(QEvent* event)
{
    // The picker never keeps the focus: it goes back to the main window.
    if (event->type() == QEvent::WindowActivate && FMainWindow && FMainWindow->isVisible())
        FMainWindow->activateWindow();
    return QWidget::event(event);
}

void TFrmLine::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    ResetRing();
}

void TFrmLine::ResetRing()
{
    // The ring is one physical pixel wide at any scale, cut exactly.
    const QSize size = FPhysical.isEmpty() ? PhysicalGeometry(this).size() : FPhysical.size();
    QRegion ring(0, 0, size.width(), size.height());
    ring -= QRegion(1, 1, size.width() - 2, size.height() - 2);
    SetWindowShape(this, ring);
    // Until the next painting the ring shows the background colour.
    FRing = QImage(size, QImage::Format_RGB32);
    FRing.fill(palette().color(QPalette::Button));
}

void TFrmLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintInPhysicalPixels(painter, this);
    painter.drawImage(0, 0, FRing);
}

void TFrmLine::Timer1Timer()
{
    const int area = FArea ? FArea() : -1;
    TWindowId target = 0;
    if (area == AreaActiveWindow)
        target = FWindows.ActiveWindow();
    else if (area == AreaWindowControl)
        target = FWindows.WindowAt(FScreen.CursorPosition());
    else
        return;
    if (target == TWindowId(winId()) && FMainWindow)
        target = TWindowId(FMainWindow->winId());

    // A target that vanished before its frame could be read keeps the ring
    // where it was. Over the bare desktop the capture takes the monitor under
    // the pointer, and the ring marks that monitor's edge.
    std::optional<QRect> ring;
    if (target == 0 && area == AreaWindowControl) {
        const QPoint pointer = FScreen.CursorPosition();
        for (const QRect& monitor : FScreen.Monitors()) {
            if (monitor.contains(pointer)) {
                ring = monitor;
                break;
            }
        }
    } else if (const std::optional<QRect> frame = FWindows.VisibleFrame(target)) {
        ring = frame->adjusted(-1, -1, 1, 1);
    }
    if (ring) {
        FTarget = target;
        if (*ring != FPhysical || FRing.size() != ring->size()) {
            FPhysical = *ring;
            if (isVisible())
                PlaceWindow(this, *ring);
            else
                SetPhysicalGeometry(this, *ring);
            // A hidden picker gets no resize event until it shows.
            ResetRing();
        }
    }

    if (Delay < 10) {
        ++Delay;
        return;
    }
    Delay = 0;
    PaintRing();
}

void TFrmLine::PaintRing()
{
    if (FRing.isNull())
        ResetRing();
    const int w = FRing.width();
    const int h = FRing.height();
    const auto pixel = [this](int x, int y) {
        DashPixel(x, y);
    };
    LineDDA(QPoint(0, 0), QPoint(w - 1, 0), pixel);
    LineDDA(QPoint(w - 1, 0), QPoint(w - 1, h - 1), pixel);
    LineDDA(QPoint(w - 1, h - 1), QPoint(0, h - 1), pixel);
    LineDDA(QPoint(0, h - 1), QPoint(0, -1), pixel);
    if (isVisible()) {
        raise();
        repaint();
    }
}

void TFrmLine::DashPixel(int x, int y)
{
    DashPattern = quint8(DashPattern << 1);
    if (DashPattern == 0)
        DashPattern = 1;
    if (FRing.valid(x, y))
        FRing.setPixel(x, y, (DashPattern & 0xE0) ? 0xFFFFFFFFu : 0xFF000000u);
}
