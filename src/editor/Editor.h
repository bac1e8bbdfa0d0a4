#pragma once

#include "editor/Shape.h"

#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QRect>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QScrollArea;
class QSpinBox;
class QToolButton;

// The picture being edited, shown at `Zoom` physical pixels per picture
// pixel whatever the display scale, with its annotations. The annotations
// stay vector objects; every change to them or to the crop is one undo step.
class TEditorCanvas : public QWidget
{
    Q_OBJECT
public:
    explicit TEditorCanvas(const QImage& picture, QWidget* parent = nullptr);

    // The picture as it would be sent: the annotations drawn in, cut to the crop.
    QImage Flatten() const;
    const QImage& Picture() const { return FPicture; }
    const std::vector<TShape>& Shapes() const { return FShapes; }
    QRect Crop() const { return FCrop; }
    // Whether the picture to be sent differs from the capture.
    bool Modified() const;

    TTool Tool() const { return FTool; }
    void SetTool(TTool tool);
    // The style of the next shape; also restyles the selected one.
    void SetColor(const QColor& color);
    void SetWidth(int width);
    void SetFontSize(int size);
    QColor Color() const { return FColor; }

    bool CanUndo() const { return !FUndo.empty(); }
    bool CanRedo() const { return !FRedo.empty(); }
    void Undo();
    void Redo();
    // The index into Shapes() of the selected annotation, or -1.
    int Selected() const { return FSelected; }
    void DeleteSelected();
    // Ends an open text entry (keeping its text) or an unfinished shape.
    void FinishInput();
    // Whether Escape has something of the canvas's own to cancel.
    bool CancelInput();

    qreal Zoom() const { return FZoom; }
    void SetZoom(qreal zoom);
    // Canvas (logical) coordinates to picture pixels and back.
    QPointF ToPicture(const QPointF& at) const;
    QPointF ToCanvas(const QPointF& at) const;

signals:
    void Changed();
    void ZoomChanged();
    // Ctrl+wheel: zoom by `factor` keeping the picture under `at` (canvas coordinates) in place.
    void ZoomRequested(qreal factor, QPointF at);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TState
    {
        std::vector<TShape> Shapes;
        QRect Crop;
    };
    qreal Scale() const;
    static QPointF GridOffset(const QPointF& origin);
    // The canvas's own shift onto whole physical pixels, in physical pixels.
    QPointF Offset() const;
    QPointF ToPicture(const QPointF& at, const QPointF& offset) const;
    QPointF ToCanvas(const QPointF& at, const QPointF& offset) const;
    void UpdateSize();
    void Commit(std::vector<TShape> shapes, QRect crop);
    void Restore(const TState& state);
    // The picture with every shape but `excluded` drawn in, at full size.
    void RebuildComposite(int excluded = -1);
    void UpdatePicture(const QRect& pictureRect);
    QPointF Clamp(const QPointF& at) const;
    int ShapeAt(const QPointF& at) const;
    TShape NewShape(TTool kind, const QPointF& at) const;
    void OpenText(const QPointF& at, int editing);
    void CommitText();
    void Restyle(const std::function<void(TShape&)>& change);
    void MoveSelected(const QPointF& delta);

    QImage FPicture;
    QImage FComposite;
    int FExcluded = -1;
    std::vector<TShape> FShapes;
    QRect FCrop;
    std::vector<TState> FUndo;
    std::vector<TState> FRedo;

    TTool FTool = TTool::Rectangle;
    QColor FColor = QColor(230, 30, 30);
    int FWidth = 4;
    int FFontSize = 24;
    qreal FZoom = 1;
    qreal FDpr = 1;

    // The shape being drawn, or the selected shape while it is dragged.
    std::optional<TShape> FDraft;
    bool FMoving = false;
    QPointF FPressAt;
    int FSelected = -1;

    QLineEdit* FTextEdit = nullptr;
    QPointF FTextAt;
    int FTextEditing = -1;
};

// One destination the picture can go on to: the controller's index and the
// caption the user sees.
struct TEditorDestination
{
    int Index = 0;
    QString Caption;
};

// The editor window a capture opens in when the destination is "Edit". It
// sends nothing itself: Send hands the flattened picture to `send` (the
// destination index, the picture, its screen rectangle) and closes when that
// reports success, so a failed save leaves every edit in place. The window
// frees itself when closed; Escape and the close button ask before edits are
// discarded. User-interface thread only.
class TFrmEditor : public QMainWindow
{
    Q_OBJECT
public:
    using TSend = std::function<bool(int destination, const QImage& picture, const QRect& rect)>;

    // `rect` is where the picture was on the screen (may be empty);
    // `caption` the program's caption in the current language.
    TFrmEditor(const QImage& picture, const QRect& rect, const QString& caption,
               const QList<TEditorDestination>& destinations, int destination, TSend send);
    ~TFrmEditor() override;

    TEditorCanvas* Canvas() const { return FCanvas; }
    // Sends the picture to the destination the selector shows.
    bool Send();
    void SetDestination(int index);
    void FitToWindow();
    void ActualSize();

    QComboBox* ChkDestination;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildToolBars(const QList<TEditorDestination>& destinations, int destination);
    void ApplyZoom(qreal zoom, const QPointF& canvasAnchor);
    void UpdateState();
    void UpdateColorButton();

    TEditorCanvas* FCanvas;
    QScrollArea* FScroll;
    QRect FRect;
    QString FCaption;
    TSend FSend;
    bool FSending = false;
    bool FSent = false;
    QActionGroup* FTools = nullptr;
    QAction* FUndo = nullptr;
    QAction* FRedo = nullptr;
    QAction* FDelete = nullptr;
    QToolButton* FColorButton = nullptr;
    QSpinBox* FWidthBox = nullptr;
    QSpinBox* FFontBox = nullptr;
    QLabel* FInfo = nullptr;
};
