#include "editor/Editor.h"

#include "services/MessageBox.h"
#include "services/Translate.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>

namespace {

constexpr qreal MinZoom = 0.05;
constexpr qreal MaxZoom = 16;

// The canvas's reach for a click on a thin stroke, in screen pixels.
constexpr qreal PickSlack = 4;

bool IsBoxTool(TTool tool)
{
    switch (tool) {
    case TTool::Rectangle:
    case TTool::Ellipse:
    case TTool::Line:
    case TTool::Arrow:
    case TTool::Pixelate:
    case TTool::Blur:
    case TTool::Crop:
        return true;
    default:
        return false;
    }
}

} // namespace

TEditorCanvas::TEditorCanvas(const QImage& picture, QWidget* parent)
    : QWidget(parent), FPicture(::Flatten(picture, {})), FCrop(FPicture.rect())
{
    setObjectName(QStringLiteral("Canvas"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    FComposite = FPicture;
    UpdateSize();
}

QImage TEditorCanvas::Flatten() const
{
    return ::Flatten(FPicture, FShapes, FCrop == FPicture.rect() ? QRect() : FCrop);
}

bool TEditorCanvas::Modified() const
{
    return !FShapes.empty() || FCrop != FPicture.rect();
}

qreal TEditorCanvas::Scale() const
{
    // Logical canvas units per picture pixel: at zoom 1 one picture pixel is
    // one physical pixel of the screen, whatever its scale factor.
    return FZoom / devicePixelRatioF();
}

QPointF TEditorCanvas::GridOffset(const QPointF& origin)
{
    // Where the widget starts between two physical pixels (at fractional
    // scales), the picture starts on the nearest one, so no pixel of it is
    // ever resampled.
    return QPointF(std::round(origin.x()) - origin.x(), std::round(origin.y()) - origin.y());
}

QPointF TEditorCanvas::Offset() const
{
    return GridOffset(mapTo(window(), QPointF(0, 0)) * devicePixelRatioF());
}

void TEditorCanvas::UpdateSize()
{
    FDpr = devicePixelRatioF();
    // Room for the shift onto whole physical pixels where the scale is fractional.
    const qreal spare = std::floor(FDpr) == FDpr ? 0 : 1;
    setFixedSize(qMax(1, int(std::ceil((FCrop.width() * FZoom + spare) / FDpr))),
                 qMax(1, int(std::ceil((FCrop.height() * FZoom + spare) / FDpr))));
    update();
}

QPointF TEditorCanvas::ToPicture(const QPointF& at) const
{
    return ToPicture(at, Offset());
}

QPointF TEditorCanvas::ToCanvas(const QPointF& at) const
{
    return ToCanvas(at, Offset());
}

QPointF TEditorCanvas::ToPicture(const QPointF& at, const QPointF& offset) const
{
    return (at * devicePixelRatioF() - offset) / FZoom + QPointF(FCrop.topLeft());
}

QPointF TEditorCanvas::ToCanvas(const QPointF& at, const QPointF& offset) const
{
    return ((at - QPointF(FCrop.topLeft())) * FZoom + offset) / devicePixelRatioF();
}

void TEditorCanvas::SetZoom(qreal zoom)
{
    zoom = qBound(MinZoom, zoom, MaxZoom);
    if (qFuzzyCompare(zoom, FZoom))
        return;
    FinishInput();
    FZoom = zoom;
    UpdateSize();
    emit ZoomChanged();
}

void TEditorCanvas::SetTool(TTool tool)
{
    FinishInput();
    FTool = tool;
    if (tool != TTool::Select && FSelected >= 0) {
        const QRect was = FShapes[size_t(FSelected)].Bounds();
        FSelected = -1;
        UpdatePicture(was);
    }
    setCursor(tool == TTool::Select ? Qt::ArrowCursor
                                    : (tool == TTool::Text ? Qt::IBeamCursor : Qt::CrossCursor));
    emit Changed();
}

void TEditorCanvas::Restyle(const std::function<void(TShape&)>& change)
{
    if (FSelected < 0 || FDraft)
        return;
    std::vector<TShape> shapes = FShapes;
    change(shapes[size_t(FSelected)]);
    Commit(std::move(shapes), FCrop);
}

void TEditorCanvas::SetColor(const QColor& color)
{
    FColor = color;
    if (FTextEdit)
        FTextEdit->setStyleSheet(QStringLiteral("QLineEdit{background:transparent;border:1px "
                                                "dashed gray;color:%1}")
                                     .arg(color.name()));
    Restyle([&](TShape& shape) { shape.Color = color; });
}

void TEditorCanvas::SetWidth(int width)
{
    FWidth = width;
    Restyle([&](TShape& shape) { shape.Width = width; });
}

void TEditorCanvas::SetFontSize(int size)
{
    FFontSize = size;
    Restyle([&](TShape& shape) {
        if (shape.Kind == TTool::Text || shape.Kind == TTool::Step)
            shape.FontSize = size;
    });
}

void TEditorCanvas::Commit(std::vector<TShape> shapes, QRect crop)
{
    FUndo.push_back({FShapes, FCrop});
    FRedo.clear();
    Restore({std::move(shapes), crop});
}

void TEditorCanvas::Restore(const TState& state)
{
    const bool cropped = state.Crop != FCrop;
    FShapes = state.Shapes;
    FCrop = state.Crop;
    FDraft.reset();
    FMoving = false;
    if (FSelected >= int(FShapes.size()))
        FSelected = -1;
    RebuildComposite();
    if (cropped)
        UpdateSize();
    update();
    emit Changed();
}

void TEditorCanvas::Undo()
{
    FinishInput();
    if (FUndo.empty())
        return;
    FRedo.push_back({FShapes, FCrop});
    const TState state = std::move(FUndo.back());
    FUndo.pop_back();
    FSelected = -1;
    Restore(state);
}

void TEditorCanvas::Redo()
{
    FinishInput();
    if (FRedo.empty())
        return;
    FUndo.push_back({FShapes, FCrop});
    const TState state = std::move(FRedo.back());
    FRedo.pop_back();
    FSelected = -1;
    Restore(state);
}

void TEditorCanvas::DeleteSelected()
{
    if (FSelected < 0 || FDraft)
        return;
    std::vector<TShape> shapes = FShapes;
    shapes.erase(shapes.begin() + FSelected);
    FSelected = -1;
    Commit(std::move(shapes), FCrop);
}

void TEditorCanvas::MoveSelected(const QPointF& delta)
{
    if (FSelected < 0 || FDraft)
        return;
    std::vector<TShape> shapes = FShapes;
    shapes[size_t(FSelected)].Move(delta);
    Commit(std::move(shapes), FCrop);
}

void TEditorCanvas::RebuildComposite(int excluded)
{
    FExcluded = excluded;
    if (FShapes.empty() || (excluded >= 0 && FShapes.size() == 1)) {
        FComposite = FPicture;
        return;
    }
    std::vector<TShape> shapes = FShapes;
    if (excluded >= 0)
        shapes.erase(shapes.begin() + excluded);
    FComposite = ::Flatten(FPicture, shapes);
}

void TEditorCanvas::UpdatePicture(const QRect& pictureRect)
{
    if (FDraft && FDraft->Kind == TTool::Crop) {
        // The shade covers everything outside the new crop.
        update();
        return;
    }
    if (pictureRect.isEmpty())
        return;
    const QRectF on(ToCanvas(pictureRect.topLeft()),
                    ToCanvas(pictureRect.bottomRight() + QPoint(1, 1)));
    // A little extra for the dashed selection frame drawn outside the bounds.
    update(on.toAlignedRect().adjusted(-3, -3, 3, 3));
}

QPointF TEditorCanvas::Clamp(const QPointF& at) const
{
    return QPointF(qBound<qreal>(FCrop.left(), at.x(), FCrop.right() + 1),
                   qBound<qreal>(FCrop.top(), at.y(), FCrop.bottom() + 1));
}

int TEditorCanvas::ShapeAt(const QPointF& at) const
{
    const qreal slack = PickSlack / FZoom;
    for (int i = int(FShapes.size()) - 1; i >= 0; --i) {
        if (FShapes[size_t(i)].Hit(at, slack))
            return i;
    }
    return -1;
}

TShape TEditorCanvas::NewShape(TTool kind, const QPointF& at) const
{
    TShape shape;
    shape.Kind = kind;
    shape.Color = FColor;
    shape.Width = FWidth;
    shape.FontSize = FFontSize;
    shape.Points = {at};
    if (IsBoxTool(kind))
        shape.Points.append(at);
    return shape;
}

void TEditorCanvas::paintEvent(QPaintEvent* event)
{
    if (!qFuzzyCompare(FDpr, devicePixelRatioF())) {
        // Moved to a screen of another scale: the picture keeps its physical size.
        FDpr = devicePixelRatioF();
        QMetaObject::invokeMethod(
            this, [this] { UpdateSize(); }, Qt::QueuedConnection);
    }
    QPainter painter(this);
    const QRect exposed = event->rect();
    const qreal dpr = devicePixelRatioF();
    // From the device this paint goes to (the window, or a grab).
    const QTransform device = painter.deviceTransform();
    const QPointF offset = GridOffset(QPointF(device.dx(), device.dy()));
    if (!offset.isNull())
        painter.fillRect(exposed, palette().dark());
    // Only the exposed part of the picture is drawn: at 4K a drag repaints a
    // few hundred pixels, not the whole picture.
    const QRect source = QRectF(ToPicture(exposed.topLeft(), offset),
                                ToPicture(exposed.bottomRight() + QPoint(1, 1), offset))
                             .toAlignedRect()
                             .adjusted(-1, -1, 1, 1) &
                         FCrop;
    painter.save();
    painter.scale(1 / dpr, 1 / dpr);
    painter.translate(offset);
    painter.scale(FZoom, FZoom);
    painter.translate(-QPointF(FCrop.topLeft()));
    if (FZoom < 1)
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(source.topLeft(), FComposite, source);
    if (FDraft && FDraft->Kind != TTool::Crop) {
        if (FDraft->IsFilter()) {
            const QRect area = FDraft->Bounds() & source;
            if (!area.isEmpty()) {
                // The preview hides the pixels as the output will.
                QImage patch = FComposite.copy(FDraft->Bounds() & FComposite.rect());
                ApplyFilter(patch, *FDraft, (FDraft->Bounds() & FComposite.rect()).topLeft());
                painter.drawImage(
                    area.topLeft(), patch,
                    area.translated(-(FDraft->Bounds() & FComposite.rect()).topLeft()));
            }
        } else {
            painter.setClipRect(source);
            PaintShape(painter, *FDraft);
        }
    }
    painter.restore();

    auto frame = [&](const QRect& pictureRect) {
        const QRectF r(ToCanvas(pictureRect.topLeft()),
                       ToCanvas(pictureRect.bottomRight() + QPoint(1, 1)));
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(r.adjusted(-1, -1, 0, 0));
        painter.setPen(QPen(QColor(0, 120, 215), 1, Qt::DashLine));
        painter.drawRect(r.adjusted(-1, -1, 0, 0));
    };
    if (FDraft && FDraft->Kind == TTool::Crop) {
        const QRect bounds = FDraft->Bounds();
        const QRectF keep(ToCanvas(bounds.topLeft()),
                          ToCanvas(bounds.bottomRight() + QPoint(1, 1)));
        QPainterPath outside;
        outside.addRect(rect());
        outside.addRect(keep);
        painter.fillPath(outside, QColor(0, 0, 0, 120));
        frame(FDraft->Bounds());
    } else if (FSelected >= 0) {
        frame(FDraft ? FDraft->Bounds() : FShapes[size_t(FSelected)].Bounds());
    }
}

void TEditorCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    const QPointF at = Clamp(ToPicture(event->position()));
    FPressAt = at;
    if (FTextEdit) {
        CommitText();
        return;
    }
    switch (FTool) {
    case TTool::Select: {
        const int hit = ShapeAt(at);
        const QRect was = FSelected >= 0 ? FShapes[size_t(FSelected)].Bounds() : QRect();
        FSelected = hit;
        UpdatePicture(was);
        if (hit >= 0) {
            FMoving = true;
            UpdatePicture(FShapes[size_t(hit)].Bounds());
        }
        emit Changed();
        break;
    }
    case TTool::Text:
        OpenText(at, -1);
        break;
    case TTool::Step: {
        TShape shape = NewShape(TTool::Step, at);
        int number = 0;
        for (const TShape& other : FShapes) {
            if (other.Kind == TTool::Step)
                number = qMax(number, other.Number);
        }
        shape.Number = number + 1;
        std::vector<TShape> shapes = FShapes;
        shapes.push_back(shape);
        Commit(std::move(shapes), FCrop);
        break;
    }
    default:
        FDraft = NewShape(FTool, at);
        UpdatePicture(FDraft->Bounds());
        break;
    }
}

void TEditorCanvas::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPointF at = Clamp(ToPicture(event->position()));
    if (FMoving && FSelected >= 0) {
        if (!FDraft) {
            if (QLineF(at, FPressAt).length() * FZoom < 2)
                return;
            // The dragged shape leaves the cached picture once, so each move
            // only redraws the strip it passes over.
            RebuildComposite(FSelected);
            FDraft = FShapes[size_t(FSelected)];
        }
        const QRect was = FDraft->Bounds();
        FDraft = FShapes[size_t(FSelected)];
        FDraft->Move(at - FPressAt);
        UpdatePicture(was | FDraft->Bounds());
        return;
    }
    if (!FDraft)
        return;
    const QRect was = FDraft->Bounds();
    if (FDraft->Kind == TTool::Pen || FDraft->Kind == TTool::Highlighter) {
        if (FDraft->Points.constLast() != at)
            FDraft->Points.append(at);
    } else {
        FDraft->Points[1] = at;
    }
    UpdatePicture(was | FDraft->Bounds());
}

void TEditorCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (FMoving) {
        FMoving = false;
        if (FDraft && FSelected >= 0) {
            std::vector<TShape> shapes = FShapes;
            shapes[size_t(FSelected)] = *FDraft;
            FDraft.reset();
            Commit(std::move(shapes), FCrop);
        }
        return;
    }
    if (!FDraft)
        return;
    TShape shape = std::move(*FDraft);
    FDraft.reset();
    UpdatePicture(shape.Bounds());
    if (shape.Kind == TTool::Crop)
        update();
    if (shape.Degenerate())
        return;
    if (shape.Kind == TTool::Crop) {
        const QRect crop = shape.Bounds() & FCrop;
        if (crop != FCrop)
            Commit(FShapes, crop);
        return;
    }
    std::vector<TShape> shapes = FShapes;
    shapes.push_back(std::move(shape));
    Commit(std::move(shapes), FCrop);
}

void TEditorCanvas::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || FTool != TTool::Select)
        return;
    const int hit = ShapeAt(ToPicture(event->position()));
    if (hit >= 0 && FShapes[size_t(hit)].Kind == TTool::Text)
        OpenText(FShapes[size_t(hit)].Points.value(0), hit);
}

void TEditorCanvas::keyPressEvent(QKeyEvent* event)
{
    const qreal step = (event->modifiers() & Qt::ShiftModifier) ? 10 : 1;
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        DeleteSelected();
        break;
    case Qt::Key_Left:
        MoveSelected({-step, 0});
        break;
    case Qt::Key_Right:
        MoveSelected({step, 0});
        break;
    case Qt::Key_Up:
        MoveSelected({0, -step});
        break;
    case Qt::Key_Down:
        MoveSelected({0, step});
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TEditorCanvas::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        event->ignore();
        return;
    }
    const int delta = event->angleDelta().y();
    if (delta != 0)
        emit ZoomRequested(std::pow(1.25, delta / 120.0), event->position());
    event->accept();
}

void TEditorCanvas::OpenText(const QPointF& at, int editing)
{
    FTextAt = at;
    FTextEditing = editing;
    FTextEdit = new QLineEdit(this);
    FTextEdit->setObjectName(QStringLiteral("TextEntry"));
    const TShape* old = editing >= 0 ? &FShapes[size_t(editing)] : nullptr;
    QFont font;
    font.setPixelSize(qMax(6, qRound((old ? old->FontSize : FFontSize) * Scale())));
    FTextEdit->setFont(font);
    FTextEdit->setFrame(false);
    FTextEdit->setTextMargins(0, 0, 0, 0);
    FTextEdit->setStyleSheet(
        QStringLiteral("QLineEdit{background:transparent;border:1px dashed gray;color:%1}")
            .arg((old ? old->Color : FColor).name()));
    if (old)
        FTextEdit->setText(old->Text);
    FTextEdit->setMinimumWidth(qRound(80 * FZoom));
    FTextEdit->adjustSize();
    FTextEdit->resize(qMax(FTextEdit->width(), width() / 3), FTextEdit->height());
    FTextEdit->move(ToCanvas(at).toPoint() - QPoint(2, 1));
    FTextEdit->installEventFilter(this);
    connect(FTextEdit, &QLineEdit::returnPressed, this, &TEditorCanvas::CommitText);
    FTextEdit->show();
    FTextEdit->setFocus();
    emit Changed();
}

void TEditorCanvas::CommitText()
{
    if (!FTextEdit)
        return;
    const QString text = FTextEdit->text();
    FTextEdit->removeEventFilter(this);
    FTextEdit->deleteLater();
    FTextEdit = nullptr;
    setFocus();
    std::vector<TShape> shapes = FShapes;
    if (FTextEditing >= 0) {
        TShape& shape = shapes[size_t(FTextEditing)];
        if (shape.Text == text)
            return;
        if (text.isEmpty())
            shapes.erase(shapes.begin() + FTextEditing);
        else
            shape.Text = text;
        FSelected = -1;
    } else {
        if (text.isEmpty())
            return;
        TShape shape = NewShape(TTool::Text, FTextAt);
        shape.Text = text;
        shapes.push_back(shape);
    }
    Commit(std::move(shapes), FCrop);
}

bool TEditorCanvas::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FTextEdit && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        CancelInput();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TEditorCanvas::FinishInput()
{
    if (FTextEdit)
        CommitText();
    if (FDraft && !FMoving) {
        const QRect was = FDraft->Bounds();
        FDraft.reset();
        UpdatePicture(was);
    }
}

bool TEditorCanvas::CancelInput()
{
    if (FTextEdit) {
        FTextEdit->removeEventFilter(this);
        FTextEdit->deleteLater();
        FTextEdit = nullptr;
        setFocus();
        emit Changed();
        return true;
    }
    if (FDraft) {
        const QRect was = FDraft->Bounds();
        FDraft.reset();
        if (FMoving) {
            FMoving = false;
            RebuildComposite();
            update();
        }
        UpdatePicture(was);
        return true;
    }
    return false;
}

namespace {

struct TToolInfo
{
    TTool Tool;
    const char* Name; // object name
    const char* Text; // translated caption
    const char* Key;
};

const TToolInfo ToolInfos[] = {
    {TTool::Select, "ToolSelect", "선택/이동", "V"},
    {TTool::Rectangle, "ToolRectangle", "사각형", "R"},
    {TTool::Ellipse, "ToolEllipse", "타원", "E"},
    {TTool::Line, "ToolLine", "직선", "L"},
    {TTool::Arrow, "ToolArrow", "화살표", "A"},
    {TTool::Pen, "ToolPen", "펜", "P"},
    {TTool::Highlighter, "ToolHighlighter", "형광펜", "H"},
    {TTool::Text, "ToolText", "텍스트", "T"},
    {TTool::Step, "ToolStep", "번호", "N"},
    {TTool::Pixelate, "ToolPixelate", "모자이크", "X"},
    {TTool::Blur, "ToolBlur", "흐리게", "B"},
    {TTool::Crop, "ToolCrop", "자르기", "C"},
};

const QList<QColor> Swatches = {
    QColor(230, 30, 30),  QColor(255, 140, 0),  QColor(255, 220, 0), QColor(40, 170, 60),
    QColor(30, 110, 230), QColor(140, 60, 200), Qt::black,           Qt::white};

QString TipOf(const QString& text, const QKeySequence& key)
{
    return QStringLiteral("%1 (%2)").arg(text, key.toString(QKeySequence::NativeText));
}

} // namespace

TFrmEditor::TFrmEditor(const QImage& picture, const QRect& rect, const QString& caption,
                       const QList<TEditorDestination>& destinations, int destination, TSend send)
    : QMainWindow(nullptr), FRect(rect), FCaption(caption), FSend(std::move(send))
{
    setObjectName(QStringLiteral("TFrmEditor"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The desktop adds the program's name after it.
    setWindowTitle(Translate(QStringLiteral("편집")));

    FCanvas = new TEditorCanvas(picture);
    FScroll = new QScrollArea(this);
    FScroll->setObjectName(QStringLiteral("Scroll"));
    FScroll->setAlignment(Qt::AlignCenter);
    FScroll->setBackgroundRole(QPalette::Dark);
    FScroll->setWidget(FCanvas);
    setCentralWidget(FScroll);

    BuildToolBars(destinations, destination);
    FInfo = new QLabel(this);
    statusBar()->addPermanentWidget(FInfo);

    connect(FCanvas, &TEditorCanvas::Changed, this, &TFrmEditor::UpdateState);
    connect(FCanvas, &TEditorCanvas::ZoomChanged, this, &TFrmEditor::UpdateState);
    connect(FCanvas, &TEditorCanvas::ZoomRequested, this,
            [this](qreal factor, QPointF at) { ApplyZoom(FCanvas->Zoom() * factor, at); });

    // At 1:1 where the screen has room, else as large as the screen allows
    // with scroll bars: the screen the capture came from, when known.
    QScreen* screen = rect.isEmpty() ? nullptr : QGuiApplication::screenAt(rect.center());
    if (!screen)
        screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect available = screen->availableGeometry();
        const QSize chrome = sizeHint() - FScroll->sizeHint();
        QSize want = FCanvas->size() + QSize(4, 4) + chrome.expandedTo(QSize(0, 0));
        want.setWidth(qMax(want.width(), 640));
        want.setHeight(qMax(want.height(), 360));
        resize(want.boundedTo(available.size() * 9 / 10));
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
    UpdateState();
    FCanvas->SetTool(TTool::Rectangle);
    FCanvas->setFocus();
}

TFrmEditor::~TFrmEditor() = default;

void TFrmEditor::BuildToolBars(const QList<TEditorDestination>& destinations, int destination)
{
    QToolBar* tools = new QToolBar(Translate(QStringLiteral("편집")), this);
    tools->setObjectName(QStringLiteral("ToolBar"));
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    addToolBar(Qt::LeftToolBarArea, tools);
    FTools = new QActionGroup(this);
    FTools->setExclusive(true);
    for (const TToolInfo& info : ToolInfos) {
        const QString text = Translate(QString::fromUtf8(info.Text));
        QAction* action = tools->addAction(text);
        action->setObjectName(QLatin1String(info.Name));
        action->setCheckable(true);
        action->setShortcut(QKeySequence(QLatin1String(info.Key)));
        action->setToolTip(TipOf(text, action->shortcut()));
        action->setData(int(info.Tool));
        FTools->addAction(action);
        if (info.Tool == TTool::Rectangle)
            action->setChecked(true);
        const TTool tool = info.Tool;
        connect(action, &QAction::triggered, this, [this, tool] { FCanvas->SetTool(tool); });
    }

    QToolBar* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("StyleBar"));
    bar->setMovable(false);
    addToolBar(Qt::TopToolBarArea, bar);

    FColorButton = new QToolButton(bar);
    FColorButton->setObjectName(QStringLiteral("BtnColor"));
    FColorButton->setToolTip(Translate(QStringLiteral("색상")));
    FColorButton->setPopupMode(QToolButton::InstantPopup);
    QMenu* colors = new QMenu(FColorButton);
    for (const QColor& color : Swatches) {
        QPixmap swatch(16, 16);
        swatch.fill(color);
        QAction* action = colors->addAction(QIcon(swatch), color.name());
        connect(action, &QAction::triggered, this, [this, color] {
            FCanvas->SetColor(color);
            UpdateColorButton();
        });
    }
    FColorButton->setMenu(colors);
    bar->addWidget(FColorButton);
    UpdateColorButton();

    bar->addWidget(new QLabel(
        QStringLiteral(" ") + Translate(QStringLiteral("두께")) + QStringLiteral(" "), bar));
    FWidthBox = new QSpinBox(bar);
    FWidthBox->setObjectName(QStringLiteral("ChkWidth"));
    FWidthBox->setRange(1, 40);
    FWidthBox->setValue(4);
    bar->addWidget(FWidthBox);
    connect(FWidthBox, &QSpinBox::valueChanged, FCanvas, &TEditorCanvas::SetWidth);

    bar->addWidget(new QLabel(
        QStringLiteral(" ") + Translate(QStringLiteral("글자 크기")) + QStringLiteral(" "), bar));
    FFontBox = new QSpinBox(bar);
    FFontBox->setObjectName(QStringLiteral("ChkFontSize"));
    FFontBox->setRange(8, 200);
    FFontBox->setValue(24);
    bar->addWidget(FFontBox);
    connect(FFontBox, &QSpinBox::valueChanged, FCanvas, &TEditorCanvas::SetFontSize);

    bar->addSeparator();
    FUndo = bar->addAction(Translate(QStringLiteral("실행 취소")), FCanvas, &TEditorCanvas::Undo);
    FUndo->setObjectName(QStringLiteral("BtnUndo"));
    FUndo->setShortcut(QKeySequence::Undo);
    FRedo = bar->addAction(Translate(QStringLiteral("다시 실행")), FCanvas, &TEditorCanvas::Redo);
    FRedo->setObjectName(QStringLiteral("BtnRedo"));
    FRedo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    FDelete =
        bar->addAction(Translate(QStringLiteral("삭제")), FCanvas, &TEditorCanvas::DeleteSelected);
    FDelete->setObjectName(QStringLiteral("BtnDelete"));
    for (QAction* action : {FUndo, FRedo})
        action->setToolTip(TipOf(action->text(), action->shortcut()));

    bar->addSeparator();
    QAction* actual =
        bar->addAction(Translate(QStringLiteral("실제 크기")), this, &TFrmEditor::ActualSize);
    actual->setObjectName(QStringLiteral("BtnActualSize"));
    actual->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    actual->setToolTip(TipOf(actual->text(), actual->shortcut()));
    QAction* fit =
        bar->addAction(Translate(QStringLiteral("창에 맞춤")), this, &TFrmEditor::FitToWindow);
    fit->setObjectName(QStringLiteral("BtnFit"));
    fit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_9));
    fit->setToolTip(TipOf(fit->text(), fit->shortcut()));

    QWidget* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);

    ChkDestination = new QComboBox(bar);
    ChkDestination->setObjectName(QStringLiteral("ChkDestination"));
    for (const TEditorDestination& item : destinations)
        ChkDestination->addItem(item.Caption, item.Index);
    bar->addWidget(ChkDestination);
    SetDestination(destination);
    QPushButton* send = new QPushButton(Translate(QStringLiteral("보내기")), bar);
    send->setObjectName(QStringLiteral("BtnSend"));
    send->setDefault(true);
    send->setToolTip(TipOf(send->text(), QKeySequence(Qt::CTRL | Qt::Key_Return)));
    bar->addWidget(send);
    connect(send, &QPushButton::clicked, this, [this] { Send(); });
    QAction* sendKey = new QAction(this);
    sendKey->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    addAction(sendKey);
    connect(sendKey, &QAction::triggered, this, [this] { Send(); });
}

void TFrmEditor::SetDestination(int index)
{
    const int at = ChkDestination->findData(index);
    if (at >= 0)
        ChkDestination->setCurrentIndex(at);
}

void TFrmEditor::UpdateColorButton()
{
    QPixmap swatch(20, 20);
    swatch.fill(FCanvas->Color());
    QPainter(&swatch).drawRect(0, 0, 19, 19);
    FColorButton->setIcon(QIcon(swatch));
}

void TFrmEditor::UpdateState()
{
    FUndo->setEnabled(FCanvas->CanUndo());
    FRedo->setEnabled(FCanvas->CanRedo());
    FDelete->setEnabled(FCanvas->Selected() >= 0);
    for (QAction* action : FTools->actions()) {
        if (action->data().toInt() == int(FCanvas->Tool()) && !action->isChecked())
            action->setChecked(true);
    }
    const QRect crop = FCanvas->Crop();
    FInfo->setText(QStringLiteral("%1 × %2   %3%")
                       .arg(crop.width())
                       .arg(crop.height())
                       .arg(qRound(FCanvas->Zoom() * 100)));
}

void TFrmEditor::ApplyZoom(qreal zoom, const QPointF& canvasAnchor)
{
    const QPointF picture = FCanvas->ToPicture(canvasAnchor);
    const QPoint onViewport = FCanvas->mapTo(FScroll->viewport(), canvasAnchor.toPoint());
    FCanvas->SetZoom(zoom);
    const QPointF now = FCanvas->ToCanvas(picture);
    FScroll->horizontalScrollBar()->setValue(qRound(now.x() - onViewport.x()));
    FScroll->verticalScrollBar()->setValue(qRound(now.y() - onViewport.y()));
}

void TFrmEditor::FitToWindow()
{
    const QSize room = FScroll->maximumViewportSize() - QSize(4, 4);
    const QRect crop = FCanvas->Crop();
    const qreal dpr = FCanvas->devicePixelRatioF();
    const qreal zoom = qMin(room.width() * dpr / crop.width(), room.height() * dpr / crop.height());
    FCanvas->SetZoom(zoom);
}

void TFrmEditor::ActualSize()
{
    FCanvas->SetZoom(1);
}

bool TFrmEditor::Send()
{
    if (FSending || !FSend || ChkDestination->currentIndex() < 0)
        return false;
    FCanvas->FinishInput();
    const QImage picture = FCanvas->Flatten();
    QRect where;
    if (!FRect.isEmpty()) {
        where = QRect(FRect.topLeft() + FCanvas->Crop().topLeft(), picture.size());
    } else {
        // Without a screen rectangle (a web page) the picture is placed where it is shown.
        const qreal dpr = FCanvas->devicePixelRatioF();
        where = QRect((FCanvas->mapToGlobal(QPoint(0, 0)) * dpr), picture.size());
    }
    // Sending may run an event loop (upload, message boxes); the window takes
    // no input meanwhile, so the picture cannot change or be sent twice.
    FSending = true;
    setEnabled(false);
    const bool sent = FSend(ChkDestination->currentData().toInt(), picture, where);
    setEnabled(true);
    FSending = false;
    if (sent) {
        FSent = true;
        close();
    }
    return sent;
}

void TFrmEditor::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (!FCanvas->CancelInput())
            close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TFrmEditor::closeEvent(QCloseEvent* event)
{
    if (FSending) {
        event->ignore();
        return;
    }
    FCanvas->CancelInput();
    if (!FSent && FCanvas->Modified() &&
        ShowMessageBox(FCaption, Translate(QStringLiteral("편집한 내용을 버리시겠습니까?")),
                       TBoxIcon::Question,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    event->accept();
}
