#pragma once

#include <QColor>
#include <QRect>
#include <QWidget>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class TFrmSize;

// What the region window needs from the main window. The main window
// implements it and outlives the region window.
class TAreaOwner
{
public:
    virtual ~TAreaOwner() = default;
    // A screen recording is running: the border then neither moves nor resizes.
    virtual bool IsRecording() const = 0;
    // Stops the running recording (the region window is closing).
    virtual void RecordStop() = 0;
    // The close button was pressed: the program goes back to full-screen
    // capture, that is the area selector shows item 0 without running its
    // change handler, and "area" is stored as 0. The region window closes
    // itself afterwards.
    virtual void AreaClosed() = 0;
};

// The region window: a hollow, always-on-top frame whose inside is a real
// hole (X Shape), through which the desktop is seen and clicked. A 6-pixel
// border and a header bar with the interior size, the recording clock and a
// close button; its interior is what area 1 captures and records.
//
// Created the first time area 1 is chosen and afterwards only hidden and
// shown. Its geometry is stored as it changes and restored at the next start.
// User-interface thread only.
class TFrmArea : public QWidget
{
    Q_OBJECT
public:
    static constexpr int BorderWidth = 6;

    // `size` is the size-preset dialog (made at program start); both it and
    // `owner` must outlive the region window.
    TFrmArea(TFrmSize& size, TAreaOwner& owner);
    ~TFrmArea() override;

    // The header's height: 25 pixels at 96 DPI, scaled like any control.
    int HeaderHeight() const;

    // The interior in physical screen pixels, right and bottom outside:
    // (Left + 6, Top + header + 6, Left + Width - 6, Top + Height - 6), with
    // the border and header at the screen's scale.
    QRect GetRect() const;

    // Makes the interior exactly `width` x `height` physical pixels;
    // `sizeNo` 1 ... 3 also renames that preset's menu item to
    // "<width>x<height>".
    void SetSize(int width, int height, int sizeNo);
    // Moves the window's outer top-left corner (physical pixels).
    void SetMove(int left, int top);

    // The window's outer rectangle in physical pixels: where it was last
    // placed, or where the window manager or the user has put it since.
    QRect Outer() const;

    // Shows `time` ("hh:mm:ss") on the header's recording clock: bold yellow
    // while `recording`, plain dark red when the recording has ended.
    void SetRecTime(const QString& time, bool recording);

    // The recording clock in the header.
    QLabel* LvlRecTime;

    // The border's current fill colour (it pulses while the window shows).
    QColor BorderColor() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void LoadGeometry();
    // Qt's scale for this window, and the border and the header in physical pixels.
    qreal Ratio() const;
    int PhysicalBorder() const;
    int PhysicalHeader() const;
    // Puts the window's outer rectangle on `outer` (physical pixels).
    void Place(const QRect& outer);
    // Takes a move or resize that did not come from Place.
    void FollowWindow();
    void StoreGeometry();
    void ScheduleStore();
    void FormResize();
    void LayoutHeader();
    void LoadCloseImage();
    void TmrColorTimer();
    void BtnCloseClick();
    // The window manager's move or resize for a press on the border; none
    // while recording.
    Qt::Edges BorderEdges(const QPoint& position, bool* caption) const;
    // A move (no edges) or resize by the pointer from the global position
    // `global` (Qt's units), and its course.
    void StartDrag(Qt::Edges edges, const QPointF& global);
    void DragTo(const QPointF& global);

    TFrmSize& FSize;
    TAreaOwner& FOwner;

    QWidget* ShpBack;
    QWidget* PnlHead;
    QWidget* PnlSize;
    QLabel* LblSize;
    QWidget* PnlRec;
    QWidget* PnlClose;
    QLabel* BtnClose;
    QMenu* PopSize;
    QAction* PopSize_1;
    QAction* PopSize_2;
    QAction* PopSize_3;
    QAction* PopConfig;
    QAction* PopClose;
    QTimer* TmrColor;
    // Geometry changes come in bursts while the window manager moves or
    // resizes the window; they are written once the burst is over.
    QTimer* FStoreTimer;

    // A Wayland session: the hole is made of transparent pixels and passes
    // clicks through an input shape, and the window is unmanaged, so moves
    // and resizes by the pointer are the program's own.
    const bool FSeeThrough;
    bool FDragging = false;
    Qt::Edges FDragEdges;
    QPointF FDragFrom;
    QRect FDragOuter;
    bool FPositionChecked = false;
    // Shown and checked: from now on moves and resizes are the user's.
    bool FPlaced = false;
    // Where the window was last placed or seen, in physical pixels: Qt's
    // own geometry is rounded to its units at a fractional scale.
    QRect FOuter;
    QColor AreaColor;
    quint8 AreaColor_Percent = 0;
    bool AreaColor_Inc = true;
};
