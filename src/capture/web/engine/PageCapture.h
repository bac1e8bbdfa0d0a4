#pragma once

#include <QImage>
#include <chrono>

class QWebEngineView;

// Room the whole-page capture adds to the width of the body for the view's
// border and its vertical scroll bar, and cuts off again afterwards, in CSS
// pixels. The view has no border; the engine's classic scroll bar on Linux
// is 15 pixels wide.
inline constexpr int EdgeWidth = 0;
inline constexpr int ScrollBarWidth = 15;
// Added to the body's width on top of that, and kept in the picture.
inline constexpr int WidthMargin = 6;
// A page measured narrower or lower than this is rendered at the fall-back
// size instead (each dimension on its own).
inline constexpr int MinimumExtent = 100;
inline constexpr int FallbackWidth = 1024;
inline constexpr int FallbackHeight = 768;
// Pages are taken up to this many CSS pixels in each direction (the most a
// JPEG or PNG reader is commonly asked to open); beyond it the picture ends.
inline constexpr int LargestExtent = 65535;

// Renders the whole page that `view` shows into a picture (device pixels,
// Format_RGB32, no cursor); see TWebBrowser::CaptureWholePage.
//
// The page is measured three ways and the largest value wins: the body's
// scroll extent (plus the border and scroll bar room above), the document
// element's, and the document element of every frame of the same origin;
// each measurement is guarded on its own, so a page without a body or with a
// foreign frame is still measured by the others. The view is then taken out
// of its parent's layout and enlarged to the whole page so the engine lays
// out and paints all of it, the picture is taken, the room for border and
// scroll bar is cut off again, and the view gets its place, size and scroll
// position back. A page larger than the graphics system can paint in one
// piece (its OpenGL texture limit, often 8192 or 16384 pixels) is taken in
// pieces of that size, the enlarged view scrolled to each; elements fixed to
// the window then show once per piece. A minimized or hidden window is
// shown while the engine paints and put back afterwards.
//
// A null picture when no page is loaded (no address or "about:blank"), when
// nothing could be measured, or when the engine stops answering for
// `timeout` (a limit per piece). Never throws.
//
// The engine measures and paints asynchronously, so this runs a local event
// loop that leaves user input queued until it returns; callers on the
// user-interface thread get the picture straight back, as a capture of the
// screen would give it.
QImage CaptureWebPage(QWebEngineView& view, std::chrono::milliseconds timeout);
