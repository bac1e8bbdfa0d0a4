#pragma once

#include "platform/GlobalHotKey.h"
#include "platform/NativeWindow.h"
#include "platform/Screen.h"
#include "platform/Sound.h"
#include "platform/Windows.h"

// Stand-ins where no desktop is reachable (offscreen tests, unsupported
// platforms): one 1920x1080 monitor showing a fixed pattern, no windows, a
// hot key that is never pressed unless a test presses it, no sound.

class TNullScreen : public TScreen
{
public:
    // The colour every position shows: red = x, green = y, blue = x ^ y
    // (each modulo 256).
    static QRgb PatternAt(const QPoint& position);

    // Where the pretend pointer is; tests move it.
    QPoint FCursorPosition{960, 540};

    QList<QRect> Monitors() const override;
    bool Grab(const QRect& rect, QImage& target) override;
    QPoint CursorPosition() const override { return FCursorPosition; }
    // No pointer shape can be known without a display.
    std::optional<TCursorImage> Cursor() const override { return std::nullopt; }
    std::optional<QRgb> Pixel(const QPoint& position) override;
};

class TNullWindows : public TWindows
{
public:
    TWindowId ActiveWindow() override { return 0; }
    TWindowId WindowAt(const QPoint&) override { return 0; }
    std::optional<QRect> VisibleFrame(TWindowId) override { return std::nullopt; }
};

class TNullGlobalHotKey : public TGlobalHotKey
{
    Q_OBJECT
public:
    using TGlobalHotKey::TGlobalHotKey;

    // Accepts every key the stored format maps, as a desktop with the key free would.
    bool Register(quint16 code) override;
    void Unregister() override { FCode = 0; }

    // The registered code, 0 when none.
    quint16 Code() const { return FCode; }
    // What a press of the registered key does; nothing when none is registered.
    void Press();

private:
    quint16 FCode = 0;
};

class TNullSound : public TSound
{
public:
    void Play() override { ++FPlayed; }
    int FPlayed = 0;
};

// No server to ask: every request declines, so Qt's own answers stand.
class TNullNativeWindows : public TNativeWindows
{
public:
    std::optional<QPoint> Origin(const QWidget*) override { return std::nullopt; }
    std::optional<QRect> Rect(const QWidget*) override { return std::nullopt; }
    bool Place(QWidget*, const QRect&) override { return false; }
    bool SetShape(QWidget*, const QRegion&) override { return false; }
    std::optional<QList<QRect>> Struts() override { return std::nullopt; }
    std::optional<bool> Focus(QWidget*) override { return std::nullopt; }
    bool CompositorRunning() override { return false; }
};
