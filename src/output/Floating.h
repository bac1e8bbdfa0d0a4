#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QWidget>

class QAction;
class QMenu;
class TFloatList;

// What floating windows read from the main window when they save.
class TFloatOwner
{
public:
    virtual ~TFloatOwner() = default;
    // The save folder the save dialog opens in.
    virtual QString SavePath() const = 0;
    // The texts the JPEG and WebP quality selectors show now, read even while
    // the selectors are hidden; a text that is not a number means 90.
    virtual QString JpegQualityText() const = 0;
    virtual QString WebPQualityText() const = 0;
};

// A captured picture pinned to the screen where it was taken: borderless,
// always on top, unscaled, without a taskbar entry and without an owner
// window, so it stays when the main window hides. Dragging anywhere on it
// moves it; its context menu saves it, or deletes it or every floating
// window. It keeps its own copy of the picture. Only its list destroys it.
class TFrmFloating : public QWidget
{
    Q_OBJECT
public:
    TFrmFloating(const QImage& bitmap, TFloatList& list);

    const QImage& Picture() const { return FPicture; }

    // The save dialog's file types, in order; the 1-based index of the chosen
    // one picks the writer.
    static QStringList FileTypes();

    // Writes the picture with the writer of file type `typeIndex` (1 ... 5)
    // to `fileName` as it is, whatever its extension. Raises what the writer
    // raises.
    void SaveAs(const QString& fileName, int typeIndex) const;

    QMenu* Popup;
    QAction* BtnSave;
    QAction* DivPop1;
    QAction* BtnDelete;
    QAction* BtnDeleteAll;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BtnSaveClick();

    QImage FPicture;
    TFloatList& FList;
    bool FPositionChecked = false;
};

// The floating windows of the program, in creation order. The main window
// owns the list; destroying the list destroys every window still open.
class TFloatList : public QObject
{
    Q_OBJECT
public:
    explicit TFloatList(TFloatOwner& owner, QObject* parent = nullptr);
    ~TFloatList() override;

    // Shows a floating window with a copy of `bitmap` whose picture covers the
    // screen rectangle `rect` (its top-left corner, at 1:1) and appends it.
    TFrmFloating* FloatCreate(const QImage& bitmap, const QRect& rect);

    // Closes `form` when it is in the list, or every window for null. Safe
    // from a window's own menu command: the window disappears and leaves the
    // list at once and is destroyed when control returns to the event loop.
    void FloatDelete(TFrmFloating* form = nullptr);

    const QList<TFrmFloating*>& Items() const { return FItems; }
    TFloatOwner& Owner() const { return FOwner; }

private:
    TFloatOwner& FOwner;
    QList<TFrmFloating*> FItems;
};
