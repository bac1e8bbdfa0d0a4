#include "output/Floating.h"

#include "output/Save.h"
#include "platform/NativeWindow.h"
#include "platform/ScreenScale.h"
#include "services/MessageBox.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWindow>

namespace {

// The quality a selector's text stands for: the number, 90 when it is none.
int QualityOf(const QString& text)
{
    bool number = false;
    const int quality = text.trimmed().toInt(&number);
    return number ? quality : 90;
}

// Asks before overwriting (the dialog's default) and refuses a file whose
// folder does not exist, as the platform dialogs do; the widget dialog alone
// would accept such a name and leave the writer to fail.
class TSaveDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QFileInfo file(files.first());
            const QString folder = file.absolutePath();
            if (!file.isDir() && !QFileInfo(folder).isDir()) {
                QMessageBox::warning(this, windowTitle(),
                                     QFileDialog::tr("%1\nDirectory not found.\nPlease verify the "
                                                     "correct directory name was given.")
                                         .arg(QDir::toNativeSeparators(folder)));
                return;
            }
        }
        QFileDialog::accept();
    }
};

} // namespace

TFrmFloating::TFrmFloating(const QImage& bitmap, TFloatList& list)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      FPicture(bitmap.copy()), FList(list)
{
    setObjectName(QStringLiteral("TFrmFloating"));
    setWindowTitle(QStringLiteral("Vorantu"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    resize(311, 279);

    // These captions have no rows in the translation table: Korean in every language.
    Popup = new QMenu(this);
    Popup->setObjectName(QStringLiteral("Popup"));
    BtnSave = Popup->addAction(QStringLiteral("이미지 저장"));
    BtnSave->setObjectName(QStringLiteral("BtnSave"));
    DivPop1 = Popup->addSeparator();
    DivPop1->setObjectName(QStringLiteral("DivPop1"));
    BtnDelete = Popup->addAction(QStringLiteral("플로팅 삭제"));
    BtnDelete->setObjectName(QStringLiteral("BtnDelete"));
    BtnDeleteAll = Popup->addAction(QStringLiteral("모든 플로팅 삭제"));
    BtnDeleteAll->setObjectName(QStringLiteral("BtnDeleteAll"));
    connect(BtnSave, &QAction::triggered, this, &TFrmFloating::BtnSaveClick);
    connect(BtnDelete, &QAction::triggered, this, [this] { FList.FloatDelete(this); });
    connect(BtnDeleteAll, &QAction::triggered, this, [this] { FList.FloatDelete(nullptr); });
}

QStringList TFrmFloating::FileTypes()
{
    return {QStringLiteral("PNG (*.png)"), QStringLiteral("JPG (*.jpg *.jpeg)"),
            QStringLiteral("GIF (*.gif)"), QStringLiteral("BMP (*.bmp)"),
            QStringLiteral("WebP (*.webp)")};
}

void TFrmFloating::SaveAs(const QString& fileName, int typeIndex) const
{
    const TFloatOwner& owner = FList.Owner();
    switch (typeIndex) {
    case 1:
        BitmapToPNGFile(FPicture, fileName);
        break;
    case 2:
        BitmapToJPGFile(FPicture, fileName,
                        std::uint8_t(qBound(0, QualityOf(owner.JpegQualityText()), 100)));
        break;
    case 3:
        BitmapToGIFFile(FPicture, fileName);
        break;
    case 4:
        BitmapToBMPFile(FPicture, fileName);
        break;
    case 5:
        // Without the WebP library nothing is written and nothing is said.
        BitmapToWebPFile(FPicture, fileName, QualityOf(owner.WebPQualityText()));
        break;
    default:
        break;
    }
}

void TFrmFloating::BtnSaveClick()
{
    TSaveDialog dialog(this);
    dialog.setObjectName(QStringLiteral("SaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("png"));
    dialog.setDirectory(FList.Owner().SavePath());
    dialog.setNameFilters(FileTypes());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString fileName = dialog.selectedFiles().constFirst();
    const int typeIndex = FileTypes().indexOf(dialog.selectedNameFilter()) + 1;
    try {
        SaveAs(fileName, typeIndex);
    } catch (const std::exception& e) {
        // What the program shows for any failure it does not handle itself;
        // the floating window stays.
        ShowMessageBox(QGuiApplication::applicationDisplayName(), QString::fromUtf8(e.what()),
                       TBoxIcon::Error);
    }
}

void TFrmFloating::paintEvent(QPaintEvent*)
{
    // The first painting comes after the window manager has placed the window.
    if (!FPositionChecked) {
        FPositionChecked = true;
        QTimer::singleShot(0, this, [this] { SyncWindowPosition(this); });
    }
    // The picture is physical pixels and shows one to one, never scaled.
    QPainter painter(this);
    PaintInPhysicalPixels(painter, this);
    // Qt's own idea of the size can be a pixel off at a fractional scale;
    // the window was made the picture's size.
    QRect physical(QPoint(), PhysicalGeometry(this).size());
    const QSize difference = physical.size() - FPicture.size();
    if (qAbs(difference.width()) <= 1 && qAbs(difference.height()) <= 1)
        physical.setSize(FPicture.size());
    painter.fillRect(physical, palette().color(QPalette::Window));
    painter.drawImage(0, 0, FPicture);
    // The compositor draws window shadows; without one a one-pixel frame in
    // the shadow colour sets the picture off from what lies below. Asked at
    // every painting, so a compositor that starts or stops is followed at the
    // next exposure.
    if (!CompositorRunning()) {
        const int frame = PhysicalLength(this, 1);
        const QColor shadow = palette().color(QPalette::Shadow);
        painter.fillRect(QRect(0, 0, physical.width(), frame), shadow);
        painter.fillRect(QRect(0, physical.height() - frame, physical.width(), frame), shadow);
        painter.fillRect(QRect(0, 0, frame, physical.height()), shadow);
        painter.fillRect(QRect(physical.width() - frame, 0, frame, physical.height()), shadow);
    }
}

void TFrmFloating::mousePressEvent(QMouseEvent* event)
{
    // The whole picture is the handle: the window manager moves the window
    // while the button stays down.
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
}

void TFrmFloating::contextMenuEvent(QContextMenuEvent* event)
{
    Popup->popup(event->globalPos());
}

TFloatList::TFloatList(TFloatOwner& owner, QObject* parent) : QObject(parent), FOwner(owner) {}

TFloatList::~TFloatList()
{
    // The windows have no owner window; the list is what ends them.
    for (TFrmFloating* form : std::as_const(FItems))
        delete form;
    FItems.clear();
}

TFrmFloating* TFloatList::FloatCreate(const QImage& bitmap, const QRect& rect)
{
    auto* form = new TFrmFloating(bitmap, *this);
    // Placed before it is shown, so the window manager keeps the position;
    // the rectangle is physical, as captured.
    SetPhysicalGeometry(form, rect);
    form->show();
    PlaceWindow(form, rect);
    FItems.append(form);
    return form;
}

void TFloatList::FloatDelete(TFrmFloating* form)
{
    for (qsizetype i = FItems.size() - 1; i >= 0; --i) {
        TFrmFloating* item = FItems[i];
        if (form && item != form)
            continue;
        FItems.removeAt(i);
        item->hide();
        item->deleteLater();
    }
}
