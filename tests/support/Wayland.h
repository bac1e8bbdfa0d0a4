#pragma once

// Helpers for tests on the Wayland desktop (scripts/desktop with
// VORANTU_TEST_WM=sway): what the compositor shows, read back with grim;
// known pictures put on screen as the output's background; pointer and keys
// on the compositor's seat. The program under test keeps its windows on
// XWayland; these reach what only the compositor sees.

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

namespace TestWayland {

// The output the desktop has (HEADLESS-1) and its place in the layout.
QString OutputName();
QRect OutputGeometry();

// The compositor's picture of the whole layout, or of `area` of it, as
// RGB32; null (with a warning saying why) when grim failed.
QImage Grab(const QRect& area = QRect());

// swaymsg with the desktop's socket; true when every command succeeded.
bool SwayMsg(const QStringList& arguments);

// Pointer and keys on the compositor's seat (no input devices are needed).
bool MovePointer(const QPoint& at);
bool Press(int button = 1);
bool Release(int button = 1);
bool Click(const QPoint& at, int button = 1);
// One key by its name (wtype -k: "Print", "Escape", "Return").
bool Key(const QString& name);

// Shows a picture of the output's size as the output's background (swaybg)
// for as long as the object lives; Shown() once grim reads it back exactly,
// which the constructor waits for (bounded).
class TBackground
{
public:
    explicit TBackground(const QImage& picture);
    ~TBackground();
    TBackground(const TBackground&) = delete;
    TBackground& operator=(const TBackground&) = delete;

    bool Shown() const { return FShown; }
    // Why it is not shown.
    QString Error() const { return FError; }

private:
    QProcess FProcess;
    QString FFile;
    bool FShown = false;
    QString FError;
};

// Number of pixels that differ between two pictures of the same size (all
// of them when the sizes differ), comparing RGB only.
qint64 DifferentPixels(const QImage& a, const QImage& b);

} // namespace TestWayland
