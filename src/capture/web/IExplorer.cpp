#include "capture/web/IExplorer.h"

#include "capture/web/WebBrowser.h"
#include "capture/web/WebEngine.h"
#include "services/Translate.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QToolButton>

namespace {

const QString StartPage = QStringLiteral("about:blank");
const QString EmptyAddress = QStringLiteral("https://");

bool IsBlank(QChar c)
{
    return c.unicode() <= 0x20 || c.unicode() == 0x7F || c.isSpace() ||
           c.category() == QChar::Other_Control;
}

bool IsAltD(const QKeyEvent& key)
{
    return key.key() == Qt::Key_D && key.modifiers().testFlag(Qt::AltModifier);
}

} // namespace

TFrmIExplorer* TFrmIExplorer::Create(QString* error)
{
    auto* window = new TFrmIExplorer;
    if (!window->FormCreate(error)) {
        delete window;
        return nullptr;
    }
    return window;
}

TFrmIExplorer::TFrmIExplorer()
{
    setObjectName(QStringLiteral("FrmIExplorer"));
    setAttribute(Qt::WA_DeleteOnClose);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(37);

    Panel2 = new QWidget(Panel1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedWidth(57);
    BtnBack = new QToolButton(Panel2);
    BtnBack->setObjectName(QStringLiteral("BtnBack"));
    BtnBack->setGeometry(0, 0, 25, 37);
    BtnBack->setArrowType(Qt::LeftArrow);
    BtnBack->setAutoRaise(true);
    BtnBack->setEnabled(false);
    BtnForward = new QToolButton(Panel2);
    BtnForward->setObjectName(QStringLiteral("BtnForward"));
    BtnForward->setGeometry(25, 0, 25, 37);
    BtnForward->setArrowType(Qt::RightArrow);
    BtnForward->setAutoRaise(true);
    BtnForward->setEnabled(false);

    Panel3 = new QWidget(Panel1);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Edit1 = new QLineEdit(EmptyAddress, Panel3);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFixedHeight(21);
    // The field keeps the panel's width as the window is resized.
    auto* field = new QVBoxLayout(Panel3);
    field->setContentsMargins(0, 8, 0, 8);
    field->addWidget(Edit1);

    Panel4 = new QWidget(Panel1);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Panel4->setFixedWidth(8);

    auto* bar = new QHBoxLayout(Panel1);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(0);
    bar->addWidget(Panel2);
    bar->addWidget(Panel3, 1);
    bar->addWidget(Panel4);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(Panel1);

    resize(695, 572);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    setWindowTitle(Translate(QGuiApplication::applicationDisplayName()));

    connect(Edit1, &QLineEdit::returnPressed, this, &TFrmIExplorer::Edit1KeyPress);
    connect(BtnBack, &QToolButton::clicked, this, &TFrmIExplorer::BtnBackClick);
    connect(BtnForward, &QToolButton::clicked, this, &TFrmIExplorer::BtnForwardClick);
    qApp->installEventFilter(this);
}

TFrmIExplorer::~TFrmIExplorer()
{
    qApp->removeEventFilter(this);
    // The browser goes after the address bar; its last events must not
    // reach the bar.
    if (FWB) {
        FWB->OnCommandStateChange = nullptr;
        FWB->OnDocumentComplete = nullptr;
        FWB->OnLocationChange = nullptr;
        FWB->OnTitleChange = nullptr;
    }
}

bool TFrmIExplorer::FormCreate(QString* error)
{
    FWB = CreateWebBrowser(this, error);
    if (!FWB)
        return false;
    QWidget* view = FWB->Widget();
    view->setObjectName(QStringLiteral("WB"));
    static_cast<QBoxLayout*>(layout())->addWidget(view, 1);

    FWB->OnCommandStateChange = [this](TWebBrowser::TCommand command, bool enabled) {
        if (command == TWebBrowser::TCommand::NavigateForward)
            BtnForward->setEnabled(enabled);
        else if (command == TWebBrowser::TCommand::NavigateBack)
            BtnBack->setEnabled(enabled);
    };
    FWB->OnDocumentComplete = [this] {
        WBDocumentComplete();
    };
    FWB->OnLocationChange = [this] {
        WBDocumentComplete();
    };
    FWB->OnTitleChange = [this](const QString& title) {
        WBTitleChange(title);
    };

    TranslateComponent(this);
    FWB->SetUserAgent(IExplorerUserAgent);
    FWB->Navigate(StartPage);
    return true;
}

QString TFrmIExplorer::TrimAddress(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.mid(first, last - first);
}

void TFrmIExplorer::Edit1KeyPress()
{
    // No scheme is added: the field's initial "https://" is the only help,
    // and what the user typed reaches the engine as typed.
    FWB->Navigate(TrimAddress(Edit1->text()));
}

void TFrmIExplorer::BtnBackClick()
{
    FWB->GoBack();
}

void TFrmIExplorer::BtnForwardClick()
{
    FWB->GoForward();
}

void TFrmIExplorer::WBDocumentComplete()
{
    // Only the top-level page reports here, so frames never show up in the
    // field.
    const QString location = FWB->LocationURL();
    Edit1->setText(location.isEmpty() || location == StartPage ? EmptyAddress : location);
}

void TFrmIExplorer::WBTitleChange(const QString& title)
{
    if (title == StartPage)
        setWindowTitle(Translate(QGuiApplication::applicationDisplayName()));
    else
        setWindowTitle(title);
}

void TFrmIExplorer::closeEvent(QCloseEvent* event)
{
    event->accept();
    emit Closed();
}

bool TFrmIExplorer::eventFilter(QObject* watched, QEvent* event)
{
    // While this window exists Alt+D belongs to its address field and does
    // nothing else anywhere in the program, even while the window is hidden.
    const QEvent::Type type = event->type();
    if ((type == QEvent::ShortcutOverride || type == QEvent::KeyPress) &&
        IsAltD(*static_cast<QKeyEvent*>(event))) {
        if (type == QEvent::KeyPress && isVisible()) {
            activateWindow();
            Edit1->setFocus(Qt::ShortcutFocusReason);
        }
        event->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CaptureWebPage(QImage& bitmap, TFrmIExplorer& window)
{
    bitmap = window.WB().CaptureWholePage(WebCaptureTimeout);
}
