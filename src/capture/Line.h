#pragma once

#include "platform/Screen.h"
#include "platform/Windows.h"

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>

class QTimer;

// Calls `pixel` for every point of the line from `from` to `to`, the end
// point left out, so segments joined end to start reach every point once.
void LineDDA(const QPoint& from, const QPoint& to, const std::function<void(int, int)>& pixel);

// The window-control picker: a one-pixel dashed black-and-white ring one
// pixel outside the window the next capture of area 4 (the window under the
// pointer) or area 3 (the active window) takes. Purely visual: it lies
// outside the captured pixels, lets every click through and never takes the
// focus, and the capture looks the window up again by itself.
//
// The main window makes it and shows it when the area is chosen, and closes
// it when the area changes; closing deletes it. User-interface thread only.
class TFrmLine : public QWidget
{
    Q_OBJECT
public:
    // `area` tells the capture area selected now; `mainWindow` stands in when
    // the target would be the picker itself. All must outlive the picker.
    TFrmLine(TScreen& screen, TWindows& windows, std::function<int()> area, QWidget* mainWindow);
    ~TFrmLine() override;

    // The window the ring surrounds now; 0 before the first tick found one,
    // and over the bare desktop, where the ring lies on the edge of the
    // monitor the capture then takes.
    TWindowId Target() const { return FTarget; }

    // The ring's rectangle on the screen, physical pixels.
    QRect RingRect() const { return FPhysical; }

    // Ticks since the ring was last painted, 0 ... 10.
    int Delay = 0;

    // The state of the crawling dash pattern, carried from one painting to the next.
    quint8 DashPattern = 0;

    // The ring as last painted, the picker's own pixels: the button face
    // colour until the first painting after a size change.
    const QImage& Ring() const { return FRing; }

    // One tick of the 10 ms timer: follow the target, paint every eleventh.
    void Timer1Timer();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    void PaintRing();
    void ResetRing();
    void DashPixel(int x, int y);

    TScreen& FScreen;
    TWindows& FWindows;
    std::function<int()> FArea;
    QPointer<QWidget> FMainWindow;
    QTimer* Timer1;
    TWindowId FTarget = 0;
    QImage FRing;
    QRect FPhysical;
};
