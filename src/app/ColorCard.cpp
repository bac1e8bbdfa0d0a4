#include "app/ColorCard.h"

#include "output/Save.h"
#include "platform/Screen.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <optional>

namespace {

// The colour list's rows: the colour text with its own swatch.
class TColorItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        const QRect r = option.rect;
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(r, selected ? QColor(0x33, 0x99, 0xFF) : QColor(Qt::white));
        painter->setPen(selected ? Qt::white : Qt::black);
        const QString text = index.data().toString();
        painter->drawText(QRect(20, r.top(), r.width() - 20, r.height()),
                          Qt::AlignLeft | Qt::AlignTop, text);
        const QRect swatch(QPoint(r.left() + 2, r.top() + 2), QPoint(15, r.bottom() - 2));
        const QColor colour(QStringLiteral("#") + text);
        painter->fillRect(swatch, colour.isValid() ? colour : QColor(Qt::white));
        painter->setPen(Qt::black);
        painter->drawRect(swatch);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), 15);
    }
};

QAction* AddItem(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

} // namespace

TColorCard::TColorCard(TScreen& screen, QWidget* parent) : QWidget(parent), FScreen(screen)
{
    setObjectName(QStringLiteral("Card2"));
    ShpColor = new QFrame(this);
    ShpColor->setObjectName(QStringLiteral("ShpColor"));
    ShpColor->setGeometry(0, 0, 15, 15);
    ShpColor->setFrameShape(QFrame::Box);
    ShpColor->setAutoFillBackground(true);
    LblColor = new QLabel(QStringLiteral("FFFFFF"), this);
    LblColor->setObjectName(QStringLiteral("LblColor"));
    LblColor->setGeometry(23, 0, 120, 15);
    LstColor = new QListWidget(this);
    LstColor->setObjectName(QStringLiteral("LstColor"));
    LstColor->setGeometry(0, 21, 145, 75);
    LstColor->setItemDelegate(new TColorItemDelegate(LstColor));
    QFont mono(QStringLiteral("Courier New"));
    mono.setStyleHint(QFont::Monospace);
    mono.setPointSize(9);
    LstColor->setFont(mono);
    LstColor->setUniformItemSizes(true);
    LstColor->setContextMenuPolicy(Qt::CustomContextMenu);

    TmrColor = new QTimer(this);
    TmrColor->setObjectName(QStringLiteral("TmrColor"));
    TmrColor->setInterval(100);
    connect(TmrColor, &QTimer::timeout, this, &TColorCard::TmrColorTimer);

    Pick = new QMenu(this);
    Pick->setObjectName(QStringLiteral("Pick"));
    N5 = AddItem(Pick, "N5", QStringLiteral("복사"));
    N7 = AddItem(Pick, "N7", QStringLiteral("삭제"));
    connect(N5, &QAction::triggered, this, &TColorCard::N5Click);
    connect(N7, &QAction::triggered, this, &TColorCard::N7Click);
    connect(LstColor, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { Pick->popup(LstColor->viewport()->mapToGlobal(at)); });
}

void TColorCard::SetActive(bool active)
{
    if (active)
        TmrColor->start();
    else
        TmrColor->stop();
}

void TColorCard::TmrColorTimer()
{
    const QPoint at = FScreen.CursorPosition();
    const std::optional<QRgb> pixel = FScreen.Pixel(at);
    const QColor colour = pixel ? QColor::fromRgb(*pixel) : QColor(Qt::white);
    LblColor->setText(QStringLiteral("%1%2%3")
                          .arg(colour.red(), 2, 16, QLatin1Char('0'))
                          .arg(colour.green(), 2, 16, QLatin1Char('0'))
                          .arg(colour.blue(), 2, 16, QLatin1Char('0'))
                          .toUpper());
    QPalette swatch = ShpColor->palette();
    swatch.setColor(QPalette::Window, colour);
    ShpColor->setPalette(swatch);
}

void TColorCard::CaptureColor()
{
    const QString text = LblColor->text();
    LstColor->insertItem(0, text);
    TextToClipboard(text);
}

void TColorCard::N5Click()
{
    if (QListWidgetItem* item = LstColor->currentItem(); item && item->isSelected())
        TextToClipboard(item->text());
}

void TColorCard::N7Click()
{
    if (QListWidgetItem* item = LstColor->currentItem(); item && item->isSelected())
        delete LstColor->takeItem(LstColor->row(item));
}
