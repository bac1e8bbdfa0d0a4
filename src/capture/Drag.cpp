#include "capture/Drag.h"

#include "platform/NativeWindow.h"
#include "platform/ScreenScale.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

constexpr std::array<quint8, 256> DimTable = [] {
    std::array<quint8, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[b] = TDragPicture::Dim(quint8(b));
    return table;
}();

inline quint32 DimPixel(quint32 p)
{
    return (p & 0xFF000000u) | quint32(DimTable[(p >> 16) & 0xFF]) << 16 |
           quint32(DimTable[(p >> 8) & 0xFF]) << 8 | DimTable[p & 0xFF];
}

// Dims a row four pixels at a time in the compiler's portable vector type
// (SSE2 on x86-64): the same integer arithmetic, about twice as fast as a
// table, which counts at 4K where the whole screen is dimmed at show time.
using TPixels4 = quint32 __attribute__((vector_size(16)));

void DimRow(const quint32* from, quint32* to, int width)
{
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        TPixels4 p;
        std::memcpy(&p, from + x, sizeof p);
        const TPixels4 b = ((p & 0xFFu) * 19660u + 16384u) >> 15;
        const TPixels4 g = (((p >> 8) & 0xFFu) * 19660u + 16384u) >> 15;
        const TPixels4 r = (((p >> 16) & 0xFFu) * 19660u + 16384u) >> 15;
        const TPixels4 dimmed = (p & 0xFF000000u) | r << 16 | g << 8 | b;
        std::memcpy(to + x, &dimmed, sizeof dimmed);
    }
    for (; x < width; ++x)
        to[x] = DimPixel(from[x]);
}

} // namespace

void TDragPicture::DimOutside(const QImage& source, const QRect& selection, QImage& target)
{
    target = source.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < target.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(target.scanLine(y));
        for (int x = 0; x < target.width(); ++x) {
            if (!selection.contains(x, y))
                row[x] = DimPixel(row[x]);
        }
    }
}

void TDragPicture::Freeze(QImage screen)
{
    FScreen = std::move(screen).convertToFormat(QImage::Format_RGB32);
    FSelection = QRect();
}

QRegion TDragPicture::Select(const QRect& selection)
{
    const QRect clipped = selection.intersected(FScreen.rect());
    const QRegion changed = QRegion(FSelection).xored(QRegion(clipped));
    FSelection = clipped;
    return changed;
}

void TDragPicture::Paint(QPainter& painter, const QRegion& area) const
{
    // Same format on both sides and no transformation: each row is one copy.
    const QRegion inside = area.intersected(FSelection);
    for (const QRect& r : inside)
        painter.drawImage(r.topLeft(), FScreen, r);
    // The dimmed pixels are made as they are painted, a band of rows at a
    // time, instead of keeping a dimmed copy of the whole screen: at 4K that
    // copy was 33 MB of fresh memory to fault in and fill before the first
    // frame, and a band small enough to stay in the cache costs next to
    // nothing on top of the copy to the window.
    constexpr int BandBytes = 256 * 1024;
    QImage band;
    for (const QRect& r : area.subtracted(inside)) {
        const int rows = qBound(1, BandBytes / (r.width() * 4), r.height());
        if (band.width() < r.width() || band.height() < rows)
            band = QImage(qMax(band.width(), r.width()), qMax(band.height(), rows),
                          QImage::Format_RGB32);
        for (int top = r.top(); top <= r.bottom(); top += rows) {
            const int height = qMin(rows, r.bottom() + 1 - top);
            for (int y = 0; y < height; ++y)
                DimRow(reinterpret_cast<const quint32*>(FScreen.constScanLine(top + y)) + r.left(),
                       reinterpret_cast<quint32*>(band.scanLine(y)), r.width());
            painter.drawImage(QPoint(r.left(), top), band, QRect(0, 0, r.width(), height));
        }
    }
}

TFrmDrag::TFrmDrag(TScreen& screen, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::X11BypassWindowManagerHint),
      FScreen(screen), TmrActive(new QTimer(this))
{
    setObjectName(QStringLiteral("TFrmDrag"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setCursor(Qt::CrossCursor);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);

    const QList<QRect> monitors = FScreen.Monitors();
    for (const QRect& monitor : monitors)
        FBounds = FBounds.united(monitor);
    if (FBounds.isEmpty() && QGuiApplication::primaryScreen())
        FBounds = QGuiApplication::primaryScreen()->virtualGeometry();
    // The picture, the selection and the result are physical pixels, one to
    // one with the window's own, whatever scale Qt draws the window at.
    SetPhysicalGeometry(this, FBounds);

    TmrActive->setObjectName(QStringLiteral("TmrActive"));
    TmrActive->setInterval(100);
    connect(TmrActive, &QTimer::timeout, this, &TFrmDrag::TmrActiveTimer);
    TmrActive->start();
}

TFrmDrag::~TFrmDrag() = default;

void TFrmDrag::Capture(QImage& bitmap, QRect& rect)
{
    bitmap = QImage();
    FBitmap = &bitmap;
    FRect = &rect;
}

QRect TFrmDrag::NormalizeRect(const QPoint& a, const QPoint& b)
{
    const int x1 = qMin(a.x(), b.x());
    const int x2 = qMax(a.x(), b.x());
    const int y1 = qMin(a.y(), b.y());
    const int y2 = qMax(a.y(), b.y());
    return QRect(x1, y1, x2 - x1, y2 - y1);
}

int TFrmDrag::MinMonitorLeft(const QList<QRect>& monitors)
{
    int left = INT_MAX;
    for (const QRect& monitor : monitors)
        left = qMin(left, monitor.left());
    return left;
}

int TFrmDrag::MinMonitorTop(const QList<QRect>& monitors)
{
    int top = INT_MAX;
    for (const QRect& monitor : monitors)
        top = qMin(top, monitor.top());
    return top;
}

void TFrmDrag::showEvent(QShowEvent* event)
{
    // Runs before the window is mapped, so the overlay is not in its own picture.
    StayOnTop();
    FSnapshot = FScreen.Snapshot(FBounds);
    if (FSnapshot && !FSnapshot->Attach(winId()))
        FSnapshot.reset();
    if (FSnapshot) {
        // The server draws the window; Qt keeps no copy of it to paint from.
        setAttribute(Qt::WA_PaintOnScreen);
    } else {
        QImage frozen(FBounds.size(), QImage::Format_RGB32);
        // A successful grab writes every pixel; filling first would be one
        // more pass over 33 MB at 4K.
        if (!FScreen.Grab(FBounds, frozen))
            frozen.fill(Qt::black);
        FPicture.Freeze(std::move(frozen));
    }
    DrawSelection(true);
    QDialog::showEvent(event);
    activateWindow();
    QTimer::singleShot(0, this, [this] { TakeFocus(); });
}

QPaintEngine* TFrmDrag::paintEngine() const
{
    return FSnapshot ? nullptr : QDialog::paintEngine();
}

void TFrmDrag::paintEvent(QPaintEvent* event)
{
    const QRect overlay(QPoint(0, 0), FBounds.size());
    const QRegion area = PhysicalFromLocal(this, event->region()) & overlay;
    if (FSnapshot) {
        FSnapshot->Show(area, FShownSelection);
        return;
    }
    QPainter painter(this);
    PaintInPhysicalPixels(painter, this);
    FPicture.Paint(painter, area);
}

void TFrmDrag::DrawSelection(bool rebuild)
{
    if (!rebuild) {
        update();
        return;
    }
    QRegion changed;
    if (FSnapshot) {
        const QRect clipped = FCaptureRect & QRect(QPoint(0, 0), FBounds.size());
        changed = QRegion(FShownSelection).xored(QRegion(clipped));
        FShownSelection = clipped;
    } else {
        changed = FPicture.Select(FCaptureRect);
    }
    update(LocalFromPhysical(this, changed));
}

QPoint TFrmDrag::PointerAt(const QPointF& local) const
{
    const QPoint computed = PhysicalFromLocal(this, local);
    const qreal ratio = devicePixelRatioF();
    if (ratio == std::floor(ratio))
        return computed;
    // Qt hands a mouse position over in whole units of its own, so at a
    // fractional scale every other physical pixel is out of reach. The
    // server's pointer is exact; it is taken when it is still where the
    // event says (the pointer may have moved on since).
    const QPoint pointer = FScreen.CursorPosition() - FBounds.topLeft();
    const QPoint distance = pointer - computed;
    const int slack = int(std::ceil(ratio));
    return qAbs(distance.x()) <= slack && qAbs(distance.y()) <= slack ? pointer : computed;
}

void TFrmDrag::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    FSelecting = true;
    FStartPoint = FEndPoint = PointerAt(event->position());
}

void TFrmDrag::mouseMoveEvent(QMouseEvent* event)
{
    if (!FSelecting)
        return;
    FEndPoint = PointerAt(event->position());
    FCaptureRect = NormalizeRect(FStartPoint, FEndPoint);
    DrawSelection(true);
}

void TFrmDrag::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !FSelecting)
        return;
    FSelecting = false;
    FEndPoint = PointerAt(event->position());
    FCaptureRect = NormalizeRect(FStartPoint, FEndPoint);
    DrawSelection(true);
    if (FCaptureRect.width() == 0 || FCaptureRect.height() == 0)
        return;
    Deliver();
}

void TFrmDrag::Deliver()
{
    const QList<QRect> monitors = FScreen.Monitors();
    const QPoint origin = monitors.isEmpty()
                              ? FBounds.topLeft()
                              : QPoint(MinMonitorLeft(monitors), MinMonitorTop(monitors));
    // Inside the selection the shown picture is the frozen screen itself.
    const QRect selection = FCaptureRect & QRect(QPoint(0, 0), FBounds.size());
    if (FBitmap) {
        if (FSnapshot) {
            QImage picked(selection.size(), QImage::Format_RGB32);
            // Nothing half read goes out: a server that cannot give the
            // pixels back cancels the capture.
            if (!FSnapshot->Read(selection, picked)) {
                Cancel();
                return;
            }
            *FBitmap = std::move(picked);
        } else {
            *FBitmap = FPicture.Screen().copy(selection);
        }
    }
    if (FRect)
        *FRect = QRect(origin + FCaptureRect.topLeft(), FCaptureRect.size());
    done(Accepted);
}

void TFrmDrag::Cancel()
{
    if (FBitmap)
        *FBitmap = QImage();
    done(Rejected);
}

void TFrmDrag::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    if (event->key() == Qt::Key_Escape)
        Cancel();
}

void TFrmDrag::closeEvent(QCloseEvent* event)
{
    TmrActive->stop();
    FSnapshot.reset();
    FPicture = TDragPicture();
    QDialog::closeEvent(event);
}

bool TFrmDrag::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        FWasActive = true;
    return QDialog::event(event);
}

void TFrmDrag::StayOnTop()
{
    if (isVisible())
        raise();
}

void TFrmDrag::TmrActiveTimer()
{
    if (!isVisible())
        return;
    if (QGuiApplication::applicationState() == Qt::ApplicationActive) {
        FWasActive = true;
        StayOnTop();
        return;
    }
    // Asked for the focus but not answered within a second: another program
    // holds the keyboard, and an overlay without it could not be cancelled.
    constexpr int ActivationTicks = 10;
    if (!FWasActive && ++FActivationTicks < ActivationTicks) {
        StayOnTop();
        TakeFocus();
        return;
    }
    Cancel();
}

bool TFrmDrag::TakeFocus()
{
    if (!isVisible()) {
        activateWindow();
        return false;
    }
    // The window manager does not manage the overlay, so the focus is set
    // directly. The hot key's press never reached Qt's event handling, so
    // Qt's last known server time may be older than the last focus change,
    // and the server would ignore a request with it: the current time is
    // what the user's press stands for.
    return FocusWindow(this);
}
