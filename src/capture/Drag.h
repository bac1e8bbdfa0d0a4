#pragma once

#include "platform/Screen.h"

#include <QDialog>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <memory>

class QPainter;
class QTimer;

// What the drag overlay shows: the frozen screen, dimmed outside the
// selection as it is painted. A change of the selection only redraws the
// band between the old and the new rectangle instead of dimming the whole
// screen again. The result is pixel for pixel what dimming the frozen copy
// outside the selection gives.
class TDragPicture
{
public:
    // 60 % brightness, rounded to nearest, in integers: 255 -> 153, 100 -> 60, 1 -> 1.
    static constexpr quint8 Dim(quint8 b) { return quint8((b * 19660 + 16384) >> 15); }

    // `target` := `source` (Format_RGB32) with the three colour bytes of every
    // pixel outside `selection` dimmed; the fourth byte is kept.
    static void DimOutside(const QImage& source, const QRect& selection, QImage& target);

    // Takes `screen` (converted to Format_RGB32) as the frozen picture and
    // clears the selection.
    void Freeze(QImage screen);

    // Moves the selection (clipped to the picture) and returns the part of
    // the picture whose shown pixels changed.
    QRegion Select(const QRect& selection);

    // Paints the shown pixels of `area` (picture coordinates) at the same place.
    void Paint(QPainter& painter, const QRegion& area) const;

    const QImage& Screen() const { return FScreen; }
    QRect Selection() const { return FSelection; }

private:
    QImage FScreen;
    QRect FSelection;
};

// The drag-selection overlay: a borderless window exactly over all monitors
// that shows the screen frozen at the moment it appeared, dims everything
// outside the rectangle being dragged, and hands the selected pixels and
// their screen rectangle back. The overlay is never part of its own picture.
//
// The controller uses it for one capture:
//     TFrmDrag drag(screen);
//     drag.Capture(bitmap, rect);
//     drag.exec();
// and owns it (on the stack or in a unique_ptr), so it is destroyed exactly
// once, by its owner, after exec() has returned. A null `bitmap` afterwards
// means the user cancelled (Escape, or another program became active).
//
// The window is not managed by the window manager, so it lies exactly over
// the virtual screen, above every managed window, and takes the keyboard
// focus itself; that works while another program is active, as when the
// capture comes from the global hot key. User-interface thread only.
class TFrmDrag : public QDialog
{
    Q_OBJECT
public:
    explicit TFrmDrag(TScreen& screen, QWidget* parent = nullptr);
    ~TFrmDrag() override;

    // Binds the caller's variables: `bitmap` becomes null now and receives
    // the selection when the user releases the button on a non-empty
    // rectangle; `rect` then receives its screen rectangle. Both must outlive
    // the overlay's modal run.
    void Capture(QImage& bitmap, QRect& rect);

    // Two corners to a rectangle whose right and bottom are the larger
    // corner itself (outside the rectangle): (x1, y1, x2, y2) with the
    // coordinates swapped where the second is smaller.
    static QRect NormalizeRect(const QPoint& a, const QPoint& b);

    // The smallest left and smallest top over `monitors` (INT_MAX for none).
    static int MinMonitorLeft(const QList<QRect>& monitors);
    static int MinMonitorTop(const QList<QRect>& monitors);

    // The selection in the overlay's physical pixels from its top-left;
    // empty until the first drag movement.
    QRect CaptureRect() const { return FCaptureRect; }
    const TDragPicture& Picture() const { return FPicture; }
    // True while the display server holds and shows the frozen screen itself.
    bool ShownByServer() const { return FSnapshot != nullptr; }

    QPaintEngine* paintEngine() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void DrawSelection(bool rebuild);
    void StayOnTop();
    void TmrActiveTimer();
    void Cancel();
    void Deliver();
    // Gives the overlay the keyboard focus even while another program is
    // active; false when the window is not on screen yet.
    bool TakeFocus();
    // The physical pixel of the overlay under a mouse event's position.
    QPoint PointerAt(const QPointF& local) const;

    TScreen& FScreen;
    QRect FBounds; // the overlay on the screen: the bounding box of the monitors
    QPoint FStartPoint;
    QPoint FEndPoint;
    bool FSelecting = false;
    QRect FCaptureRect;
    // Where the display server can keep the frozen screen, it shows it and
    // the pixels never come to this process but the selected ones; elsewhere
    // the picture is grabbed and painted from here.
    std::unique_ptr<TScreenSnapshot> FSnapshot;
    QRect FShownSelection; // the selection the server shows, clipped to the overlay
    TDragPicture FPicture;
    QImage* FBitmap = nullptr;
    QRect* FRect = nullptr;
    QTimer* TmrActive;
    // Until the overlay has had the focus once, the activation check asks for
    // it again instead of cancelling: the window manager answers a moment
    // after the window appears.
    bool FWasActive = false;
    int FActivationTicks = 0;
};
