#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRegion>

class QPainter;
class QScreen;
class QWidget;

// Screen captures, stored geometry and window placement are in physical
// screen pixels; Qt places, measures and paints widgets in its own units,
// which differ from physical pixels wherever it scales (Xft.dpi,
// QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS). On each screen Qt keeps the
// screen's top-left corner as it is and divides distances from it by the
// screen's device pixel ratio; a window counts on the screen that holds the
// centre of its physical rectangle, as Qt's own platform layer decides.
// Without scaling every function here is the identity.

// The screen a physical rectangle belongs to: the one holding its centre,
// else the one it overlaps most, else the primary. Null without screens.
QScreen* ScreenOfPhysical(const QRect& physical);

// The Qt geometry that puts a top-level window on the physical rectangle.
// Exact for any whole ratio; with a fractional one Qt can only reach every
// other physical pixel or so, and the nearest is taken.
QRect LogicalFromPhysical(const QRect& physical);

// The physical rectangle of a top-level window's client area (its Qt
// geometry scaled on its screen).
QRect PhysicalGeometry(const QWidget* window);

// Places a top-level window on the physical rectangle (see LogicalFromPhysical).
void SetPhysicalGeometry(QWidget* window, const QRect& physical);

// The window-local physical pixel under a position in the widget's units
// (a mouse event's position()), rounded to the nearest.
QPoint PhysicalFromLocal(const QWidget* widget, const QPointF& local);

// The smallest part of `widget` in its own units that covers the physical
// pixels of `physical` (window-local), and the physical pixels a region in
// the widget's units touches: for updates and paint events.
QRegion LocalFromPhysical(const QWidget* widget, const QRegion& physical);
QRegion PhysicalFromLocal(const QWidget* widget, const QRegion& local);

// Makes `painter` (on `widget`) draw in the window's physical pixels, so a
// picture drawn at a whole position lands 1:1 on the screen, never scaled.
void PaintInPhysicalPixels(QPainter& painter, const QWidget* widget);

// A length given at 96 DPI (a border, a ring, a header) in physical pixels
// on the widget's screen: scaled by the screen's whole scale, rounded half
// away from zero, at least 1 for any positive length.
int PhysicalLength(const QWidget* widget, int at96);
