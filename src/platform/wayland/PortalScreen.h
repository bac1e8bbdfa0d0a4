#pragma once

#include "platform/Screen.h"
#include "platform/wayland/Portal.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// Where one monitor's pixels lie in the desktop portal's screenshot. The
// portal gives the whole Wayland layout as one picture, the X11 root (which
// every window of the program and every capture rectangle uses) is that
// layout in logical pixels: on a scaled output the picture holds more
// pixels than the root.
struct TPicturePlacement
{
    QRect Root;     // the monitor, in root coordinates
    QRectF Picture; // the same area in the screenshot's pixels
};

// The placements of `monitors` (root coordinates) in a screenshot of
// `picture` size that shows the bounding box of all monitors, scaled alike
// (as wlroots' screenshots are: the whole layout at one scale). Empty when
// either is empty.
QList<TPicturePlacement> PlacePortalPicture(const QList<QRect>& monitors, const QSize& picture);

// Copies root rectangle `rect` out of `screenshot` into `target` at (0, 0),
// scaling each monitor's part to root pixels; parts on no monitor are black.
void PaintPortalPicture(const QImage& screenshot, const QList<TPicturePlacement>& placements,
                        const QRect& rect, QImage& target);

// Asks the Screenshot portal for an interactive screenshot: the desktop lets
// the user choose what it shows. nullopt with `cancelled` when the user
// dismissed it, else with `error` saying why there is none.
std::optional<QImage> PickPortalPicture(QString& error, bool& cancelled);

// The screen of a Wayland session seen from XWayland: pixels through the
// Screenshot portal (an X11 grab there shows X11 windows only and black
// elsewhere), the monitors, pointer and cursor through X11. Where the portal
// is missing or refuses, the user is told once and X11's pixels are used.
class TPortalScreen : public TScreen
{
public:
    // `x11` answers what the portal cannot; `tell` shows the user a text
    // (the fallback notice).
    TPortalScreen(std::unique_ptr<TScreen> x11, std::function<void(const QString&)> tell);
    ~TPortalScreen() override;

    QList<QRect> Monitors() const override;
    // Always a fresh screenshot: a capture shows the screen as it was when
    // the user asked.
    bool Grab(const QRect& rect, QImage& target) override;
    QPoint CursorPosition() const override;
    std::optional<TCursorImage> Cursor() const override;
    // From a screenshot at most PixelReuseMs old: the colour picker asks ten
    // times a second, a screenshot takes a round trip to the compositor.
    std::optional<QRgb> Pixel(const QPoint& position) override;

    static constexpr int PixelReuseMs = 1000;
    // GNOME and KDE may ask the user before the first screenshot.
    static constexpr int RequestTimeoutMs = 30000;
    // The user chooses meanwhile.
    static constexpr int PickTimeoutMs = 300000;

private:
    // A new screenshot in Format_RGB32; nullopt when the portal cannot give
    // one (the user has then been told). A call made while a request is
    // under way (from the event loop that waits for it) shares its answer.
    std::optional<QImage> Take();
    void Answered(const TPortalResult& result);
    void GiveUp(const QString& error);

    std::unique_ptr<TScreen> FX11;
    std::function<void(const QString&)> FTell;
    // The request under way, if any.
    QPointer<TPortalRequest> FRequest;
    // The last request's screenshot; FPicture is the last good one.
    std::optional<QImage> FAnswer;
    QImage FPicture;
    QElapsedTimer FPictureAge;
    // The portal is missing: asking again would only cost time.
    bool FUnavailable = false;
    bool FTold = false;
};
