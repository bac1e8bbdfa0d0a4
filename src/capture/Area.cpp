#include "capture/Area.h"

#include "capture/Size.h"
#include "platform/NativeWindow.h"
#include "platform/ScreenScale.h"
#include "platform/Session.h"
#include "services/Config.h"
#include "services/Translate.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cmath>

namespace {

// Rounds like the platform's MulDiv: half away from zero.
int MulDiv(int number, int numerator, int denominator)
{
    const qint64 product = qint64(number) * numerator;
    const qint64 half = denominator / 2;
    return int(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

// The border: a one-pixel outline in the pen colour around a fill in the
// brush colour. Only its 6-pixel margin shows; the rest is the hole.
class TShape : public QWidget
{
public:
    explicit TShape(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    QColor Pen = Qt::red;
    QColor Brush = Qt::red;
    // Where the window is see-through, the hole in these coordinates: it is
    // painted fully transparent instead of being cut away.
    QRegion Hole;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Pen);
        painter.fillRect(rect().adjusted(1, 1, -1, -1), Brush);
        if (!Hole.isEmpty()) {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            for (const QRect& part : Hole)
                painter.fillRect(part, Qt::transparent);
        }
    }
};

QWidget* NewPanel(QWidget* parent, const char* name)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(QLatin1String(name));
    return panel;
}

} // namespace

namespace {

Qt::WindowFlags AreaWindowFlags(bool seeThrough)
{
    const Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    // A compositor that tiles or centres managed X11 windows (sway centres
    // even floating ones at every resize) would put the hole elsewhere than
    // the program says; unmanaged, the window lies where it is put.
    return seeThrough ? flags | Qt::BypassWindowManagerHint : flags;
}

} // namespace

TFrmArea::TFrmArea(TFrmSize& size, TAreaOwner& owner)
    : QWidget(nullptr, AreaWindowFlags(IsWaylandSession())), FSize(size), FOwner(owner),
      FSeeThrough(IsWaylandSession())
{
    if (FSeeThrough)
        setAttribute(Qt::WA_TranslucentBackground);
    setObjectName(QStringLiteral("TFrmArea"));
    setWindowTitle(QStringLiteral("영역지정 - Vorantu"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);

    const int header = HeaderHeight();
    QFont font = this->font();
    font.setPixelSize(MulDiv(12, logicalDpiY(), 96));
    setFont(font);
    setMinimumSize(2 * BorderWidth + 2, header + 2 * BorderWidth + 2);

    ShpBack = new TShape(this);
    ShpBack->setObjectName(QStringLiteral("ShpBack"));

    PnlHead = NewPanel(this, "PnlHead");
    PnlHead->setAutoFillBackground(true);
    QPalette head = PnlHead->palette();
    head.setColor(QPalette::Window, QColor(64, 0, 0));
    PnlHead->setPalette(head);

    PnlSize = NewPanel(PnlHead, "PnlSize");
    LblSize = new QLabel(PnlSize);
    LblSize->setObjectName(QStringLiteral("LblSize"));
    QPalette white = LblSize->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    LblSize->setPalette(white);

    PnlRec = NewPanel(PnlHead, "PnlRec");
    LvlRecTime = new QLabel(QStringLiteral("[REC] 00:00:00"), PnlRec);
    LvlRecTime->setObjectName(QStringLiteral("LvlRecTime"));
    LvlRecTime->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette maroon = LvlRecTime->palette();
    maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
    LvlRecTime->setPalette(maroon);

    PnlClose = NewPanel(PnlHead, "PnlClose");
    BtnClose = new QLabel(PnlClose);
    BtnClose->setObjectName(QStringLiteral("BtnClose"));
    BtnClose->setCursor(Qt::PointingHandCursor);
    BtnClose->installEventFilter(this);

    PopSize = new QMenu(this);
    PopSize->setObjectName(QStringLiteral("PopSize"));
    auto addItem = [this](const char* name, const QString& caption) {
        QAction* item = PopSize->addAction(caption);
        item->setObjectName(QLatin1String(name));
        return item;
    };
    PopSize_1 = addItem("PopSize_1", QStringLiteral("320x240"));
    PopSize_2 = addItem("PopSize_2", QStringLiteral("640x480"));
    PopSize_3 = addItem("PopSize_3", QStringLiteral("720x480"));
    PopSize->addSeparator()->setObjectName(QStringLiteral("N1"));
    PopConfig = addItem("PopConfig", QStringLiteral("설정하기"));
    PopClose = addItem("PopClose", QStringLiteral("감추기"));
    connect(PopSize_1, &QAction::triggered, this,
            [this] { SetSize(FSize.PresetWidth(1), FSize.PresetHeight(1), 0); });
    connect(PopSize_2, &QAction::triggered, this,
            [this] { SetSize(FSize.PresetWidth(2), FSize.PresetHeight(2), 0); });
    connect(PopSize_3, &QAction::triggered, this,
            [this] { SetSize(FSize.PresetWidth(3), FSize.PresetHeight(3), 0); });
    connect(PopConfig, &QAction::triggered, this, [this] {
        FSize.show();
        FSize.raise();
        FSize.activateWindow();
    });
    connect(PopClose, &QAction::triggered, this, &QWidget::hide);
    connect(&FSize, &TFrmSize::Apply, this, &TFrmArea::SetSize);

    for (QWidget* part : {PnlHead, PnlSize, static_cast<QWidget*>(LblSize), PnlRec,
                          static_cast<QWidget*>(LvlRecTime), PnlClose})
        part->installEventFilter(this);

    TmrColor = new QTimer(this);
    TmrColor->setObjectName(QStringLiteral("TmrColor"));
    TmrColor->setInterval(100);
    connect(TmrColor, &QTimer::timeout, this, &TFrmArea::TmrColorTimer);

    FStoreTimer = new QTimer(this);
    FStoreTimer->setSingleShot(true);
    FStoreTimer->setInterval(250);
    connect(FStoreTimer, &QTimer::timeout, this, &TFrmArea::StoreGeometry);

    TranslateComponent(this);
    LoadGeometry();
    LoadCloseImage();
    FormResize();
    StoreGeometry();

    AreaColor = QColor(255, 0, 0);
    AreaColor_Percent = 0;
    AreaColor_Inc = true;
    QPalette red = palette();
    red.setColor(QPalette::Window, AreaColor);
    setPalette(red);
    setAutoFillBackground(!FSeeThrough);
}

TFrmArea::~TFrmArea()
{
    if (FSeeThrough)
        KeepWindowAbove(this, false);
    if (FStoreTimer->isActive())
        StoreGeometry();
}

int TFrmArea::HeaderHeight() const
{
    return MulDiv(25, logicalDpiY(), 96);
}

qreal TFrmArea::Ratio() const
{
    // Before the window exists Qt answers the largest ratio of all screens;
    // the window will count on the screen of its rectangle.
    if (const QWindow* window = windowHandle())
        return window->devicePixelRatio();
    const QScreen* screen = ScreenOfPhysical(FOuter);
    return screen ? screen->devicePixelRatio() : 1.0;
}

int TFrmArea::PhysicalBorder() const
{
    return qMax(1, qRound(BorderWidth * Ratio()));
}

int TFrmArea::PhysicalHeader() const
{
    return qMax(1, qRound(HeaderHeight() * Ratio()));
}

QRect TFrmArea::Outer() const
{
    return FOuter;
}

void TFrmArea::FollowWindow()
{
    if (!isVisible())
        return;
    // Until the window has shown, Qt's and the server's positions are both
    // on their way (Qt can even keep the origin): the placement stands, but
    // for a size set through Qt.
    if (!FPlaced) {
        const QSize qt = PhysicalGeometry(this).size();
        const int slack = Ratio() == 1.0 ? 0 : int(std::ceil(Ratio()));
        if (qAbs(qt.width() - FOuter.width()) > slack ||
            qAbs(qt.height() - FOuter.height()) > slack)
            FOuter.setSize(qt);
        return;
    }
    // Qt rounds to its units when it scales, so a change within that
    // rounding is our own placement. Beyond it, the window manager or the
    // user moved or resized the window and the server has the exact
    // rectangle, unless the change is a request of Qt's own that the server
    // has not carried out yet: then Qt's is the nearest there is.
    const QRect qt = PhysicalGeometry(this);
    const qreal ratio = Ratio();
    const int slack = ratio == 1.0 ? 0 : int(std::ceil(ratio));
    const auto near = [slack](const QRect& a, const QRect& b) {
        return qAbs(a.left() - b.left()) <= slack && qAbs(a.top() - b.top()) <= slack &&
               qAbs(a.width() - b.width()) <= slack && qAbs(a.height() - b.height()) <= slack;
    };
    if (near(qt, FOuter))
        return;
    const QRect server = WindowRectOnScreen(this);
    FOuter = near(qt, server) ? server : qt;
}

void TFrmArea::Place(const QRect& wanted)
{
    // The interior never gets smaller than 2 x 2, as the size hint says.
    const int border = PhysicalBorder();
    const QRect outer(wanted.topLeft(), wanted.size().expandedTo(QSize(
                                            2 * border + 2, PhysicalHeader() + 2 * border + 2)));
    FOuter = outer;
    if (isVisible())
        PlaceWindow(this, outer);
    else
        SetPhysicalGeometry(this, outer);
}

QRect TFrmArea::GetRect() const
{
    const QRect outer = Outer();
    const int border = PhysicalBorder();
    const int header = PhysicalHeader();
    return QRect(outer.left() + border, outer.top() + header + border, outer.width() - 2 * border,
                 outer.height() - header - 2 * border);
}

void TFrmArea::SetSize(int width, int height, int sizeNo)
{
    const int border = PhysicalBorder();
    Place(QRect(Outer().topLeft(),
                QSize(width + 2 * border, height + PhysicalHeader() + 2 * border)));
    const QString caption = QStringLiteral("%1x%2").arg(width).arg(height);
    if (sizeNo == 1)
        PopSize_1->setText(caption);
    else if (sizeNo == 2)
        PopSize_2->setText(caption);
    else if (sizeNo == 3)
        PopSize_3->setText(caption);
    if (!isVisible())
        FormResize();
}

void TFrmArea::SetRecTime(const QString& time, bool recording)
{
    LvlRecTime->setText(QStringLiteral("[REC] ") + time);
    LvlRecTime->setStyleSheet(recording
                                  ? QStringLiteral("color: rgb(255, 255, 0); font-weight: bold;")
                                  : QStringLiteral("color: rgb(128, 0, 0); font-weight: normal;"));
}

void TFrmArea::SetMove(int left, int top)
{
    Place(QRect(QPoint(left, top), Outer().size()));
}

QColor TFrmArea::BorderColor() const
{
    return static_cast<TShape*>(ShpBack)->Brush;
}

void TFrmArea::LoadGeometry()
{
    const TConfig config(ProgramConfigPath);
    QRect r;
    r.setLeft(ReadSetting(config, Setting::Left));
    r.setTop(ReadSetting(config, Setting::Top));
    int width = ReadSetting(config, Setting::Width);
    int height = ReadSetting(config, Setting::Height);

    auto caption = [&config](const TSetting<int>& w, const TSetting<int>& h) {
        return QStringLiteral("%1x%2").arg(ReadSetting(config, w)).arg(ReadSetting(config, h));
    };
    PopSize_1->setText(caption(Setting::Width1, Setting::Height1));
    PopSize_2->setText(caption(Setting::Width2, Setting::Height2));
    PopSize_3->setText(caption(Setting::Width3, Setting::Height3));

    // Strictly inside the desktop, with the interior size taken as the
    // extent: a window touching an edge is centred again.
    QRect desktop;
    for (const QScreen* screen : QGuiApplication::screens())
        desktop |= QRect(screen->geometry().topLeft(),
                         screen->geometry().size() * screen->devicePixelRatio());
    const qint64 right = qint64(r.left()) + width;
    const qint64 bottom = qint64(r.top()) + height;
    const bool inside = desktop.left() < r.left() &&
                        desktop.x() + qint64(desktop.width()) > right && desktop.top() < r.top() &&
                        desktop.y() + qint64(desktop.height()) > bottom;
    if (!inside) {
        r.setLeft(Setting::Left.Default());
        r.setTop(Setting::Top.Default());
        width = Setting::Width.Default();
        height = Setting::Height.Default();
    }
    SetMove(r.left(), r.top());
    SetSize(width, height, 0);
}

void TFrmArea::StoreGeometry()
{
    FStoreTimer->stop();
    TConfig config(ProgramConfigPath);
    // Physical pixels, so a change of scale does not move the window.
    const QRect outer = Outer();
    const QRect interior = GetRect();
    WriteSetting(config, Setting::Width, interior.width());
    WriteSetting(config, Setting::Height, interior.height());
    WriteSetting(config, Setting::Left, outer.left());
    WriteSetting(config, Setting::Top, outer.top());
}

void TFrmArea::ScheduleStore()
{
    FStoreTimer->start();
}

void TFrmArea::FormResize()
{
    const QRect interior = GetRect();
    FSize.SetCurrentSize(interior.width(), interior.height());
    LblSize->setText(QStringLiteral("%1x%2").arg(FSize.CurrentWidth()).arg(FSize.CurrentHeight()));
    PnlRec->setVisible(width() > 292);
    PnlClose->setVisible(width() > 112);
    LblSize->setVisible(width() > 64);
    LayoutHeader();

    // The shape is cut in physical pixels, exactly around what GetRect captures.
    const QRect outer = Outer();
    QRegion shape(0, 0, outer.width(), outer.height());
    shape -= QRegion(interior.translated(-outer.topLeft()));
    if (FSeeThrough) {
        auto* back = static_cast<TShape*>(ShpBack);
        back->Hole = LocalFromPhysical(this, interior.translated(-outer.topLeft()))
                         .translated(-ShpBack->pos());
        SetWindowInputShape(this, shape);
    } else {
        SetWindowShape(this, shape);
    }
    update();
    ScheduleStore();
}

void TFrmArea::LayoutHeader()
{
    const int header = HeaderHeight();
    const int panel = MulDiv(80, logicalDpiX(), 96);
    const int inset = MulDiv(6, logicalDpiX(), 96);
    const int top = MulDiv(5, logicalDpiY(), 96);
    const int icon = MulDiv(16, logicalDpiX(), 96);
    ShpBack->setGeometry(0, header, width(), height() - header);
    PnlHead->setGeometry(0, 0, width(), header);
    PnlSize->setGeometry(0, 0, panel, header);
    LblSize->setGeometry(inset, top, panel - inset, header - top);
    const int closeWidth = PnlClose->isVisibleTo(this) ? panel : 0;
    PnlClose->setGeometry(width() - panel, 0, panel, header);
    BtnClose->setGeometry(MulDiv(58, logicalDpiX(), 96), top, icon, icon);
    PnlRec->setGeometry(panel, 0, qMax(0, width() - panel - closeWidth), header);
    LvlRecTime->setGeometry(inset, top, PnlRec->width(), header - top);
}

void TFrmArea::LoadCloseImage()
{
    // A white cross on the header's colour, drawn at the pixel size the
    // screen needs: 16 at 96 DPI, 24, 32 or 48 above.
    const qreal ratio = devicePixelRatioF() * logicalDpiX() / 96.0;
    int pixels = 16;
    for (const int candidate : {24, 32, 48}) {
        if (16 * ratio >= candidate - 4)
            pixels = candidate;
    }
    QPixmap image(pixels, pixels);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, pixels / 8.0, Qt::SolidLine, Qt::RoundCap));
        const qreal margin = pixels * 0.25;
        painter.drawLine(QPointF(margin, margin), QPointF(pixels - margin, pixels - margin));
        painter.drawLine(QPointF(pixels - margin, margin), QPointF(margin, pixels - margin));
        painter.setPen(QPen(Qt::white, pixels / 16.0));
        painter.drawRoundedRect(QRectF(0.5, 0.5, pixels - 1, pixels - 1), pixels / 6.0,
                                pixels / 6.0);
    }
    image.setDevicePixelRatio(pixels / (16.0 * logicalDpiX() / 96.0));
    BtnClose->setPixmap(image);
}

void TFrmArea::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FollowWindow();
    FormResize();
}

void TFrmArea::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    FollowWindow();
    ScheduleStore();
}

void TFrmArea::showEvent(QShowEvent* event)
{
    // Qt's geometry is rounded to its units at a fractional scale; the
    // server gets the exact rectangle, and the shape to match it.
    const QRect outer = FOuter;
    FPositionChecked = false;
    FPlaced = false;
    QWidget::showEvent(event);
    PlaceWindow(this, outer);
    FOuter = outer;
    FormResize();
    windowHandle()->removeEventFilter(this);
    windowHandle()->installEventFilter(this);
    TmrColor->start();
    FPositionChecked = false;
    if (FSeeThrough)
        KeepWindowAbove(this, true);
}

void TFrmArea::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    TmrColor->stop();
    if (FSeeThrough)
        KeepWindowAbove(this, false);
}

void TFrmArea::closeEvent(QCloseEvent* event)
{
    // Alt+F4 and the window manager's close do not close the region window:
    // only the program does (the close button, the area selector).
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    if (FOwner.IsRecording())
        FOwner.RecordStop();
    StoreGeometry();
    event->accept();
}

void TFrmArea::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int key = event->key();
    if (key == Qt::Key_F4 && (modifiers & Qt::AltModifier)) {
        event->accept();
        return;
    }
    int dx = 0;
    int dy = 0;
    switch (key) {
    case Qt::Key_Up:
        dy = -1;
        break;
    case Qt::Key_Down:
        dy = 1;
        break;
    case Qt::Key_Left:
        dx = -1;
        break;
    case Qt::Key_Right:
        dx = 1;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    // One physical pixel a press, whatever the scale.
    const QRect outer = Outer();
    const int step = (modifiers & Qt::ControlModifier) && !(modifiers & Qt::ShiftModifier) ? 10 : 1;
    if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier)) {
        const QRect interior = GetRect();
        const QSize size(qMax(2, interior.width() + step * dx),
                         qMax(2, interior.height() + step * dy));
        Place(QRect(outer.topLeft(), outer.size() + size - interior.size()));
    } else {
        Place(outer.translated(dx, dy));
    }
}

Qt::Edges TFrmArea::BorderEdges(const QPoint& position, bool* caption) const
{
    *caption = false;
    const int x = position.x();
    const int y = position.y();
    const int w = width();
    const int h = height();
    const int t = HeaderHeight() + BorderWidth;
    Qt::Edges edges;
    if (x < BorderWidth)
        edges |= Qt::LeftEdge;
    else if (x > w - BorderWidth)
        edges |= Qt::RightEdge;
    if (y < t)
        edges |= Qt::TopEdge;
    else if (y > h - BorderWidth)
        edges |= Qt::BottomEdge;
    *caption = edges == Qt::Edges();
    return edges;
}

void TFrmArea::StartDrag(Qt::Edges edges, const QPointF& global)
{
    if (!FSeeThrough) {
        if (edges == Qt::Edges())
            windowHandle()->startSystemMove();
        else
            windowHandle()->startSystemResize(edges);
        return;
    }
    // No window manager moves an unmanaged window, nor gives it the
    // keyboard for the arrow keys: the program does both itself.
    FocusWindow(this);
    FDragging = true;
    FDragEdges = edges;
    FDragFrom = global;
    FDragOuter = Outer();
    grabMouse();
}

void TFrmArea::DragTo(const QPointF& global)
{
    const QPointF delta = (global - FDragFrom) * Ratio();
    const int dx = qRound(delta.x());
    const int dy = qRound(delta.y());
    if (FDragEdges == Qt::Edges()) {
        Place(FDragOuter.translated(dx, dy));
        return;
    }
    // The edges opposite the dragged ones stay put, also at the smallest size.
    const int border = PhysicalBorder();
    const int minWidth = 2 * border + 2;
    const int minHeight = PhysicalHeader() + 2 * border + 2;
    QRect outer = FDragOuter;
    if (FDragEdges & Qt::LeftEdge)
        outer.setLeft(qMin(outer.left() + dx, outer.right() + 1 - minWidth));
    if (FDragEdges & Qt::RightEdge)
        outer.setRight(qMax(outer.right() + dx, outer.left() + minWidth - 1));
    if (FDragEdges & Qt::TopEdge)
        outer.setTop(qMin(outer.top() + dy, outer.bottom() + 1 - minHeight));
    if (FDragEdges & Qt::BottomEdge)
        outer.setBottom(qMax(outer.bottom() + dy, outer.top() + minHeight - 1));
    Place(outer);
}

void TFrmArea::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || FOwner.IsRecording() || !windowHandle())
        return;
    bool caption = false;
    const Qt::Edges edges = BorderEdges(event->position().toPoint(), &caption);
    StartDrag(caption ? Qt::Edges() : edges, event->globalPosition());
}

void TFrmArea::mouseReleaseEvent(QMouseEvent* event)
{
    if (FDragging && event->button() == Qt::LeftButton) {
        FDragging = false;
        releaseMouse();
        ScheduleStore();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TFrmArea::mouseMoveEvent(QMouseEvent* event)
{
    if (FDragging) {
        DragTo(event->globalPosition());
        return;
    }
    if (FOwner.IsRecording()) {
        unsetCursor();
        return;
    }
    bool caption = false;
    const Qt::Edges edges = BorderEdges(event->position().toPoint(), &caption);
    const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
    const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
    if (horizontal && vertical) {
        const bool falling =
            edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge);
        setCursor(falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
    } else if (horizontal) {
        setCursor(Qt::SizeHorCursor);
    } else if (vertical) {
        setCursor(Qt::SizeVerCursor);
    } else {
        unsetCursor();
    }
}

bool TFrmArea::eventFilter(QObject* watched, QEvent* event)
{
    // The first exposure comes after the window manager has placed the
    // window. (The widget itself never paints: its parts cover it.)
    if (watched == windowHandle()) {
        if (event->type() == QEvent::Expose && !FPositionChecked && isVisible()) {
            FPositionChecked = true;
            QTimer::singleShot(0, this, [this] {
                // Moves and resizes asked for meanwhile count, not those
                // reported on the way.
                const QRect outer = FOuter;
                SyncWindowPosition(this);
                // Qt maps the window at its own rounded geometry; once it
                // shows, the server takes the exact one.
                if (WindowRectOnScreen(this) != outer)
                    Place(outer);
                FPlaced = true;
                FormResize();
            });
        }
        return false;
    }
    if (watched == BtnClose) {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
            BtnClose->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
            BtnCloseClick();
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        // The header always drags the window, also while recording.
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && windowHandle()) {
            StartDrag(Qt::Edges(), mouse->globalPosition());
            return true;
        }
    } else if (event->type() == QEvent::ContextMenu) {
        PopSize->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool TFrmArea::event(QEvent* event)
{
    if (event->type() == QEvent::ScreenChangeInternal) {
        const bool result = QWidget::event(event);
        LoadCloseImage();
        LayoutHeader();
        return result;
    }
    return QWidget::event(event);
}

void TFrmArea::TmrColorTimer()
{
    auto darken = [this](int c) {
        return c - MulDiv(c, AreaColor_Percent, 100);
    };
    auto* shape = static_cast<TShape*>(ShpBack);
    shape->Brush =
        QColor(darken(AreaColor.red()), darken(AreaColor.green()), darken(AreaColor.blue()));
    shape->update();
    if (AreaColor_Percent > 40)
        AreaColor_Inc = false;
    if (AreaColor_Percent == 0)
        AreaColor_Inc = true;
    AreaColor_Percent = quint8(AreaColor_Inc ? AreaColor_Percent + 5 : AreaColor_Percent - 5);
}

void TFrmArea::BtnCloseClick()
{
    FOwner.AreaClosed();
    close();
}
