#include "services/Update.h"

#include "Version.h"
#include "services/Config.h"
#include "services/Text.h"
#include "services/Translate.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTime>

namespace {

const QByteArray UserAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64)";
constexpr int StatusBarHeight = 28;
// A hold notice that is still out when the program ends gets this long.
constexpr std::chrono::seconds HoldGrace{3};
constexpr std::chrono::milliseconds PauseSlice{10};

struct TUpdateTexts
{
    const char* Code;
    const char* Texts[4];
};

// clang-format off
const TUpdateTexts Texts[] = {
    {"ko", {"업데이트 정보가 있습니다.\r\r안정적으로 사용하기 위해 업데이트를 하시길 권장합니다.\r\r다운로드 받으시겠습니까?",
            "업데이트 가능", "예", "아니오"}},
    {"ja", {"このプログラムがアップデートされました。\r\r安定的に使用するために新しくダウンロード·実行することをお勧めします。\r\rダウンロードしますか。",
            "アップデート可", "はい", "いいえ"}},
    {"zh", {"该程序已更新。\r\r建议下载并执行新程序以稳定使用。\r\r您要下载吗？",
            "可更新", "是", "否"}},
    {"ru", {"Данная программа была обновлена.\r\rРекомендуется скачать и выполнить новое для стабильного использования.\r\rВы хотите загрузить ее?",
            "Обновление", "Да", "Нет"}},
    {"it", {"È disponibile una nuova versione del programma.\r\rTi suggeriamo di scaricare ed aggiornare il programma.\r\rVuoi scaricare la nuova versione del programma?",
            "Aggiornabile", "Sì", "No"}},
    {"fr", {"Ce programme a été mis à jour.\r\rIl est recommandé de télécharger et d'exécuter la nouvelle version pour une utilisation stable.\r\rVoulez-vous le télécharger?",
            "Maj dispo", "Oui", "Non"}},
    {"", {"This program has been updated.\r\rIt is recommended to download and execute new for stable use.\r\rDo you want to download it?",
          "Update available", "Yes", "No"}},
};
// clang-format on

QString Hex(quint32 value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

// The red notice strip at the bottom of the main window: the panel text
// centred in bold red, the notice address as its hint, opened on a click.
class TUpdateStatusBar : public QWidget
{
public:
    explicit TUpdateStatusBar(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("StatusBar"));
        setCursor(Qt::PointingHandCursor);
        setAttribute(Qt::WA_OpaquePaintEvent);
        QFont bold = font();
        bold.setBold(true);
        setFont(bold);
        parent->installEventFilter(this);
    }

    void SetText(const QString& text)
    {
        FText = text;
        // Drawn by hand, so screen readers learn the text this way.
        setAccessibleName(text);
        update();
    }
    QString Text() const { return FText; }

    // Keeps the strip across the bottom of the window, as a bottom-aligned
    // bar would be.
    void Align()
    {
        const QWidget* owner = parentWidget();
        setGeometry(0, owner->height() - StatusBarHeight, owner->width(), StatusBarHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        painter.setFont(font());
        painter.setPen(QColor(255, 0, 0));
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, FText);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            ShellOpenServerAddress(toolTip());
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == parent() && event->type() == QEvent::Resize)
            Align();
        return false;
    }

private:
    QString FText;
};

// The room below the buttons that an info style asks for: a light grey line
// across the top and, 10 pixels below it, the check box or link.
class TInfoPanel : public QWidget
{
public:
    TInfoPanel(int height, QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("PnlInfo"));
        setFixedHeight(height);
        FLine = new QWidget(this);
        FLine->setObjectName(QStringLiteral("ShpLine"));
        FLine->setAutoFillBackground(true);
        QPalette grey = FLine->palette();
        grey.setColor(QPalette::Window, QColor(0xCC, 0xCC, 0xCC));
        FLine->setPalette(grey);
    }

    // `control` is a child of the panel.
    void SetControl(QWidget* control, int top)
    {
        FControl = control;
        FTop = top;
    }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        FLine->setGeometry(0, 0, width(), 1);
        if (FControl)
            FControl->setGeometry(10, FTop, qMax(0, width() - 10), FControl->sizeHint().height());
    }

private:
    QWidget* FLine = nullptr;
    QWidget* FControl = nullptr;
    int FTop = 0;
};

// The note link: blue, underlined, opens its hint when clicked. Its text is
// shown as plain text: it comes from the service.
class TNoteLabel : public QLabel
{
public:
    TNoteLabel(const QString& text, const QString& address, QWidget* parent) : QLabel(parent)
    {
        setObjectName(QStringLiteral("LblNote"));
        setTextFormat(Qt::PlainText);
        setText(text);
        setToolTip(address);
        setCursor(Qt::PointingHandCursor);
        QPalette blue = palette();
        blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
        setPalette(blue);
        QFont underlined = font();
        underlined.setUnderline(true);
        setFont(underlined);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            ShellOpenServerAddress(toolTip());
    }
};

} // namespace

QString UpdateText(TUpdateTextKind kind)
{
    const QString lang = CurrentLanguage();
    for (const TUpdateTexts& row : Texts) {
        if (row.Code[0] == '\0' || lang == QLatin1String(row.Code))
            return QString::fromUtf8(row.Texts[kind]);
    }
    return QString();
}

QString VersionText(const QString& format)
{
    QList<int> numbers;
    for (const QString& part : QStringLiteral(VORANTU_VERSION).split(QLatin1Char('.'))) {
        bool ok = false;
        const int n = part.toInt(&ok);
        numbers.append(ok && n >= 0 ? n : 0);
    }
    while (numbers.size() < 4)
        numbers.append(0);

    QString text;
    int next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == QLatin1Char('%') && i + 1 < format.size() &&
            format[i + 1] == QLatin1Char('d') && next < 4) {
            text += QString::number(numbers[next++]);
            ++i;
        } else {
            text += format[i];
        }
    }
    return text;
}

QString NewInstallId()
{
    QRandomGenerator* random = QRandomGenerator::global();
    const QDate today = QDate::currentDate();
    const QTime now = QTime::currentTime();
    return Hex(random->bounded(0x7FFFFFFFu), 8) + today.toString(QStringLiteral("yyMMdd")) +
           Hex(random->bounded(0xFFFFu), 4) + now.toString(QStringLiteral("HHmmss")) +
           Hex(random->bounded(0x7FFFFFFFu), 8);
}

QString InstallId()
{
    const QString name = QStringLiteral("DUID");
    TConfig config(MakerConfigPath);
    if (config.Exists(name) && config.Stored())
        return config.ReadString(name, QString());
    const QString id = config.WriteString(name, NewInstallId());
    // An identifier that cannot be kept would be a new one at every start,
    // and the service could never match a hold to it: send none instead.
    return config.Stored() ? id : QString();
}

QString ServiceAddress(const QString& path)
{
    QString base = ReadSetting(TConfig(ProgramConfigPath), Setting::ServiceUrl).trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + path;
}

QString StartupAddress()
{
    return ServiceAddress(QStringLiteral("/api.init.php"));
}

QString ReplyValue(const QString& source, const QString& startTag)
{
    // A value that does not decode counts as missing rather than ending the
    // reply's handling.
    try {
        return JsonUnescape(TextBetween(source, startTag, QStringLiteral("\"")));
    } catch (const EConvertError&) {
        return QString();
    }
}

TUpdateCheck::TUpdateCheck(const QString& url, TUpdateProc proc, int layoutOffset,
                           QWidget* mainWindow, const TUpdateOptions& options)
    : QObject(mainWindow), FUrl(url), FLayoutOffset(layoutOffset), FOptions(options),
      FProc(std::move(proc)), FMainWindow(mainWindow)
{
    FStartupHeaders = {
        {"User-Version", VersionText(QStringLiteral("%d.%d.%d.%d")).toUtf8()},
        {"User-Language", CurrentLanguage().toUtf8()},
        {"User-Debug", "false"},
        {"User-Union", InstallId().toUtf8()},
    };
}

TUpdateCheck::~TUpdateCheck()
{
    FClosingSince = std::chrono::steady_clock::now().time_since_epoch().count();
    if (FCheck.joinable()) {
        FCheck.request_stop();
        FCheck.join();
    }
    for (std::jthread& hold : FHolds) {
        if (hold.joinable())
            hold.join();
    }
}

void TUpdateCheck::Start()
{
    if (FCheck.joinable())
        return;
    FCheck = std::jthread([this](std::stop_token stop) { Run(stop); });
}

THttpRequest TUpdateCheck::BaseRequest() const
{
    THttpRequest request;
    request.Url = FUrl.toUtf8();
    request.UserAgent = UserAgent;
    request.FollowRedirects = true;
    request.Limits = FOptions.Limits;
    return request;
}

void TUpdateCheck::Run(std::stop_token stop)
{
    THttpRequest request = BaseRequest();
    request.Headers = FStartupHeaders;
    request.Cancelled = [&stop] {
        return stop.stop_requested();
    };

    QString reply;
    for (int attempt = 0; attempt < FOptions.Attempts; ++attempt) {
        ++FAttempts;
        const THttpReply answer = HttpRequest(request);
        if (stop.stop_requested())
            return;
        // Any response counts, whatever its status: an error page simply
        // holds no offer. One too large to be a reply is treated as empty;
        // asking again would only fetch it again.
        if (answer.Received || answer.TooLarge) {
            if (answer.Received)
                reply = QString::fromUtf8(answer.Body);
            break;
        }
        const auto slices = FOptions.Pause / PauseSlice;
        for (qint64 i = 0; i < slices; ++i) {
            if (stop.stop_requested())
                return;
            std::this_thread::sleep_for(PauseSlice);
        }
        if (stop.stop_requested())
            return;
    }
    // Queued rather than blocking: the destructor joins this thread on the
    // user-interface thread, which must never wait for itself. A delivery
    // still queued when the object goes is dropped with it.
    QMetaObject::invokeMethod(
        this, [this, reply] { Deliver(reply); }, Qt::QueuedConnection);
}

void TUpdateCheck::Deliver(const QString& reply)
{
    // The dialog runs a nested event loop in which the main window, and this
    // object with it, may go; nothing of `this` is touched after it unless
    // it still exists.
    const QPointer<TUpdateCheck> self(this);
    const TUpdateProc proc = FProc;
    const bool accepted = HandleReply(reply);
    if (proc)
        proc(accepted, reply);
    if (self)
        emit Finished(accepted);
}

bool TUpdateCheck::HandleReply(const QString& reply)
{
    const QPointer<TUpdateCheck> self(this);
    bool accepted = false;
    // Only web addresses are offered: accepting ends the program, which is no
    // bargain for an address that would never be opened.
    const QString update = ReplyValue(reply, QStringLiteral("\"update\":\""));
    if (IsWebAddress(update) && UpdateDialog(reply)) {
        ShellOpenServerAddress(update);
        accepted = true;
    }
    if (!self)
        return accepted;
    const QString notify = ReplyValue(reply, QStringLiteral("\"notify\":\""));
    if (IsWebAddress(notify) && FMainWindow)
        ShowUpdateStatus(FMainWindow, notify);
    return accepted;
}

bool TUpdateCheck::UpdateDialog(const QString& reply)
{
    const QString info = TextBetween(reply, QStringLiteral("\"info\":{"), QStringLiteral("}"));
    const QString style = ReplyValue(info, QStringLiteral("\"style\":\""));
    const QString text = ReplyValue(info, QStringLiteral("\"text\":\""));
    const QString flag = ReplyValue(info, QStringLiteral("\"flag\":\""));
    const QString url = ReplyValue(info, QStringLiteral("\"url\":\""));

    QMessageBox box;
    box.setObjectName(QStringLiteral("UpdateDialog"));
    box.setIcon(QMessageBox::Warning);
    QString question = UpdateText(utQuestion);
    question.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(question);
    box.setTextFormat(Qt::PlainText);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(UpdateText(utYes));
    box.button(QMessageBox::No)->setText(UpdateText(utNo));
    box.setWindowTitle(Translate(QGuiApplication::applicationDisplayName()));
    box.setWindowIcon(QApplication::windowIcon());
    box.setAutoFillBackground(true);
    QPalette white = box.palette();
    white.setColor(QPalette::Window, Qt::white);
    box.setPalette(white);
    if (flag.contains(QLatin1String("stayontop")))
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);

    QCheckBox* hold = nullptr;
    if (!style.isEmpty()) {
        auto* panel = new TInfoPanel(qMax(0, 40 - FLayoutOffset), &box);
        if (style == QLatin1String("hold")) {
            hold = new QCheckBox(text, panel);
            hold->setObjectName(QStringLiteral("ChkHold"));
            panel->SetControl(hold, 10);
        } else if (style == QLatin1String("note")) {
            panel->SetControl(new TNoteLabel(text, url, panel), 10);
        }
        if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
            grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());
    }

    box.show();
    box.raise();
    box.activateWindow();
    const bool yes = box.exec() == QMessageBox::Yes;
    if (hold && hold->isChecked())
        SendHold();
    return yes;
}

void TUpdateCheck::SendHold()
{
    THttpRequest request = BaseRequest();
    request.Headers = {
        {"User-Version", VersionText(QStringLiteral("%d.%d.%d.%d")).toUtf8()},
        {"User-Command", "hold"},
    };
    FHolds.emplace_back([this, request]() mutable {
        request.Cancelled = [this] {
            const auto since = FClosingSince.load();
            if (since == 0)
                return false;
            const auto closing =
                std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(since));
            return std::chrono::steady_clock::now() - closing > HoldGrace;
        };
        // The service's answer changes nothing here, and a failure is no
        // reason to bother the user.
        HttpRequest(request);
    });
}

TUpdateCheck* CheckUpdate(const QString& url, TUpdateProc proc, int layoutOffset,
                          QWidget* mainWindow, const TUpdateOptions& options)
{
    auto* check = new TUpdateCheck(url, std::move(proc), layoutOffset, mainWindow, options);
    check->Start();
    return check;
}

void ShowUpdateStatus(QWidget* mainWindow, const QString& address)
{
    if (!mainWindow)
        return;
    TUpdateStatusBar* bar = nullptr;
    for (QWidget* child : mainWindow->findChildren<QWidget*>(QStringLiteral("StatusBar"),
                                                             Qt::FindDirectChildrenOnly)) {
        if ((bar = dynamic_cast<TUpdateStatusBar*>(child)))
            break;
    }
    if (!bar) {
        bar = new TUpdateStatusBar(mainWindow);
        const QSize grown(mainWindow->width(), mainWindow->height() + StatusBarHeight);
        if (mainWindow->minimumSize() == mainWindow->maximumSize())
            mainWindow->setFixedSize(grown);
        else
            mainWindow->resize(grown);
        bar->Align();
        bar->show();
    }
    bar->SetText(UpdateText(utStatus));
    bar->setToolTip(address);
    bar->update();
}
