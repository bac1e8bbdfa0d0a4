#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <optional>

class QScreen;
class QWidget;

// The display server's requests behind the functions below, chosen once by
// the platform loader (X11 on "xcb", a stand-in that can ask nothing
// elsewhere) so tests can put their own in. Every request may decline with
// nullopt or false; the functions then fall back to what Qt knows. Windows
// are the program's own top-level widgets; rectangles are physical pixels.
class TNativeWindows
{
public:
    // Uninstalls itself when it is the one in use.
    virtual ~TNativeWindows();

    // The client area's origin on the root; nullopt without a native window.
    virtual std::optional<QPoint> Origin(const QWidget* window) = 0;
    // The client area's rectangle on the root; nullopt without a native window.
    virtual std::optional<QRect> Rect(const QWidget* window) = 0;
    // Asks for `window` exactly at `physical`; false when it cannot ask.
    virtual bool Place(QWidget* window, const QRect& physical) = 0;
    // Cuts `window` to `shape` (window-local); false when it cannot.
    virtual bool SetShape(QWidget* window, const QRegion& shape) = 0;
    // Lets pointer input reach `window` only inside `shape` (window-local),
    // leaving what is drawn alone; false when it cannot.
    virtual bool SetInputShape(QWidget*, const QRegion&) { return false; }
    // Keeps (or stops keeping) an unmanaged `window` above every managed
    // window for pointer input; false when it cannot.
    virtual bool KeepAbove(QWidget*, bool) { return false; }
    // What panels and docks keep along the root's edges, one rectangle per
    // strut; nullopt when the platform has no such notion.
    virtual std::optional<QList<QRect>> Struts() = 0;
    // Gives `window` the keyboard focus now: whether it worked, or nullopt
    // when the platform has no such request.
    virtual std::optional<bool> Focus(QWidget* window) = 0;
    virtual bool CompositorRunning() = 0;
};

// The requests the functions below use from now on; nullptr goes back to the
// default, chosen per call from the platform Qt runs on. The platform loader
// installs its own; the caller keeps ownership.
void UseNativeWindows(TNativeWindows* windows);

// What Qt does not say, or says late, about the program's own top-level
// windows. User-interface thread only. On X11 these ask the server; elsewhere
// they answer what can honestly be known without it.

// Where the server has `window`'s client area on the root, in physical
// pixels. nullopt when the window has no native window yet, the server does
// not answer, or the platform has no such request.
std::optional<QPoint> WindowOriginOnScreen(const QWidget* window);

// Qt can keep the position a frameless window had before the window manager
// moved its new frame into place (it asks the server while the frame is still
// at the origin, and no notification follows the frame's move). Called once
// the window shows, this compares the server's answer with Qt's and, when
// they differ, moves the window to where it already is, which makes the
// window manager confirm the real position. Nothing for a hidden window.
void SyncWindowPosition(QWidget* window);

// Puts a shown top-level window exactly on the physical rectangle. Qt
// places windows in its own units, which at a scale of 2 reach only every
// other physical pixel (at 1.5 about two in three); the server is then asked
// for the exact rectangle, and Qt follows what the server reports. Where the
// platform has no such request, or unscaled, Qt's placement is all there is.
void PlaceWindow(QWidget* window, const QRect& physical);

// Where the server has a top-level window's client area, in physical
// pixels; where the platform cannot say (or no native window exists yet),
// Qt's geometry scaled to physical pixels.
QRect WindowRectOnScreen(const QWidget* window);

// Cuts `window` to `shape` (physical pixels from its top-left): what lies
// outside is neither drawn nor clicked. On X11 the shape goes to the server
// exactly; elsewhere, or before a native window exists, Qt's mask in its
// own units stands in (set the shape again once the window shows).
void SetWindowShape(QWidget* window, const QRegion& shape);

// Lets the pointer reach `window` only inside `shape` (physical pixels from
// its top-left); outside it clicks go to whatever lies below, while what is
// drawn stays as painted. For a translucent window whose see-through parts
// must also pass clicks. False where the platform cannot (nothing changes).
bool SetWindowInputShape(QWidget* window, const QRegion& shape);

// Keeps a shown, unmanaged (BypassWindowManagerHint) top-level window above
// the window manager's windows in the server's stacking order, which decides
// who gets the pointer, until called with `keep` false (before the window
// is destroyed). Some window managers raise the focused window over every
// other, unmanaged ones too, although the compositor still draws those on
// top. Nothing where the platform cannot.
void KeepWindowAbove(QWidget* window, bool keep);

// The work area of `screen` in Qt's units: the screen less what panels and
// docks keep along its edges. Qt reads the window manager's one work area
// only while there is a single monitor, so on X11 the panels' struts are read
// here for each monitor; elsewhere Qt's available geometry. A panel that
// would leave less than half of the screen is taken for no panel there.
QRect WorkArea(const QScreen* screen);

// Gives `window` the keyboard focus directly, for a window the window manager
// does not manage, and with the current server time rather than the time of
// the last event Qt saw. False when it could not: on X11 when the window is
// not viewable. Where the platform has no such request, Qt is asked to
// activate the window and the answer is whether it is visible.
bool FocusWindow(QWidget* window);

// True when a compositing manager runs on the screen Qt uses (someone owns
// its _NET_WM_CM_S<n> selection); false when none does, or the platform has
// no such selection.
bool CompositorRunning();
