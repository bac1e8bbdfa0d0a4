#pragma once

// Helpers for the capture windows' tests on the virtual desktop: XTest input
// through xdotool, windows of known pixels, and a window of another program.

#include "platform/Screen.h"
#include "platform/ScreenScale.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <QtTest>

namespace TestDesktop {

inline void Xdotool(const QStringList& arguments)
{
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), arguments), 0);
}

inline void MovePointer(const QPoint& at)
{
    // xdotool's --sync waits for a motion that never comes when the pointer
    // is there already. Qt's cursor position is in its own units, `at`
    // physical: where they agree the pointer may be there, and is moved
    // without waiting.
    if (QCursor::pos() == LogicalFromPhysical(QRect(at, QSize(1, 1))).topLeft()) {
        Xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())});
        return;
    }
    Xdotool({"mousemove", "--sync", QString::number(at.x()), QString::number(at.y())});
}

// An X round trip on the program's own connection, then its events handled:
// whatever the X server did before (input from xdotool, a map, a move) has
// reached the program's widgets.
void Settle();

// Waits until the window manager has handled everything sent to it so far
// (bounded); false when it never answered.
bool WindowManagerRoundTrip();

// Presses the left button at `from`, moves to `to` in a few steps and, with
// `release`, lets go there.
void Drag(const QPoint& from, const QPoint& to, bool release = true);

inline void Click(const QPoint& at, int button = 1)
{
    MovePointer(at);
    Xdotool({"click", QString::number(button)});
}

inline void Key(const QString& keys)
{
    Xdotool({"key", keys});
}

// Every pixel different from its neighbours, so an offset of one shows, with
// a pure white block at (10, 10, 30, 30) for the dimming.
inline QImage Pattern(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7 + y) & 0xFF, (y * 13) & 0xFF, (x ^ (y * 3)) & 0xFF));
    QPainter(&image).fillRect(QRect(10, 10, 30, 30), Qt::white);
    return image;
}

inline constexpr Qt::WindowFlags Unmanaged =
    Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint;
// A plain window of the window manager, without a frame, below top-most ones.
inline constexpr Qt::WindowFlags Managed = Qt::FramelessWindowHint;

// A window at an exact physical place showing `image` one to one, whatever
// Qt's scale; unmanaged (above everything, placed exactly) unless told otherwise.
class TPictureWindow : public QWidget
{
public:
    TPictureWindow(const QRect& geometry, QImage image = QImage(),
                   Qt::WindowFlags flags = Unmanaged)
        : QWidget(nullptr, flags),
          Image(image.isNull() ? Pattern(geometry.size()) : std::move(image))
    {
        SetPhysicalGeometry(this, geometry);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    QImage Image;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        PaintInPhysicalPixels(painter, this);
        painter.drawImage(0, 0, Image);
    }
};

// A managed window with a frame, of one colour with a blue block at (10, 10,
// 20, 20) where its content starts; with a control, also a native button
// (its own X window). Counts the presses that reach the window itself.
class TTarget : public QWidget
{
public:
    enum class TControl
    {
        None,
        Native
    };
    explicit TTarget(const QRect& geometry, QColor colour = QColor(20, 120, 200),
                     TControl control = TControl::None)
        : FColour(colour)
    {
        setWindowTitle(QStringLiteral("capture target"));
        setGeometry(geometry);
        if (control == TControl::Native) {
            Button = new QPushButton(QStringLiteral("control"), this);
            Button->setGeometry(40, 50, 120, 40);
            Button->setAttribute(Qt::WA_NativeWindow);
        }
    }
    QPushButton* Button = nullptr;
    int Presses = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), FColour);
        painter.fillRect(QRect(10, 10, 20, 20), QColor(0, 0, 255));
    }
    void mousePressEvent(QMouseEvent*) override { ++Presses; }

private:
    QColor FColour;
};

// A window of another program (xmessage), managed by the window manager;
// Id is empty when it did not come up.
class TForeignWindow
{
public:
    explicit TForeignWindow(const QPoint& at, const QSize& size = QSize())
    {
        const QString place = QStringLiteral("+%1+%2").arg(at.x()).arg(at.y());
        FProcess.start(QStringLiteral("xmessage"),
                       {"-geometry",
                        size.isEmpty()
                            ? place
                            : QStringLiteral("%1x%2").arg(size.width()).arg(size.height()) + place,
                        "-title", FTitle, "another program"});
        FProcess.waitForStarted();
        // An empty Id tells the test the window never came.
        (void)QTest::qWaitFor(
            [this] {
                QProcess search;
                search.start(QStringLiteral("xdotool"),
                             {"search", "--onlyvisible", "--name", FTitle});
                search.waitForFinished();
                Id = QString::fromLatin1(search.readAllStandardOutput())
                         .split('\n')
                         .value(0)
                         .trimmed();
                return !Id.isEmpty();
            },
            5000);
    }
    ~TForeignWindow()
    {
        FProcess.kill();
        FProcess.waitForFinished();
    }
    void Activate() { Xdotool({"windowactivate", "--sync", Id}); }

    QString Id;

private:
    QString FTitle = QStringLiteral("foreign-%1").arg(QCoreApplication::applicationPid());
    QProcess FProcess;
};

// With VORANTU_TEST_SHOTS naming a folder, saves the whole desktop there as
// <name>.png (only `area` of it when given), for a person to look at what
// the windows draw.
inline void Shot(const QString& name, const QRect& area = QRect())
{
    const QString folder = qEnvironmentVariable("VORANTU_TEST_SHOTS");
    if (folder.isEmpty() || !QGuiApplication::primaryScreen())
        return;
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    QImage shot(desktop.size(), QImage::Format_RGB32);
    shot.fill(Qt::black);
    QPainter painter(&shot);
    for (QScreen* screen : QGuiApplication::screens())
        painter.drawPixmap(screen->geometry().topLeft() - desktop.topLeft(), screen->grabWindow(0));
    painter.end();
    (area.isEmpty() ? shot : shot.copy(area.translated(-desktop.topLeft())))
        .save(folder + '/' + name + ".png");
}

// The scale Qt applies, for the names of screenshots.
inline QString ScaleName()
{
    QStringList factors;
    for (const QScreen* screen : QGuiApplication::screens())
        factors << QString::number(screen->devicePixelRatio());
    return QStringLiteral("at ") + factors.join('+');
}

// The same from the screen's own physical pixels, true at any scale Qt applies.
inline void Shot(TScreen& screen, const QString& name, const QRect& area = QRect(0, 0, 3200, 1080))
{
    const QString folder = qEnvironmentVariable("VORANTU_TEST_SHOTS");
    if (folder.isEmpty())
        return;
    QImage shot(area.size(), QImage::Format_RGB32);
    screen.Grab(area, shot);
    shot.save(folder + '/' + name + ".png");
}

// The root's _NET_ACTIVE_WINDOW as xdotool reads it.
inline quint64 ActiveWindow()
{
    QProcess active;
    active.start(QStringLiteral("xdotool"), {"getactivewindow"});
    active.waitForFinished();
    return active.readAllStandardOutput().trimmed().toULongLong();
}

} // namespace TestDesktop
